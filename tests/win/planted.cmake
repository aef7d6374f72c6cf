# Programs and DLLs planted beside the installer and the uninstaller by
# tests/wine/install_arch.sh, which must never run.
add_executable(planted_exe planted.c)
add_library(planted_dll SHARED planted.c)
target_compile_definitions(planted_dll PRIVATE PLANTED_DLL)
set_target_properties(planted_exe planted_dll PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
