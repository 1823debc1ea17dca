if(TARGET qz_report)
  qz_add_fuzzer(fuzz_limits_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/LimitsFileFuzz.cpp
                LIBS qz_report)
endif()
