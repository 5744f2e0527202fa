lumvane_fuzz(crypto_blob_fuzz LABEL crypto
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/crypto_blob_fuzz.cpp
  DEPS lumvane_crypto)
