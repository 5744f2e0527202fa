# Chunking throughput of the phone link against the radio's rate.
lumvane_bench(blec_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/blec_bench.cpp
  DEPS lumvane_blec)
