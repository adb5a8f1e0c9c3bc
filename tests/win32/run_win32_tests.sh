#!/usr/bin/env bash
# The Win32 stage: cross-builds lumo.exe for 32-bit Windows, then runs the end-to-end tests on it
# under Wine and compares its output with the POSIX build's. Run as root, it first installs the
# cross compilers and Wine where they are missing.
#   tests/win32/run_win32_tests.sh [NATIVE_BUILD_DIR [WIN32_BUILD_DIR]]   (build, build-win32)
#
# 32-bit Wine is a 32-bit Linux program. Where the kernel runs no 32-bit programs, the script
# (as root) has qemu-user run them, so that the prefix gets its 32-bit half (SysWOW64, the
# 16-bit programs) as on 64-bit Windows. Where 32-bit programs run only through such an
# emulator (about a minute of CPU for each Wine start), the tests run on a 64-bit lumo.exe
# built from the same sources into WIN32_BUILD_DIR-x64, which 64-bit Wine runs natively, and
# the 32-bit lumo.exe runs the System32 cases alone, in the same prefix.
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${1:-build}
win32=${2:-build-win32}

need=()
command -v i686-w64-mingw32-g++ > /dev/null || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++ > /dev/null || need+=(g++-mingw-w64-x86-64)
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

# A kernel that runs no 32-bit programs: qemu-user runs them (registered for this boot only).
if ! timeout 120 /usr/lib/wine/wine --version > /dev/null 2>&1 && [ "$(id -u)" = 0 ] &&
  [ -w /proc/sys/fs/binfmt_misc/register ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  command -v qemu-i386-static > /dev/null || {
    log=$(mktemp)
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      qemu-user-static > "$log" 2>&1 || { tail -50 "$log"; rm -f "$log"; exit 1; }
    rm -f "$log"
  }
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    > /proc/sys/fs/binfmt_misc/register
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

# Whether 32-bit Linux programs run here without an emulator.
runs_32bit_natively() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] && grep -qx enabled "$entry" && grep -q '^magic 7f454c46010101.*02000300' "$entry" &&
      return 1
  done
  timeout 60 /usr/lib/wine/wine --version > /dev/null 2>&1
}

tested="$win32/lumo.exe"
only_system32=()
if ! runs_32bit_natively; then
  twin="$win32-x64"
  if [ ! -f "$twin/CMakeCache.txt" ]; then
    cmake -S . -B "$twin" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
      -DLUMO_TESTS=OFF > /dev/null
  fi
  cmake --build "$twin" -j2
  tested="$twin/lumo.exe"
  echo "32-bit programs do not run natively here: the tests run on $tested, built for 64-bit Windows"
  if timeout 300 /usr/lib/wine/wine --version > /dev/null 2>&1; then
    only_system32=(-DLUMO_WIN32_I686_EXE="$PWD/$win32/lumo.exe")
  fi
fi

cmake -S . -B "$native" -DLUMO_WIN32_EXE="$PWD/$tested" "${only_system32[@]}" > /dev/null
cmake --build "$native" -j2
ctest --test-dir "$native" -R '^(lumo_tests_win32|lumo_tests_win32_i686|compare_builds)$' --output-on-failure
