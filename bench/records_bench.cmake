if(NOT TARGET lumvane_bench_stock)
  lumvane_thrift_stock(lumvane_bench_stock NAMESPACE lumvane_stock
    IDL ${PROJECT_SOURCE_DIR}/idl/structures.thrift ${PROJECT_SOURCE_DIR}/idl/protocols.thrift)
endif()
lumvane_bench(records_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/records_bench.cpp
  DEPS lumvane_protocol lumvane_bench_stock)
