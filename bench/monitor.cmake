if("monitor" IN_LIST QZ_COMPONENTS AND QZ_WITH_GUI AND TARGET qz_monitor)
  add_executable(bench_monitor ${CMAKE_CURRENT_LIST_DIR}/MonitorBench.cpp)
  target_link_libraries(bench_monitor PRIVATE qz_monitor benchmark::benchmark Threads::Threads
                        Qt6::Widgets)
endif()
