if("channel" IN_LIST QZ_COMPONENTS)
  qz_add_fuzzer(fuzz_trace_format SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_trace_format.cpp
                LIBS qz_channel)
endif()
