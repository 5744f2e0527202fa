lumvane_fuzz(safari_url_fuzz LABEL safari
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/safari_url_fuzz.cpp
  DEPS lumvane_safari nlohmann_json::nlohmann_json)
