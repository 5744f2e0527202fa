# The whole road for getLoginData: HTTP client -> the service's server -> extension handlers
# -> remote phone service -> phone link on the simulated radio -> in-process simulated phone.
# The simulated phone is built with the tests only. Beside it, plain Beast servers serve as
# the baselines that the goals are ratios to (BaselineServer.h).
if(TARGET lumvane_phonesim)
  lumvane_bench(road_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/road_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/BaselineServer.cpp
    DEPS lumvane_core lumvane_ext_handlers lumvane_extlog lumvane_browser lumvane_phonesim
         lumvane_platform_ble lumvane_httplib Boost::headers nlohmann_json::nlohmann_json)
  if(TARGET road_bench)
    target_compile_definitions(road_bench PRIVATE
      ROAD_BENCH_VAULT="${PROJECT_SOURCE_DIR}/tests/phone-sim/fixtures/vault.json")
  endif()
endif()
