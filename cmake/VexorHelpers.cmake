# vexor_add_test(<name> SOURCES <files...> LIBS <targets...> [GUI] [LABELS <labels...>])
# One GoogleTest executable, registered test by test with ctest.
# GUI tests run on Qt's offscreen platform.
function(vexor_add_test name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vexor_settings ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    VEXOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VEXOR_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # gtest_discover_tests writes PROPERTIES into a generated script where a list
  # would be split apart, so each property here holds a single value: the
  # source and build folders reach the tests as compile definitions instead.
  if(T_GUI)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    set(props ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS gui TIMEOUT 120)
  elseif(T_LABELS)
    list(GET T_LABELS 0 label)
    set(props LABELS ${label} TIMEOUT 120)
  else()
    set(props TIMEOUT 120)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# vexor_add_fuzzer(<name> SOURCE <file> LIBS <targets...>)
# The target file defines LLVMFuzzerTestOneInput. Always builds replay_<name>,
# which feeds every file of tests/fuzz/corpus/<name>/ through it as a ctest test;
# with VEXOR_FUZZ (clang) it also builds the libFuzzer binary fuzz_<name>.
function(vexor_add_fuzzer name)
  cmake_parse_arguments(F "" "SOURCE" "LIBS" ${ARGN})
  add_executable(replay_${name} ${F_SOURCE} ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
  target_link_libraries(replay_${name} PRIVATE vexor_settings ${F_LIBS} Threads::Threads)
  add_test(NAME fuzz_corpus.${name}
    COMMAND replay_${name} ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  set_tests_properties(fuzz_corpus.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
  if(VEXOR_FUZZ)
    add_executable(fuzz_${name} ${F_SOURCE})
    target_link_libraries(fuzz_${name} PRIVATE vexor_settings ${F_LIBS} Threads::Threads)
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()
