# Deflates one file for the launcher's resources: the unpacked size (four bytes, little-endian),
# then a zlib stream, as the launcher's loadPackedBitmap reads it.
#   cmake -DIN=<file> -DOUT=<file> -P PackResource.cmake
execute_process(
  COMMAND python3 -c "import sys, zlib, struct; d = open(sys.argv[1], 'rb').read(); open(sys.argv[2], 'wb').write(struct.pack('<I', len(d)) + zlib.compress(d, 9))" "${IN}" "${OUT}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "could not pack ${IN}")
endif()
