#!/usr/bin/env bash
# The Win32 stage: cross-builds lumo.exe for 32-bit Windows, then runs the end-to-end tests on it
# under Wine and compares its output with the POSIX build's. Run as root, it first installs the
# cross compiler and Wine where they are missing.
#   tests/win32/run_win32_tests.sh [NATIVE_BUILD_DIR [WIN32_BUILD_DIR]]   (build, build-win32)
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${1:-build}
win32=${2:-build-win32}

need=()
command -v i686-w64-mingw32-g++ > /dev/null || need+=(g++-mingw-w64-i686)
command -v wine > /dev/null && [ -x /usr/lib/wine/wine ] || need+=(wine wine32:i386 wine64)
command -v python3 > /dev/null || need+=(python3)
# Wine's Japanese locale (code page 932) is made from the locale sources.
[ -e /usr/share/i18n/locales/ja_JP ] || need+=(locales)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing: ${need[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q > /dev/null
  log=$(mktemp)
  apt-get install -y -q --no-install-recommends "${need[@]}" > "$log" 2>&1 ||
    { tail -50 "$log"; rm -f "$log"; exit 1; }
  rm -f "$log"
fi

generator=()
command -v ninja > /dev/null && generator=(-G Ninja)
if [ ! -f "$win32/CMakeCache.txt" ]; then
  cmake -S . -B "$win32" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DLUMO_TESTS=OFF > /dev/null
fi
cmake --build "$win32" -j2
file "$win32/lumo.exe" | grep -q 'PE32 executable (console) Intel 80386' ||
  { file "$win32/lumo.exe"; exit 1; }

cmake -S . -B "$native" -DLUMO_WIN32_EXE="$PWD/$win32/lumo.exe" > /dev/null
cmake --build "$native" -j2
ctest --test-dir "$native" -R '^(lumo_tests_win32|compare_builds)$' --output-on-failure
