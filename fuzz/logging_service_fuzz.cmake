lumvane_fuzz(logging_service_fuzz LABEL runtime
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logging_service_fuzz.cpp
  DEPS lumvane_extlog lumvane_protocol)
