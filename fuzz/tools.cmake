if("tools" IN_LIST QZ_COMPONENTS AND TARGET qz_qzsim)
  qz_add_fuzzer(fuzz_qzsim_requests SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_qzsim_requests.cpp
                LIBS qz_qzsim)
endif()
