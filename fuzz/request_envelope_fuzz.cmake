lumvane_fuzz(request_envelope_fuzz LABEL extension
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/request_envelope_fuzz.cpp
  DEPS lumvane_extension lumvane_extension_wiretest OpenSSL::Crypto)
