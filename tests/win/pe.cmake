# The PE resource writer and the packaging tool against the Windows loader
# itself, under Wine: what the writer adds, the loader finds.
add_executable(pe_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/PeLoader_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/native/TestSupport.cpp
)
target_include_directories(pe_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/native)
target_link_libraries(pe_tests PRIVATE zopack ${ZO_GTEST} version)
target_compile_definitions(pe_tests PRIVATE ZO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
set_target_properties(pe_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_test(NAME pe_tests COMMAND pe_tests WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
