lumvane_fuzz(import_json_fuzz LABEL core
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/import_json_fuzz.cpp
  DEPS lumvane_core)
