# cmake -DPROGRAM=<file> -DNAME=<name> -DVERSION=<x.y.z> -P InfoRequests.cmake
# Runs the program with --version and --help with no display at all and checks what it says.
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
