# CPack post-build step for the DEB generator: adds the Multi-Arch field, which this CMake's
# CPack cannot write, to the control data of each finished package and rebuilds it with
# dpkg-deb. The files and their checksums stay as CPack made them.

if(NOT PELLUSK_DEB_MULTIARCH)
  return()
endif()
find_program(DPKG_DEB dpkg-deb REQUIRED)

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/multiarch-tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${DPKG_DEB} --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)

  file(READ ${tree}/DEBIAN/control control)
  if(NOT control MATCHES "(^|\n)Multi-Arch:")
    string(REGEX REPLACE "(^|\n)(Architecture: [^\n]*\n)" "\\1\\2Multi-Arch: ${PELLUSK_DEB_MULTIARCH}\n"
      control "${control}")
    if(NOT control MATCHES "(^|\n)Multi-Arch:")
      message(FATAL_ERROR "${package}: the control data has no Architecture field")
    endif()
    file(WRITE ${tree}/DEBIAN/control "${control}")
  endif()

  execute_process(COMMAND ${DPKG_DEB} --root-owner-group -Zxz --build ${tree} ${package}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
  message(STATUS "Multi-Arch: ${PELLUSK_DEB_MULTIARCH} added to ${package}")
endforeach()
