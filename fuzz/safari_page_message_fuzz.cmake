lumvane_fuzz(safari_page_message_fuzz LABEL safari
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/safari_page_message_fuzz.cpp
  DEPS lumvane_safari)
