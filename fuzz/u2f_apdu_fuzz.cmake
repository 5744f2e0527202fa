lumvane_fuzz(u2f_apdu_fuzz LABEL u2f
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/u2f_apdu_fuzz.cpp
  DEPS lumvane_u2f)
