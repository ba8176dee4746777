# cmake -DOUT=<dir> -DTREES=<tree,tree...> -DKIT_TREE=<mingw tree> -P MakePackages.cmake
# Runs CPack in each library build tree and in the launcher's tree, and gathers the packages
# in OUT. The launcher kit is made only when the launcher's tree builds Velmoor.exe.

file(MAKE_DIRECTORY ${OUT})

function(run_cpack tree)
  file(REMOVE_RECURSE ${tree}/cpack)
  execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${tree}/CPackConfig.cmake
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
  run_cpack(${KIT_TREE})
else()
  message(STATUS "No launcher kit: the Windows tree ${KIT_TREE} does not build Velmoor.exe yet")
endif()
