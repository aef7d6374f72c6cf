# Cross build for 32-bit Windows with MinGW-w64 (posix threads), run under Wine:
# the installer and uninstaller that zosetup-pack uses by default.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
