# The link launcher (cmake/pe-gc-link.py): a probe linked through it like the
# installer throws through its kept functions under Wine, and has lost its unused ones.
add_executable(link_probe link_probe.cpp link_probe_throw.cpp)
target_link_options(link_probe PRIVATE -s)
set_target_properties(link_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_test(NAME link_probe COMMAND link_probe)
add_test(NAME link_check
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/link_check.py
          $<TARGET_FILE:link_probe> ${CMAKE_SOURCE_DIR}/cmake/pe-gc-link.py)
