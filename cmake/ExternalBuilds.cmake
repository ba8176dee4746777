# The i386 library and the Windows launcher (i686, and x86_64 for 64-bit Wine) are built in their own trees with their own
# toolchain files, driven from the x86_64 build so that one build command makes everything.
include(ExternalProject)

set(PELLUSK_I386_BUILD "${CMAKE_SOURCE_DIR}/build/linux-i386" CACHE PATH "Build tree of the i386 library")
set(VELMOOR_WINDOWS_BUILD "${CMAKE_SOURCE_DIR}/build/mingw-i686" CACHE PATH "Build tree of the Windows launcher")
set(VELMOOR_WINDOWS64_BUILD "${CMAKE_SOURCE_DIR}/build/mingw-x86_64" CACHE PATH
    "Build tree of the launcher's x86_64 build, run under the 64-bit Wine loader")

function(tarvio_external_build name toolchain binary_dir build_type)
  ExternalProject_Add(${name}
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${binary_dir}"
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/${toolchain}.cmake
      -DCMAKE_BUILD_TYPE=${build_type}
      "-DTARVIO_WARNINGS_NOT_ERRORS=${TARVIO_WARNINGS_NOT_ERRORS}"
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
endfunction()

tarvio_external_build(pellusk_i386 linux-i386 "${PELLUSK_I386_BUILD}" RelWithDebInfo)
tarvio_external_build(velmoor_windows mingw-i686 "${VELMOOR_WINDOWS_BUILD}" MinSizeRel)
# Built on every host: where i386 code cannot run the Wine scenarios use it, elsewhere a smoke run
# keeps it from rotting.
tarvio_external_build(velmoor_windows64 mingw-x86_64 "${VELMOOR_WINDOWS64_BUILD}" MinSizeRel)
