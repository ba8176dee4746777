# The i386 library and the Windows launcher are built in their own trees with their own
# toolchain files, driven from the x86_64 build so that one build command makes everything.
include(ExternalProject)

set(PELLUSK_I386_BUILD "${CMAKE_SOURCE_DIR}/build/linux-i386" CACHE PATH "Build tree of the i386 library")
set(VELMOOR_WINDOWS_BUILD "${CMAKE_SOURCE_DIR}/build/mingw-i686" CACHE PATH "Build tree of the Windows launcher")

function(tarvio_external_build name toolchain binary_dir build_type)
  ExternalProject_Add(${name}
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${binary_dir}"
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/${toolchain}.cmake
      -DCMAKE_BUILD_TYPE=${build_type}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
endfunction()

tarvio_external_build(pellusk_i386 linux-i386 "${PELLUSK_I386_BUILD}" RelWithDebInfo)
tarvio_external_build(velmoor_windows mingw-i686 "${VELMOOR_WINDOWS_BUILD}" MinSizeRel)
