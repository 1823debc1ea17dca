# The collector with many meters, a real broker and a subscriber (a plain program, not a
# Google benchmark): CPU, peak memory, cadence, delivery latency and the backlog's drain.
#   build/bench/bench_collector [--meters 32] [--seconds 600] [--outage 300]
if(TARGET qz_collector AND TARGET qzcli AND TARGET qzsim AND QZ_BUILD_TESTS)
  find_program(QZ_MOSQUITTO_BROKER mosquitto PATHS /usr/sbin /usr/local/sbin)
  if(QZ_MOSQUITTO_BROKER)
    add_executable(bench_collector CollectorBench.cpp)
    target_link_libraries(bench_collector PRIVATE qz_collector qz_journal qz_testsupport)
    target_compile_definitions(bench_collector PRIVATE QZ_QZCLI_PATH="$<TARGET_FILE:qzcli>"
                               QZ_QZSIM_PATH="$<TARGET_FILE:qzsim>"
                               QZ_MOSQUITTO_PATH="${QZ_MOSQUITTO_BROKER}")
    add_dependencies(bench_collector qzcli qzsim)
  endif()
endif()
