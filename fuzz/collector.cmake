if(TARGET qz_qzcli AND TARGET qz_collector)
  qz_add_fuzzer(fuzz_collect_config SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_collect_config.cpp
                LIBS qz_qzcli)
endif()
