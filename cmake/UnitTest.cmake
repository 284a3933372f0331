# add_unit_test(<folder>/<name> SOURCES a_test.cpp ... [LIBS lib ...])
# Builds one GoogleTest executable and registers it with CTest under the readable
# name given, e.g. add_unit_test(lsq/normal_system_test SOURCES normal_system_test.cpp LIBS bravik_lsq).
# Tests run with the folder of their sources as working directory.
find_package(GTest REQUIRED)

function(add_unit_test test_name)
  cmake_parse_arguments(UT "" "" "SOURCES;LIBS" ${ARGN})
  string(REPLACE "/" "_" target "${test_name}")
  add_executable(${target} ${UT_SOURCES})
  target_link_libraries(${target} PRIVATE ${UT_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${test_name} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()
