# The JSON encoding of RPC messages beside Apache Thrift's TJSONProtocol.
lumvane_bench(json_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/json_bench.cpp
  DEPS lumvane_extension lumvane_protocol)
