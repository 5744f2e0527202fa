# The JSON encoding of RPC messages beside Apache Thrift's TJSONProtocol.
lumvane_bench(json_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/json_bench.cpp
  DEPS lumvane_extension lumvane_protocol)

# A server with a fake handler for load tests with wrk (see the source).
lumvane_bench(extension_wrk_server SOURCES ${CMAKE_CURRENT_LIST_DIR}/extension_wrk_server.cpp
  DEPS lumvane_extension lumvane_protocol)
