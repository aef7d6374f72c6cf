# The online mode under Wine: the download of the full package against a
# loopback server inside the test, the proxy settings window and the download
# failure window. The end-to-end tests are tests/wine/online_*.sh.
add_library(online_host SHARED steps_host.c)
set_target_properties(online_host PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

file(GLOB zo_online_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Online*_test.cpp)
add_executable(online_tests ${zo_online_tests}
  OnlineTestSupport.cpp
  ${CMAKE_SOURCE_DIR}/tests/native/TestSupport.cpp
)
target_include_directories(online_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/native)
# The installer's units, without its entry: the download unit reaches the main window.
target_link_libraries(online_tests PRIVATE zoinstaller ${ZO_GTEST})
set_target_properties(online_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(online_tests online_host)
add_test(NAME online_tests COMMAND online_tests WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# Puts the test CA of tests/http into the prefix's root store (and takes it
# out): the https tests then meet the same certificate check as any server.
add_executable(trust_ca trust_ca.cpp)
target_include_directories(trust_ca PRIVATE ${CMAKE_SOURCE_DIR}/Common)
target_link_libraries(trust_ca PRIVATE crypt32)
target_link_options(trust_ca PRIVATE -municode)
set_target_properties(trust_ca PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
