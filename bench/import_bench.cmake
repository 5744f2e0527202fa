lumvane_bench(import_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/import_bench.cpp
  DEPS lumvane_core)
