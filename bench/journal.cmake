if(TARGET qz_journal AND TARGET qz_qzcli)
  add_executable(bench_journal ${CMAKE_CURRENT_LIST_DIR}/JournalBench.cpp)
  target_link_libraries(bench_journal PRIVATE qz_qzcli qz_journal benchmark::benchmark
                        Threads::Threads)
  if(TARGET qz_trends_journal)
    target_link_libraries(bench_journal PRIVATE qz_trends_journal)
    target_compile_definitions(bench_journal PRIVATE QZ_BENCH_TRENDS)
  endif()
endif()
