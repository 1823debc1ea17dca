if("protocol" IN_LIST QZ_COMPONENTS)
  qz_add_fuzzer(fuzz_protocol_answers SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_protocol_answers.cpp
                LIBS qz_protocol)
endif()
