# Cross build for 64-bit Windows with MinGW-w64's win32 threads variant: only the
# installer and uninstaller (and the demo program), which start no thread through
# the standard library; the posix variant's thread library (winpthread) would be
# some 28 KB of each. The tests and the Windows packaging tool, which use threads,
# stay in the posix build (mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(TOOLCHAIN_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
