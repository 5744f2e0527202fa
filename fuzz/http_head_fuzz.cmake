lumvane_fuzz(http_head_fuzz LABEL extension
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_head_fuzz.cpp
  DEPS lumvane_extension Boost::headers
  ARGS -malloc_limit_mb=16)
