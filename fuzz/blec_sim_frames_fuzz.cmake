lumvane_fuzz(blec_sim_frames_fuzz LABEL blec
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/blec_sim_frames_fuzz.cpp
  DEPS lumvane_platform_ble)
