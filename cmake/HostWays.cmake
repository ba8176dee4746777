# Which way the i386 deliverables are tested on this host.
#   native   the host runs i386 code: the 32-bit JVM and wine32 run here, on the i686 launcher;
#   no-i386  it does not (32-bit emulation off in the kernel): the i386 library is tested in the
#            i386 QEMU guest, and the launcher's x86_64 build runs under the 64-bit Wine loader.
# One probe decides: a tiny static i386 program is built and run. TARVIO_NO_I386 (this cache
# variable, or the environment variable of the same name set to 1) forces the no-i386 way on
# any host, so that it can be developed and tested everywhere.
option(TARVIO_NO_I386 "Test the i386 deliverables as on a host that cannot run i386 code" OFF)

set(_probe ${CMAKE_BINARY_DIR}/host-probe/i386_exit)
if(TARVIO_NO_I386 OR "$ENV{TARVIO_NO_I386}" STREQUAL "1")
  set(TARVIO_I386_NATIVE OFF)
  set(TARVIO_WAY_REASON "forced by TARVIO_NO_I386")
else()
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/host-probe)
  execute_process(
    COMMAND ${CMAKE_C_COMPILER} -m32 -static -nostdlib -ffreestanding -fno-pie -no-pie -O1
      -o ${_probe} ${CMAKE_CURRENT_LIST_DIR}/probe/i386_exit.c
    RESULT_VARIABLE _built ERROR_VARIABLE _build_error)
  if(NOT _built EQUAL 0)
    message(FATAL_ERROR "Cannot build the i386 probe: ${_build_error}")
  endif()
  execute_process(COMMAND ${_probe} RESULT_VARIABLE _ran ERROR_VARIABLE _run_error)
  if(_ran STREQUAL "0")
    set(TARVIO_I386_NATIVE ON)
    set(TARVIO_WAY_REASON "a static i386 program runs on this host")
  else()
    set(TARVIO_I386_NATIVE OFF)
    string(STRIP "${_ran} ${_run_error}" _why)
    set(TARVIO_WAY_REASON "a static i386 program does not run on this host (${_why})")
  endif()
endif()

if(TARVIO_I386_NATIVE)
  set(TARVIO_WAY native)
else()
  set(TARVIO_WAY no-i386)
endif()
message(STATUS "Test way: ${TARVIO_WAY}: ${TARVIO_WAY_REASON}")
# The demonstration and the test script read the decision from here.
file(WRITE ${CMAKE_BINARY_DIR}/host-way.txt "${TARVIO_WAY}: ${TARVIO_WAY_REASON}\n")
