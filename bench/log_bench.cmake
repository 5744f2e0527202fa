# Logging: the cost of a log call and file throughput, beside spdlog's rotating file
# logger as a yardstick (spdlog is used here only).
find_package(spdlog QUIET)
if(spdlog_FOUND)
  lumvane_bench(log_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_bench.cpp
    DEPS lumvane_log spdlog::spdlog)
  if(TARGET log_bench)
    target_compile_definitions(log_bench PRIVATE LUMVANE_BENCH_SPDLOG=1)
  endif()
else()
  lumvane_bench(log_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_bench.cpp DEPS lumvane_log)
endif()
