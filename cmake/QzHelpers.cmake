# The GoogleTest header, precompiled once for every test program of the build: parsing it was
# about a third of a test file's compile time. The compiler takes a precompiled header only
# when the code-generation options match, so every test is compiled position-independent as
# the Qt ones must be (a mismatch would only cost the time saved, not correctness).
function(qz_use_gtest_pch target)
  if(NOT TARGET qz_gtest_pch)
    file(WRITE ${CMAKE_BINARY_DIR}/qz_gtest_pch.cpp "int main() { return 0; }\n")
    add_executable(qz_gtest_pch ${CMAKE_BINARY_DIR}/qz_gtest_pch.cpp)
    target_link_libraries(qz_gtest_pch PRIVATE GTest::gtest Threads::Threads)
    target_compile_options(qz_gtest_pch PRIVATE -fPIC)
    target_precompile_headers(qz_gtest_pch PRIVATE <gtest/gtest.h>)
  endif()
  target_compile_options(${target} PRIVATE -fPIC)
  target_precompile_headers(${target} REUSE_FROM qz_gtest_pch)
endfunction()

# qz_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [SECONDS <n>])
# Builds one GoogleTest executable and registers it with CTest as one test. SECONDS, about
# how long a test that waits on real clocks runs, makes a parallel ctest start it before the
# short ones, which then fill the other slots beside it instead of leaving it to end alone.
function(qz_add_test name)
  cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  qz_use_gtest_pch(${name})
  # A test file is compiled on its own even in a unity build, so that whatever it fails to
  # include shows in every build (the libraries are compiled singly in the normal build). Its
  # share of the unity gain is small: the precompiled test header already saves most.
  set_target_properties(${name} PROPERTIES UNITY_BUILD OFF)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(ARG_SECONDS)
    set_tests_properties(${name} PROPERTIES COST ${ARG_SECONDS})
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

# qz_shots_program(<target>): a program that only draws pictures for a screenshot script; built
# by its script (cmake --build ... --target <target>), with the default target only when
# QZ_BUILD_SHOTS is on.
function(qz_shots_program target)
  if(NOT QZ_BUILD_SHOTS)
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
endfunction()
