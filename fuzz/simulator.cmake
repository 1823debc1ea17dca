if(TARGET qz_simulator)
  qz_add_fuzzer(fuzz_qzsim_requests SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_qzsim_requests.cpp
                LIBS qz_simulator)
endif()
