lumvane_fuzz(import_csv_fuzz LABEL core
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/import_csv_fuzz.cpp
  DEPS lumvane_core)
