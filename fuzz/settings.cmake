if("settings" IN_LIST QZ_COMPONENTS)
  qz_add_fuzzer(fuzz_ini SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_ini.cpp LIBS qz_settings)
endif()
