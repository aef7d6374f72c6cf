# The product program of tests/wine/install_running.sh: one that saves its
# work when asked to close, or refuses to close.
add_executable(close_probe WIN32 close_probe.c)
target_link_libraries(close_probe PRIVATE shell32)
target_link_options(close_probe PRIVATE -municode)
set_target_properties(close_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
