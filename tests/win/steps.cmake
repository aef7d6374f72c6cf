# Tests of the install steps, run under Wine: the steps against real files,
# registry keys, shell links and processes of the prefix, and the copy-failure
# window under the virtual display.
add_library(steps_host SHARED steps_host.c)
set_target_properties(steps_host PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

add_executable(steps_helper steps_helper.cpp)
target_link_options(steps_helper PRIVATE -municode)
set_target_properties(steps_helper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

file(GLOB zo_steps_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Steps*_test.cpp)
add_executable(steps_tests ${zo_steps_tests}
  StepsTestSupport.cpp
  ${CMAKE_SOURCE_DIR}/tests/native/TestSupport.cpp
)
target_include_directories(steps_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/native)
target_link_libraries(steps_tests PRIVATE zoinstaller ${ZO_GTEST})
set_target_properties(steps_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(steps_tests steps_host steps_helper)
add_test(NAME steps_tests COMMAND steps_tests)
