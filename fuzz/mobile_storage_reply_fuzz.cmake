lumvane_fuzz(mobile_storage_reply_fuzz LABEL protocol
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mobile_storage_reply_fuzz.cpp
  DEPS lumvane_services)
