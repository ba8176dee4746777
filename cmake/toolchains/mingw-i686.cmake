# 32-bit Windows through MinGW-w64: the launcher and its Win32 test helpers.
set(TARVIO_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
