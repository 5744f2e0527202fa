lumvane_fuzz(ble_advertisement_fuzz LABEL blec
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ble_advertisement_fuzz.cpp
  DEPS lumvane_blec lumvane_platform_ble nlohmann_json::nlohmann_json)
# The scan records come from Qt Bluetooth where the build has it.
if(TARGET ble_advertisement_fuzz AND TARGET lumvane_platform_ble_qt)
  target_link_libraries(ble_advertisement_fuzz PRIVATE lumvane_platform_ble_qt)
  target_compile_definitions(ble_advertisement_fuzz PRIVATE LUMVANE_HAVE_QT_BLE=1)
endif()
