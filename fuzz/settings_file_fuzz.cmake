# A file of at most a few kilobytes never needs 16 MiB at once: a bigger allocation was
# sized by a count the file announced.
lumvane_fuzz(settings_file_fuzz LABEL settings
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_file_fuzz.cpp
  DEPS lumvane_app lumvane_settings lumvane_crypto
  ARGS -malloc_limit_mb=16)
