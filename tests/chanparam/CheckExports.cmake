# Checks that the library's dynamic symbol table defines exactly the exported functions.
# Usage: cmake -DNM=<nm> -DLIBRARY=<libchanparam.so> -P CheckExports.cmake
set(expected AddChanel AddParam CreateDeviceParamArray CreateParamArray DeleteChanelArray
    DeleteParamArray FindChanel FindParam GetParamValue SetParamComment SetParamValue)

if(NOT NM OR NOT EXISTS "${LIBRARY}")
  message(FATAL_ERROR "need NM and an existing LIBRARY (got '${NM}', '${LIBRARY}')")
endif()
execute_process(COMMAND ${NM} -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed (${rc}): ${err}")
endif()

string(REPLACE "\n" ";" lines "${out}")
set(found "")
foreach(line IN LISTS lines)
  # "<address> <kind> <name>[@version]"; the address may be missing for absolute symbols.
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ @]+)")
    list(APPEND found "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT found)
list(REMOVE_DUPLICATES found)

set(missing ${expected})
list(REMOVE_ITEM missing ${found})
set(extra ${found})
list(REMOVE_ITEM extra ${expected})
if(missing OR extra)
  message(FATAL_ERROR "exports differ: missing [${missing}] unexpected [${extra}]")
endif()
list(LENGTH found count)
message(STATUS "exactly ${count} exports: ${found}")
