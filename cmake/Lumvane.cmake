# Project-wide compile settings and the helpers every subsystem folder uses.

add_library(lumvane_options INTERFACE)
target_compile_options(lumvane_options INTERFACE -Wall -Wextra)
target_include_directories(lumvane_options INTERFACE
  ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated)

if(LUMVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(LUMVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(LUMVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "LUMVANE_FUZZ needs clang (libFuzzer)")
  endif()
  # Coverage instrumentation everywhere; only the fuzz programs link the fuzzer main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Test and fuzz programs carry their sanitizer options (suppressions included).
add_library(lumvane_test_support INTERFACE)
if(LUMVANE_SANITIZE)
  target_sources(lumvane_test_support INTERFACE ${PROJECT_SOURCE_DIR}/cmake/SanitizerDefaults.cpp)
  target_compile_definitions(lumvane_test_support INTERFACE
    LUMVANE_UBSAN_SUPPRESSIONS="${PROJECT_SOURCE_DIR}/scripts/ubsan.supp")
endif()

configure_file(${PROJECT_SOURCE_DIR}/cmake/Version.h.in ${PROJECT_BINARY_DIR}/generated/lumvane/Version.h @ONLY)

# lumvane_library(NAME SOURCES ... DEPS ...): a static library of one subsystem.
function(lumvane_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC lumvane_options ${ARG_DEPS})
endfunction()

# lumvane_test(NAME LABEL label SOURCES ... DEPS ...): a GoogleTest program whose
# cases are listed to ctest one by one, all carrying the subsystem's label.
function(lumvane_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE lumvane_options lumvane_test_support ${ARG_DEPS}
    GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    TEST_PREFIX "${ARG_LABEL}."
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# lumvane_fuzz(NAME LABEL label SOURCES ... DEPS ... [ARGS ...]): a libFuzzer target;
# ctest runs it for LUMVANE_FUZZ_SECONDS from the seeds in fuzz/corpus/NAME, with the
# extra libFuzzer flags ARGS (for instance a -malloc_limit_mb that makes an allocation
# sized by an announced count rather than by the input a finding).
function(lumvane_fuzz name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS;ARGS" ${ARGN})
  if(NOT LUMVANE_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE lumvane_options lumvane_test_support ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${PROJECT_BINARY_DIR}/fuzz-corpus/${name})
  set(seeds ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  file(MAKE_DIRECTORY ${work} ${seeds})
  add_test(NAME fuzz.${name}
    COMMAND ${name} -max_total_time=${LUMVANE_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=4096
            -print_final_stats=1 ${ARG_ARGS} ${work} ${seeds})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS "${ARG_LABEL};fuzz"
    TIMEOUT 600)
endfunction()

# lumvane_bench(NAME SOURCES ... DEPS ...): a Google Benchmark program (Release builds).
function(lumvane_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT LUMVANE_BENCH)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE lumvane_options ${ARG_DEPS} benchmark::benchmark)
endfunction()
