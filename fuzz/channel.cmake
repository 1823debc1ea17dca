if("channel" IN_LIST QZ_COMPONENTS)
  qz_add_fuzzer(fuzz_pca_params SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_pca_params.cpp
                LIBS qz_channel)
endif()
