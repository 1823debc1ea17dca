if("connection" IN_LIST QZ_COMPONENTS)
  qz_add_fuzzer(fuzz_connection_binary SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_connection_binary.cpp
                LIBS qz_connection)
  qz_add_fuzzer(fuzz_connection_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_connection_text.cpp
                LIBS qz_connection)
endif()
