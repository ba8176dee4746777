# Packaging of all three builds, and the tests of what they ship (label "dist"). Included at
# the end of the x86_64 tree's top directory, once every target it names exists.

set(PELLUSK_PACKAGES ${CMAKE_BINARY_DIR}/packages)
foreach(name PELLUSK_CLASSES PELLUSK_JAVA_x86_64 PELLUSK_JAVA_i386 PELLUSK_LIBDIR_i386)
  get_directory_property(${name} DIRECTORY ${CMAKE_SOURCE_DIR}/seriallib/tests DEFINITION ${name})
endforeach()
set(_make_packages ${CMAKE_COMMAND}
  -DOUT=${PELLUSK_PACKAGES}
  -DTREES=${CMAKE_BINARY_DIR},${PELLUSK_I386_BUILD}
  -DKIT_TREE=${VELMOOR_WINDOWS_BUILD}
  -DSIGNED=${VELMOOR_SIGNED}
  -P ${CMAKE_CURRENT_LIST_DIR}/MakePackages.cmake)

# Every build signs the i686 launcher anew, with whatever certificate the environment names at
# that moment, and says which; the x86_64 build is a test vehicle and stays unsigned.
add_custom_target(velmoor_signed ALL
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/sign-launcher.sh ${VELMOOR_WINDOWS_BUILD}/launcher/Velmoor.exe ${VELMOOR_SIGNED}
  VERBATIM)
add_dependencies(velmoor_signed velmoor_windows)

add_custom_target(packages
  COMMAND ${_make_packages}
  DEPENDS Pellusk pellusk_deb_docs pellusk_i386 velmoor_signed
  COMMENT "Making the Debian packages and the launcher kit in ${PELLUSK_PACKAGES}"
  USES_TERMINAL VERBATIM)

# --- Tests -------------------------------------------------------------------------------------
set(_deb_amd64 ${PELLUSK_PACKAGES}/libpellusk-jni_${PROJECT_VERSION}_amd64.deb)
set(_deb_i386 ${PELLUSK_PACKAGES}/libpellusk-jni_${PROJECT_VERSION}_i386.deb)

add_test(NAME dist.packages COMMAND ${_make_packages})
set_tests_properties(dist.packages PROPERTIES LABELS dist FIXTURES_SETUP dist_packages)

add_test(NAME dist.deb.contents
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/tests/check_debs.sh ${PROJECT_VERSION} ${_deb_amd64} ${_deb_i386})

add_test(NAME dist.deb.lintian
  COMMAND lintian --fail-on error,warning --display-info --info ${_deb_amd64} ${_deb_i386})

# A small Java program that loads the library from wherever the JVM finds it by itself.
set(_probe_classes ${CMAKE_BINARY_DIR}/dist/classes)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dist/probe.stamp
  COMMAND ${PELLUSK_JAVA_HOME}/bin/javac --release 17 -Xlint:all -Werror
    -cp ${PELLUSK_CLASSES} -d ${_probe_classes} ${CMAKE_CURRENT_LIST_DIR}/tests/InstalledLibraryProbe.java
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/dist/probe.stamp
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tests/InstalledLibraryProbe.java pellusk_java_classes
    ${PROJECT_BINARY_DIR}/seriallib/tests/classes.stamp
  COMMENT "Compiling the installed-library probe")
add_custom_target(dist_probe ALL DEPENDS ${CMAKE_BINARY_DIR}/dist/probe.stamp)

# Where the host cannot run i386 code, the i386 package is loaded by the JVM in the i386 guest.
if(TARVIO_I386_NATIVE)
  set(_java_i386 ${PELLUSK_JAVA_i386})
else()
  set(_java_i386 guest)
endif()
add_test(NAME dist.deb.install_and_load
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/tests/install_and_load.sh
    ${CMAKE_BINARY_DIR}/dist/root ${_deb_amd64} ${_deb_i386}
    "${_probe_classes}:${PELLUSK_CLASSES}" ${PELLUSK_JAVA_x86_64} ${_java_i386})

set_tests_properties(dist.deb.contents dist.deb.lintian dist.deb.install_and_load PROPERTIES
  LABELS dist FIXTURES_REQUIRED dist_packages)
if(NOT TARVIO_I386_NATIVE)
  set_tests_properties(dist.deb.install_and_load PROPERTIES
    FIXTURES_REQUIRED "dist_packages;qemu_rig"
    ENVIRONMENT "PELLUSK_GUEST_RUNNER=${CMAKE_SOURCE_DIR}/seriallib/tests/qemu/run_guest.sh;PELLUSK_QEMU_RIG=${PELLUSK_QEMU_RIG};PELLUSK_GUEST_LIBDIR=${PELLUSK_LIBDIR_i386};PELLUSK_GUEST_CLASSES=${PELLUSK_CLASSES}")
endif()

# The launcher kit.
add_test(NAME dist.kit
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/tests/check_kit.sh ${PELLUSK_PACKAGES} ${VELMOOR_SIGNED} ${VELMOOR_VERSION})
set_tests_properties(dist.kit PROPERTIES LABELS dist FIXTURES_REQUIRED dist_packages)

# The launcher signed from a PKCS#11 token (SoftHSM2) with a time stamp of a local server.
add_test(NAME dist.sign.token
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/tests/sign_from_token.sh ${VELMOOR_WINDOWS_BUILD}/launcher/Velmoor.exe
    ${CMAKE_BINARY_DIR}/dist/token ${VELMOOR_VERSION})
set_tests_properties(dist.sign.token PROPERTIES LABELS dist TIMEOUT 300)

# The versions of the top CMakeLists.txt in every copy, and other versions written there alone in
# every artefact of a scratch build.
add_test(NAME dist.version
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/tests/version_flows.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/dist/version
    ${PROJECT_VERSION} ${VELMOOR_VERSION})
set_tests_properties(dist.version PROPERTIES LABELS dist TIMEOUT 1200)
