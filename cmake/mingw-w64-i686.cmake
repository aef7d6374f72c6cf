# Cross build for 32-bit Windows with MinGW-w64, run under Wine: the installer
# and uninstaller that zosetup-pack uses by default. The win32 threads variant:
# this build holds only the programs, which start no thread through the standard
# library, and the posix variant's thread library (winpthread) is some 34 KB of
# each of them.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(TOOLCHAIN_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
