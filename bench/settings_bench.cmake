lumvane_bench(settings_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp
  DEPS lumvane_settings)
