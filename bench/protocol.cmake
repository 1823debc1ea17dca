if("protocol" IN_LIST QZ_COMPONENTS AND TARGET qz_simulator)
  add_executable(bench_protocol_cycle ${CMAKE_CURRENT_LIST_DIR}/ProtocolCycleBench.cpp)
  target_link_libraries(bench_protocol_cycle PRIVATE qz_simulator qz_protocol qz_channel
                        benchmark::benchmark Threads::Threads)
endif()
