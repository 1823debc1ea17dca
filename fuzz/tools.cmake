if(TARGET qz_qzcli)
  qz_add_fuzzer(fuzz_cli_args SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_cli_args.cpp
                LIBS qz_qzcli qz_simulator)
endif()
