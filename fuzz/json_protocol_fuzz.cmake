lumvane_fuzz(json_protocol_fuzz LABEL extension
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/json_protocol_fuzz.cpp
  DEPS lumvane_extension lumvane_extension_wiretest)
