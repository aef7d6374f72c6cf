# The uninstaller under Wine: its steps against real files and registry keys,
# and the tool the end-to-end scripts (tests/wine/uninstall_*.sh) run
# registered command lines with.
if(TARGET zouninst)
  add_executable(uninst_run uninst_run.cpp)
  target_link_options(uninst_run PRIVATE -municode)

  file(GLOB zo_uninst_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Uninst*_test.cpp)
  add_executable(uninst_tests ${zo_uninst_tests} ${CMAKE_SOURCE_DIR}/tests/native/TestSupport.cpp)
  target_include_directories(uninst_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/native)
  target_link_libraries(uninst_tests PRIVATE zouninst ${ZO_GTEST})
  set_target_properties(uninst_run uninst_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_test(NAME uninst_tests COMMAND uninst_tests)
endif()
