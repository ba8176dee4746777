# What each build tree ships, made by CPack from that tree's install() rules:
#   linux-x86_64  libpellusk-jni_<version>_amd64.deb
#   linux-i386    libpellusk-jni_<version>_i386.deb
#   mingw-i686    Velmoor-<launcher version>-kit.zip, the signed launcher and its install guide
#                 (Velmoor-<launcher version>-test-signed-kit.zip when a test certificate signed it)
# `cmake --build --preset linux-x86_64 --target packages` makes all three (scripts/package.sh).

set(TARVIO_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)

set(CPACK_PACKAGE_VENDOR "Ostrel RFID")
set(CPACK_PACKAGE_CONTACT "Ostrel RFID Tarvio team <tarvio@ostrel-rfid.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackRuntime.cmake)

if(WIN32)
  # --- The launcher's install kit --------------------------------------------------------------
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Velmoor)
  set(CPACK_PACKAGE_FILE_NAME Velmoor-${VELMOOR_VERSION}-kit)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};kit;/")
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "")

  # The launcher's target is defined later in launcher/; decide once the whole tree is read.
  # The kit's files are not this tree's own: MakePackages.cmake puts the signed launcher and the
  # guide, which says who signed it, into kit/ before it runs CPack here.
  function(_velmoor_kit_contents)
    if(TARGET Velmoor)
      install(PROGRAMS ${CMAKE_BINARY_DIR}/kit/Velmoor.exe DESTINATION . COMPONENT kit)
      install(FILES ${CMAKE_BINARY_DIR}/kit/INSTALL.txt DESTINATION . COMPONENT kit)
      set(ready TRUE)
    else()
      install(CODE "message(FATAL_ERROR \"The launcher kit needs Velmoor.exe, and this source tree does not build it yet (launcher/ defines no Velmoor target).\")"
        COMPONENT kit)
      set(ready FALSE)
    endif()
    # Read by the packages target of the x86_64 tree.
    file(WRITE ${CMAKE_BINARY_DIR}/VelmoorKit.cmake
      "set(VELMOOR_KIT_READY ${ready})\nset(VELMOOR_VERSION ${VELMOOR_VERSION})\n")
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _velmoor_kit_contents)

  include(CPack)
  return()
endif()

# --- The library as a Debian package, one per architecture -------------------------------------
# Debian's JVMs look in /usr/lib/<multiarch triplet>/jni by default, so System.loadLibrary
# ("Pellusk") finds the library there without any -Djava.library.path.
if(PELLUSK_ARCH STREQUAL "x86_64")
  set(PELLUSK_DEB_ARCH amd64)
elseif(PELLUSK_ARCH STREQUAL "i386")
  set(PELLUSK_DEB_ARCH i386)
else()
  message(FATAL_ERROR "No Debian architecture for ${PELLUSK_ARCH}")
endif()
if(NOT CMAKE_LIBRARY_ARCHITECTURE)
  message(FATAL_ERROR "The compiler reports no multiarch triplet; the package cannot place the library")
endif()
set(PELLUSK_JNI_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/jni)
set(PELLUSK_DEB_NAME libpellusk-jni)
set(PELLUSK_DEB_DOC_DIR share/doc/${PELLUSK_DEB_NAME})

# lintian (Debian 12) reports no tag for either package, also with --pedantic --display-info:
# the library is stripped (CPACK_STRIP_FILES), built with _FORTIFY_SOURCE and without a .comment
# section (seriallib/CMakeLists.txt), installed 0644, and the package carries copyright and
# changelog.gz. So there is no overrides file; the dist.deb.lintian test keeps it that way.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PELLUSK_DEB_NAME})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The library alone: test kits and launcher parts of this tree have no place in the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};library;/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME ${PELLUSK_DEB_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PELLUSK_DEB_ARCH})
# Debian files JNI libraries under java; the package sits in the optional set like any add-on.
set(CPACK_DEBIAN_PACKAGE_SECTION java)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "serial port support for the Tarvio Java application (JNI)
libPellusk is the native half of the Java class Quorvia.SerialPortLocal: it
opens serial devices, sets bit rate, character format, parity and flow
control, moves bytes with per-port receive timeouts, drives and reads the
modem lines, and reports PCMCIA card power, SIGCONT and APM status.
.
The library is installed into the JVM's default library folder, so
System.loadLibrary finds it by the name Pellusk without -Djava.library.path.")
# Depends comes from the binary itself: libc6 is all it links against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# No shlibs or symbols file and no ldconfig trigger: nothing links against a JNI library, and
# its folder is not on the dynamic linker's path.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The amd64 and i386 packages install side by side. CPack of this CMake version writes no
# Multi-Arch field, so DebMultiArch.cmake adds it to the finished package.
set(PELLUSK_DEB_MULTIARCH same)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebMultiArch.cmake)

# dpkg-shlibdeps picks the libc6 of the library's own architecture: with the host's
# architecture it could settle on the biarch libc6-i386 in /lib32 for the 32-bit library.
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
  "set(ENV{DEB_HOST_ARCH} ${PELLUSK_DEB_ARCH})\n"
  "set(PELLUSK_DEB_MULTIARCH ${PELLUSK_DEB_MULTIARCH})\n")

# The documents every Debian package carries. They are the same bytes in both architectures'
# packages, which Multi-Arch: same requires (gzip -n keeps the time stamp out).
set(_changelog ${CMAKE_BINARY_DIR}/dist/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND gzip -9nc ${TARVIO_DIST_DIR}/debian/changelog > ${_changelog}
  DEPENDS ${TARVIO_DIST_DIR}/debian/changelog
  COMMENT "Compressing the package changelog")
add_custom_target(pellusk_deb_docs ALL DEPENDS ${_changelog})
install(FILES ${TARVIO_DIST_DIR}/debian/copyright ${_changelog}
  DESTINATION ${PELLUSK_DEB_DOC_DIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  COMPONENT library)

include(CPack)

if(PELLUSK_ARCH STREQUAL "x86_64")
  # Where every build signs the i686 launcher (dist/sign-launcher.sh), for the kit, the demonstration
  # and the tests.
  set(VELMOOR_SIGNED ${CMAKE_BINARY_DIR}/signing)
  # The packages of all three trees, after everything is built, and their tests.
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${TARVIO_DIST_DIR}/dist.cmake)
endif()
