# systemd-analyze verify on an instance of the recording unit, with the unit's program replaced
# by the built qzcli and its manual reference left out (neither is installed in a build tree).
#   cmake -DANALYZE=... -DUNIT=...@.service -DQZCLI=... -DWORK=folder -P VerifyUnit.cmake
file(READ ${UNIT} text)
string(REPLACE "/usr/bin/qzcli" "${QZCLI}" text "${text}")
string(REGEX REPLACE "Documentation=[^\n]*\n" "" text "${text}")
get_filename_component(name ${UNIT} NAME)
string(REPLACE "@.service" "@2.service" instance ${name})
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/${instance} "${text}")
execute_process(COMMAND ${ANALYZE} verify ${WORK}/${instance} RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT rc EQUAL 0 OR out MATCHES "${instance}:")
  message(FATAL_ERROR "systemd-analyze verify ${instance} failed")
endif()
