#!/usr/bin/env bash
# Builds everything without running anything:
#   build/native  the portable core, its tests and zosetup-pack (g++)
#   build/asan    the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/win     the Windows programs and the cross-built tests (MinGW-w64)
#   build/win32   the 32-bit installer and uninstaller that zosetup-pack uses by
#                 default, and the programs the end-to-end tests plant beside them
#   build/fuzz    the libFuzzer targets (clang)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
only="${1:-all}"
# Further arguments name the only targets to build (make demo and make install
# build just the programs they use).
shift $(( $# > 0 ? 1 : 0 ))
targets=()
for t in "$@"; do targets+=(--target "$t"); done

# ccache, where present, shares compiled objects between the four builds' runs
# and between work trees.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$(pwd)")}"

configure() {  # dir, extra cmake arguments...
  local dir=$1; shift
  [ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G "Unix Makefiles" "${launcher[@]}" "$@" >/dev/null
}

if [ "$only" = all ] || [ "$only" = native ]; then
  configure build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build/native -j "$jobs" "${targets[@]}"
fi
if [ "$only" = all ] || [ "$only" = win ]; then
  configure build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
  cmake --build build/win -j "$jobs" "${targets[@]}"
fi
if [ "$only" = all ] || [ "$only" = win32 ]; then
  # The programs only: the unit tests run in build/win already. A tree configured
  # with another thread variant of the compiler is made afresh.
  [ ! -f build/win32/CMakeCache.txt ] || grep -q '^CMAKE_CXX_COMPILER_AR:FILEPATH=.*-win32$' build/win32/CMakeCache.txt || rm -rf build/win32
  configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
  [ ${#targets[@]} -gt 0 ] || targets=(--target zosetup Uninstall planted_exe planted_dll link_probe)
  cmake --build build/win32 -j "$jobs" "${targets[@]}"
fi
if [ "$only" = all ] || [ "$only" = asan ]; then
  configure build/asan -DCMAKE_BUILD_TYPE=Debug -DZO_SANITIZE=ON
  cmake --build build/asan -j "$jobs"
fi
if [ "$only" = all ] || [ "$only" = fuzz ]; then
  configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZO_FUZZ=ON -DZO_TESTS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  cmake --build build/fuzz -j "$jobs"
fi
