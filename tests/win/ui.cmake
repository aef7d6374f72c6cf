# The window shell and the process utilities, under Wine: unit tests of the
# window layer and of TZoWinfn, the UI driver and the test-installer maker that
# the end-to-end scripts (tests/wine/ui_*.sh) use.
add_executable(ui_driver ui_driver.cpp)
target_link_options(ui_driver PRIVATE -municode)
# The control IDs and the windowless controls' registered message the windows answer.
target_include_directories(ui_driver PRIVATE ${PROJECT_SOURCE_DIR}/Forms)

add_executable(ui_makepkg ui_makepkg.cpp)
target_link_libraries(ui_makepkg PRIVATE zoformat zoforms)
target_link_options(ui_makepkg PRIVATE -municode)

add_executable(ui_child ui_child.cpp)
target_link_options(ui_child PRIVATE -municode)

file(GLOB zo_ui_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Ui*_test.cpp)
add_executable(ui_tests ${zo_ui_tests}
  ${CMAKE_SOURCE_DIR}/tests/native/TestSupport.cpp
  ${CMAKE_SOURCE_DIR}/Installer/LicenseFrm_win.cpp
)
target_include_directories(ui_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/native)
target_include_directories(ui_tests PRIVATE ${CMAKE_SOURCE_DIR}/Installer)
target_link_libraries(ui_tests PRIVATE zoforms zoformat ${ZO_GTEST})
add_dependencies(ui_tests ui_child)
set_target_properties(ui_driver ui_makepkg ui_child ui_tests PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_test(NAME ui_tests COMMAND ui_tests WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
