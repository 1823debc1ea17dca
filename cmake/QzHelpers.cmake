# qz_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# Builds one GoogleTest executable and registers it with CTest as one test.
function(qz_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# qz_require_components(<folder> <needed>...): stops the configuration when a folder whose
# libraries <folder> links is left out of QZ_COMPONENTS. A folder asks the list, never the
# targets defined so far, what else is built, so the order in which the folders are added
# does not matter: a library may link one that a later folder defines.
function(qz_require_components folder)
  foreach(needed IN LISTS ARGN)
    if(NOT needed IN_LIST QZ_COMPONENTS)
      message(FATAL_ERROR "${folder} needs ${needed} in QZ_COMPONENTS")
    endif()
  endforeach()
endfunction()
