# libFuzzer targets. The main tree compiles with g++, which has no libFuzzer, so each target is
# compiled here with clang directly, under ASan and UBSan and with libstdc++'s checks of spans and
# containers (a read past a span that stays inside one buffer is no error to ASan). ctest runs
# each for a few seconds (label "fuzz") over a scratch corpus in the build tree, seeded from the
# one kept in the source tree; scripts/fuzz.sh runs them for as long as asked.
find_program(TARVIO_CLANGXX NAMES clang++-14 clang++)
if(NOT TARVIO_CLANGXX)
  message(WARNING "No clang++: the fuzz targets are not built")
endif()

# tarvio_add_fuzz_target(TEST name BINARY file CORPUS folder SOURCES ... [DEPENDS ...]
#                        [INCLUDES ...] [LIBRARIES ...]): builds the target into BINARY (the
# all target builds it) and registers the CTest test TEST that runs it.
function(tarvio_add_fuzz_target)
  cmake_parse_arguments(PARSE_ARGV 0 fuzz "" "TEST;BINARY;CORPUS" "SOURCES;DEPENDS;INCLUDES;LIBRARIES")
  if(NOT TARVIO_CLANGXX)
    return()
  endif()
  list(TRANSFORM fuzz_INCLUDES PREPEND -I)
  get_filename_component(_name ${fuzz_BINARY} NAME)
  # One object a source, so that a changed source is the only one compiled again (a mutation
  # run rebuilds the targets for each mutant of a file they take in).
  set(_objects)
  file(MAKE_DIRECTORY ${fuzz_BINARY}.objects)
  foreach(_source IN LISTS fuzz_SOURCES)
    get_filename_component(_stem ${_source} NAME_WE)
    set(_object ${fuzz_BINARY}.objects/${_stem}.o)
    add_custom_command(OUTPUT ${_object}
      COMMAND ${TARVIO_CLANGXX} -std=c++20 -g -O1 -D_GLIBCXX_ASSERTIONS -fsanitize=fuzzer-no-link,address,undefined
        -fno-sanitize-recover=all ${fuzz_INCLUDES} -MD -MF ${_object}.d -c ${_source} -o ${_object}
      DEPENDS ${_source} ${fuzz_DEPENDS} DEPFILE ${_object}.d
      COMMENT "Compiling ${_stem} for the fuzz target ${_name} with clang")
    list(APPEND _objects ${_object})
  endforeach()
  add_custom_command(OUTPUT ${fuzz_BINARY}
    COMMAND ${TARVIO_CLANGXX} -fsanitize=fuzzer,address,undefined ${_objects} ${fuzz_LIBRARIES} -o ${fuzz_BINARY}
    DEPENDS ${_objects}
    COMMENT "Linking the fuzz target ${_name} with clang")
  add_custom_target(${fuzz_TEST}.build ALL DEPENDS ${fuzz_BINARY})
  # The work corpus is the target's own, as targets may share their seeds.
  add_test(NAME ${fuzz_TEST}
    COMMAND ${PROJECT_SOURCE_DIR}/seriallib/tests/fuzz/run_fuzz.sh ${fuzz_BINARY}
      ${fuzz_CORPUS} ${CMAKE_CURRENT_BINARY_DIR}/corpus-${_name} 5)
  set_tests_properties(${fuzz_TEST} PROPERTIES LABELS "fuzz" TIMEOUT 120)
endfunction()
