# 64-bit Windows through MinGW-w64: the same launcher sources and Win32 test helpers, for the
# 64-bit Wine loader on hosts that cannot run i386 code. The i686 build stays the deliverable.
set(TARVIO_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
