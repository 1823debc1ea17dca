if("waveform" IN_LIST QZ_COMPONENTS AND TARGET qz_waveform)
  add_executable(bench_waveform ${CMAKE_CURRENT_LIST_DIR}/WaveformBench.cpp)
  target_link_libraries(bench_waveform PRIVATE qz_waveform benchmark::benchmark Threads::Threads)
endif()
