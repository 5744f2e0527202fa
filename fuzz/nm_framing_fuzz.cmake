lumvane_fuzz(nm_framing_fuzz LABEL extension
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/nm_framing_fuzz.cpp
  DEPS lumvane_browser)
