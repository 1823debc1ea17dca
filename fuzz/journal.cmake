if(TARGET qz_journal)
  qz_add_fuzzer(fuzz_journal_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/JournalReaderFuzz.cpp
                LIBS qz_journal)
endif()
