# Cross build for 64-bit Windows with MinGW-w64 (posix threads), run under Wine: the
# tests and the Windows packaging tool.
set(CMAKE_SYSTEM_NAME Windows)
# The 32-bit toolchain file sets its own processor and prefix, then includes this one.
if(NOT DEFINED TOOLCHAIN_PREFIX)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
  set(TOOLCHAIN_THREADS posix)
endif()
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-${TOOLCHAIN_THREADS})
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-${TOOLCHAIN_THREADS})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool)
set(CMAKE_NM ${TOOLCHAIN_PREFIX}-nm)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests run under Wine, their output through a file (see scripts/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
# Static zlib: a program must need system DLLs only.
set(ZLIB_USE_STATIC_LIBS ON)
# The programs built with the win32 threads variant start no thread at all (they
# import no function that starts one; install_arch.sh checks): their function-local
# statics need no guard against a second thread (about 3 KB of each program).
if(TOOLCHAIN_THREADS STREQUAL "win32")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-threadsafe-statics>)
endif()
