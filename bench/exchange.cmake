if("exchange" IN_LIST QZ_COMPONENTS)
  add_executable(bench_decode ${CMAKE_CURRENT_LIST_DIR}/DecodeBench.cpp)
  target_link_libraries(bench_decode PRIVATE qz_exchange benchmark::benchmark Threads::Threads)
endif()
