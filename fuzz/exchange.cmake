if("exchange" IN_LIST QZ_COMPONENTS)
  qz_add_fuzzer(fuzz_exchange_decode SOURCES ExchangeDecodeFuzz.cpp LIBS qz_exchange)
endif()
