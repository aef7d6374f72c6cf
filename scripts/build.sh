#!/usr/bin/env bash
# Builds everything without running anything:
#   build/native  the portable core, its tests and zosetup-pack (g++)
#   build/asan    the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/win     the cross-built tests and the Windows zosetup-pack (MinGW-w64)
#   build/win64   the 64-bit installer, uninstaller and demo program
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
# The shipped programs are built with the win32 threads variant of the compiler,
# apart from the tests (which run in build/win). A tree configured with another
# variant is made afresh.
programs_tree() {  # dir, toolchain file, default targets...
  local dir=$1 toolchain=$2; shift 2
  [ ! -f "$dir/CMakeCache.txt" ] || grep -q '^CMAKE_CXX_COMPILER_AR:FILEPATH=.*-win32$' "$dir/CMakeCache.txt" || rm -rf "$dir"
  configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel
  local wanted=("${targets[@]}")
  if [ ${#wanted[@]} -eq 0 ]; then for t in "$@"; do wanted+=(--target "$t"); done; fi
  cmake --build "$dir" -j "$jobs" "${wanted[@]}"
}
if [ "$only" = all ] || [ "$only" = win64 ]; then
  programs_tree build/win64 cmake/mingw-w64-x64-programs.cmake zosetup Uninstall ZoDemo
fi
if [ "$only" = all ] || [ "$only" = win32 ]; then
  programs_tree build/win32 cmake/mingw-w64-i686.cmake zosetup Uninstall planted_exe planted_dll link_probe
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
