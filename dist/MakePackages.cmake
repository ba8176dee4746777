# cmake -DOUT=<dir> -DTREES=<tree,tree...> -DKIT_TREE=<mingw tree> -DSIGNED=<dir> -P MakePackages.cmake
# Runs CPack in each library build tree and in the launcher's tree, and gathers the packages
# in OUT. The launcher kit is made only when the launcher's tree builds Velmoor.exe; it takes
# the launcher as the build signed it in SIGNED (dist/sign-launcher.sh).

file(MAKE_DIRECTORY ${OUT})

function(run_cpack tree)  # [cpack option...]
  file(REMOVE_RECURSE ${tree}/cpack)
  execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${tree}/CPackConfig.cmake ${ARGN}
    WORKING_DIRECTORY ${tree}
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "CPack failed in ${tree}:\n${output}")
  endif()
  file(GLOB made ${tree}/cpack/*.deb ${tree}/cpack/*.zip)
  foreach(package IN LISTS made)
    get_filename_component(name ${package} NAME)
    file(COPY_FILE ${package} ${OUT}/${name})
    message(STATUS "Package: ${OUT}/${name}")
  endforeach()
endfunction()

string(REPLACE "," ";" TREES "${TREES}")
foreach(tree IN LISTS TREES)
  run_cpack(${tree})
endforeach()

set(VELMOOR_KIT_READY FALSE)
include(${KIT_TREE}/VelmoorKit.cmake OPTIONAL)
if(VELMOOR_KIT_READY)
  # The guide says who signed the launcher; a test signature is in the kit's name too, so that
  # no test-signed kit passes for a release. Whoever installs reads the guide with Notepad: CRLF,
  # which configure_file gives the guide's own lines but not those of a value put into it.
  file(READ ${SIGNED}/signature.txt VELMOOR_SIGNATURE)
  string(STRIP "${VELMOOR_SIGNATURE}" VELMOOR_SIGNATURE)
  string(REPLACE "\n" "\r\n" VELMOOR_SIGNATURE "${VELMOOR_SIGNATURE}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/launcher/INSTALL.txt ${KIT_TREE}/kit/INSTALL.txt @ONLY NEWLINE_STYLE CRLF)
  file(COPY_FILE ${SIGNED}/Velmoor.exe ${KIT_TREE}/kit/Velmoor.exe)
  set(kit_name Velmoor-${VELMOOR_VERSION}-kit)
  if(EXISTS ${SIGNED}/test-signed)
    set(kit_name Velmoor-${VELMOOR_VERSION}-test-signed-kit)
  endif()
  file(GLOB earlier_kits ${OUT}/Velmoor-*.zip)
  if(earlier_kits)
    file(REMOVE ${earlier_kits})
  endif()
  run_cpack(${KIT_TREE} -D CPACK_PACKAGE_FILE_NAME=${kit_name})
  file(STRINGS ${SIGNED}/signed-by.txt signed_by)
  message(STATUS "The launcher in ${kit_name}.zip is signed with ${signed_by}")
else()
  message(STATUS "No launcher kit: the Windows tree ${KIT_TREE} does not build Velmoor.exe yet")
endif()
