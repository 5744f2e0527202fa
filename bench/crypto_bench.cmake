lumvane_bench(crypto_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/crypto_bench.cpp
  DEPS lumvane_crypto)
