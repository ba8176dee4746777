# Hands the versions of the top CMakeLists.txt to everything that carries them:
#   tarvio_version.h  the library's banner and SerGetLibVer (port_table.cpp), the launcher's
#                     version resource (Velmoor.rc) and its splash label's designed caption
#                     (LaunchForm.cpp; the label itself is read from the resource at run time);
#   Velmoor.manifest  the launcher's assembly version;
#   the SONAME (seriallib/CMakeLists.txt), the packages, the kit's name and guide
#   (Packaging.cmake, dist/), and the tests that check all of them against these numbers.
# Both go into <tree>/generated, an include folder of every target of the tree.

string(REGEX MATCH "^([0-9]+)\\.([0-9]+)$" _velmoor_version "${VELMOOR_VERSION}")
if(NOT _velmoor_version)
  message(FATAL_ERROR "VELMOOR_VERSION is '${VELMOOR_VERSION}': major.minor, in decimal")
endif()
set(VELMOOR_VERSION_MAJOR ${CMAKE_MATCH_1})
set(VELMOOR_VERSION_MINOR ${CMAKE_MATCH_2})
# The launcher's resource has always written its minor version in two digits: 4.1 is "4.01".
if(VELMOOR_VERSION_MINOR LESS 10)
  set(VELMOOR_VERSION_TEXT ${VELMOOR_VERSION_MAJOR}.0${VELMOOR_VERSION_MINOR})
else()
  set(VELMOOR_VERSION_TEXT ${VELMOOR_VERSION_MAJOR}.${VELMOOR_VERSION_MINOR})
endif()
set(VELMOOR_VERSION_QUAD ${VELMOOR_VERSION_MAJOR}.${VELMOOR_VERSION_MINOR}.0.0)
# SerGetLibVer packs major and minor into 16 bits each.
if(PROJECT_VERSION_MAJOR GREATER 65535 OR PROJECT_VERSION_MINOR GREATER 65535)
  message(FATAL_ERROR "The library's version ${PROJECT_VERSION} does not fit SerGetLibVer's 16-bit halves")
endif()

set(TARVIO_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvio_version.h.in ${TARVIO_GENERATED_DIR}/tarvio_version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/launcher/ui/Velmoor.manifest.in ${TARVIO_GENERATED_DIR}/Velmoor.manifest
  @ONLY)
include_directories(${TARVIO_GENERATED_DIR})
