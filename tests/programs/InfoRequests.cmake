# cmake -DPROGRAM=<file> -DNAME=<name> -DVERSION=<x.y.z> -P InfoRequests.cmake
# Runs the program with --version and --help with no display at all and checks what it says;
# the monitor without a display must say why it cannot start.
set(no_display ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
    --unset=QT_QPA_PLATFORM)

execute_process(COMMAND ${no_display} ${PROGRAM} --version
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME} --version ended with ${rc}: ${err}")
endif()
if(NOT out STREQUAL "${NAME} ${VERSION}\n")
  message(FATAL_ERROR "${NAME} --version printed \"${out}\", not \"${NAME} ${VERSION}\"")
endif()

execute_process(COMMAND ${no_display} ${PROGRAM} --help
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME} --help ended with ${rc}: ${err}")
endif()
string(FIND "${out}" "--version" at)
if(at LESS 0)
  message(FATAL_ERROR "${NAME} --help does not mention --version:\n${out}")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "${NAME} --help wrote to the error stream: ${err}")
endif()

# The monitor itself without a display: a text and a failure code, not the toolkit's abort.
if(NAME STREQUAL "qzmonitor")
  execute_process(COMMAND ${no_display} ${PROGRAM} --demo
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
  if(NOT rc EQUAL 1)
    message(FATAL_ERROR "qzmonitor without a display ended with ${rc}, not 1: ${err}")
  endif()
  string(FIND "${err}" "DISPLAY" at)
  string(FIND "${err}" "qzcli poll" hint)
  if(at LESS 0 OR hint LESS 0)
    message(FATAL_ERROR "qzmonitor without a display did not say why and what to use: ${err}")
  endif()
endif()
