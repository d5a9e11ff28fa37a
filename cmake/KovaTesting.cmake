# kova_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
# A GoogleTest executable whose tests are listed at ctest time (not at build time,
# so parallel builds stay fast and sanitizer builds do not run binaries early).
# LABELS defaults to the name of the calling folder, so `ctest -L pull` runs tests/pull.
function(kova_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_LABELS)
    get_filename_component(T_LABELS ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# kova_add_fuzz(<name> SOURCES <files...> LIBS <targets...>)
# A libFuzzer target (the sources define LLVMFuzzerTestOneInput). Does nothing unless
# KOVA_FUZZ is on. Its seed and regression inputs live in tests/fuzz/corpus/<name>/.
# Each target is a dependency of `kova_fuzz_targets` and gets a line
# "<name>\t<binary>\t<corpus dir>" in <build>/fuzz-targets/<name>.txt, which is how
# scripts/run-fuzz.sh finds what to run.
if(KOVA_FUZZ)
  add_custom_target(kova_fuzz_targets)
endif()
function(kova_add_fuzz name)
  if(NOT KOVA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(kova_fuzz_targets ${name})
  set_property(GLOBAL APPEND PROPERTY KOVA_FUZZ_TARGETS ${name})
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz-targets/${name}.txt
       CONTENT "${name}\t$<TARGET_FILE:${name}>\t${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name}\n")
endfunction()
