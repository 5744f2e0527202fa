lumvane_fuzz(file_keychain_fuzz LABEL crypto
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_keychain_fuzz.cpp
  DEPS lumvane_platform_keychain lumvane_log)
