lumvane_fuzz(safari_config_fuzz LABEL safari
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/safari_config_fuzz.cpp
  DEPS lumvane_safari lumvane_crypto
  ARGS -malloc_limit_mb=16)
