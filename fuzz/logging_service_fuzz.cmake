# The JSON encoding with the limits the servers use; a body of a few kilobytes never
# needs 16 MiB at once.
lumvane_fuzz(logging_service_fuzz LABEL runtime
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logging_service_fuzz.cpp
  DEPS lumvane_extlog lumvane_extension lumvane_protocol
  ARGS -malloc_limit_mb=16)
