lumvane_fuzz(blec_reassembly_fuzz LABEL blec
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/blec_reassembly_fuzz.cpp
  DEPS lumvane_blec)
