#!/usr/bin/env bash
# The Win32 stage: cross-builds lumo.exe for 32-bit Windows and its 64-bit twin, runs the
# end-to-end tests on them under Wine, compares their output with the POSIX build's, and packs
# and checks each one's zip. Run as root, it first installs the cross compilers and Wine where
# they are missing.
#   tests/win32/run_win32_tests.sh [NATIVE_BUILD_DIR [WIN32_BUILD_DIR]]   (build, build-win32)
#
# 32-bit Wine is a 32-bit Linux program. enable_32bit_programs.sh tells how such programs run
# here: natively, through an emulator, or not at all; where none run, as root, it has qemu-user
# run them, for this boot only.
# - natively: the whole suite and the comparison run on the 32-bit lumo.exe; the 64-bit twin
#   takes the System32 cases and the comparison on the sample tree and the NE samples.
# - through an emulator (about a minute for each start of a 32-bit program): the whole suite
#   runs on the 64-bit twin, which 64-bit Wine runs natively; the 32-bit lumo.exe takes the
#   System32 cases and the comparison on the sample tree and the NE samples.
# - not at all: the whole suite runs on the twin; the 32-bit lumo.exe is built, not run.
# Both run in one 64-bit prefix (WIN32_BUILD_DIR/wineprefix), with its 32-bit half where
# 32-bit programs run, as on 64-bit Windows.
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${1:-build}
win32=${2:-build-win32}
twin=$win32-x64

need=()
command -v i686-w64-mingw32-g++ > /dev/null || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++ > /dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine > /dev/null && [ -x /usr/lib/wine/wine ] || need+=(wine wine32:i386 wine64)
command -v python3 > /dev/null || need+=(python3)
command -v as > /dev/null || need+=(binutils)
# Wine's Japanese locale (code page 932) is made from the locale sources.
[ -e /usr/share/i18n/locales/ja_JP ] || need+=(locales)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing: ${need[*]}" >&2
    exit 1
  fi
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q > /dev/null
  log=$(mktemp)
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" \
    > "$log" 2>&1 || { tail -50 "$log"; rm -f "$log"; exit 1; }
  rm -f "$log"
fi

runs=$(tests/win32/enable_32bit_programs.sh "$win32")

generator=()
command -v ninja > /dev/null && generator=(-G Ninja)
for dir in "$win32:i686" "$twin:x86_64"; do
  if [ ! -f "${dir%:*}/CMakeCache.txt" ]; then
    cmake -S . -B "${dir%:*}" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-${dir#*:}.cmake \
      -DCMAKE_BUILD_TYPE=Release -DLUMO_TESTS=OFF > /dev/null
  fi
  cmake --build "${dir%:*}" -j2
done
file "$win32/lumo.exe" | grep -q 'PE32 executable (console) Intel 80386' ||
  { file "$win32/lumo.exe"; exit 1; }
file "$twin/lumo.exe" | grep -q 'PE32+ executable (console) x86-64' ||
  { file "$twin/lumo.exe"; exit 1; }

# Both builds run in the one prefix, beside the build that takes the whole suite.
case $runs in
  natively)
    whole=$win32/lumo.exe pair=$twin/lumo.exe
    echo "32-bit programs run natively here: the whole suite and the comparison run on the" \
      "32-bit $whole; the 64-bit $pair takes the System32 cases and the comparison on the" \
      "sample tree and the NE samples" ;;
  emulated)
    whole=$twin/lumo.exe pair=$win32/lumo.exe
    echo "32-bit programs run here only through an emulator, about a minute for each start:" \
      "the whole suite and the comparison run on the 64-bit $whole, which 64-bit Wine runs" \
      "natively; the 32-bit $pair takes the System32 cases and the comparison on the sample" \
      "tree and the NE samples, in the same prefix" ;;
  *)
    whole=$twin/lumo.exe pair=
    echo "32-bit programs do not run here (no emulator could be registered): the whole suite" \
      "and the comparison run on the 64-bit $whole, in a prefix without its 32-bit half" \
      "(no SysWOW64); the 32-bit $win32/lumo.exe is built and packed, not run" ;;
esac

without_wow64=OFF
[ "$runs" = none ] && without_wow64=ON
cmake -S . -B "$native" -DLUMO_WIN32_EXE="$PWD/$whole" -DLUMO_WIN32_PAIR_EXE="${pair:+$PWD/$pair}" \
  -DLUMO_WINE_WITHOUT_WOW64=$without_wow64 > /dev/null
cmake --build "$native" -j2
# What the tests run, kept aside: the zips are checked against it, whatever is built meanwhile.
for dir in "$win32" "$twin"; do cp "$dir/lumo.exe" "$dir/lumo.exe.tested"; done
ctest --test-dir "$native" -L win32 --output-on-failure

# Each zip holds the very lumo.exe that the tests ran.
for dir in "$win32" "$twin"; do
  (cd "$dir" && cpack -G ZIP > /dev/null)
  zip=$dir/$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake").zip
  tests/packaging/check_win32_package.sh "$zip" "$dir/lumo.exe.tested"
done
