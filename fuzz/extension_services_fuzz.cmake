# The JSON encoding with the limits the servers use; a body of a few kilobytes never
# needs 16 MiB at once.
lumvane_fuzz(extension_services_fuzz LABEL extension
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/extension_services_fuzz.cpp
  DEPS lumvane_ext_handlers lumvane_extension lumvane_settings nlohmann_json::nlohmann_json
  ARGS -malloc_limit_mb=16)
