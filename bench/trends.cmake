if("trends" IN_LIST QZ_COMPONENTS AND TARGET qz_trends_view)
  add_executable(bench_trends ${CMAKE_CURRENT_LIST_DIR}/TrendsBench.cpp)
  target_link_libraries(bench_trends PRIVATE qz_trends_view benchmark::benchmark Threads::Threads)
endif()
