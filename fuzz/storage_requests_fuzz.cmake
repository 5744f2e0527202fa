lumvane_fuzz(storage_requests_fuzz LABEL protocol
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/storage_requests_fuzz.cpp
  DEPS lumvane_protocol
  ARGS -malloc_limit_mb=16)
