lumvane_fuzz(site_domain_fuzz LABEL protocol
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/site_domain_fuzz.cpp
  DEPS lumvane_site)
