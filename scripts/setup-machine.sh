#!/usr/bin/env bash
# Installs every Debian package the project needs, only those that are missing,
# so a warm machine starts at once.
set -euo pipefail

packages=(
  # native build and tests
  cmake make ccache g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
  zlib1g-dev libssl-dev nlohmann-json3-dev libpugixml-dev python3 openssl osslsigncode
  # Windows cross builds: 64-bit and the 32-bit default (their programs with win32 threads)
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-posix
  g++-mingw-w64-i686-win32 mingw-w64
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 libz-mingw-w64-dev
  # running and looking at Windows programs; wine32 runs the 32-bit installer under WoW64
  wine wine64 wine32:i386 xvfb x11-utils xdotool imagemagick fonts-wine fonts-wqy-microhei locales procps
  # the benchmark peer
  nsis curl time
  # the case-folding table's source (scripts/gen-casefold.py)
  unicode-data
  # validating the winget manifest zosetup-pack writes
  python3-jsonschema python3-yaml
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# wine32 is an i386 package.
added_i386=no
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  added_i386=yes
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ] || [ "$added_i386" = yes ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Chinese system code page for Wine processes.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 || echo "setup: could not make the zh_CN.UTF-8 locale" >&2
fi
echo "setup: all packages present"
