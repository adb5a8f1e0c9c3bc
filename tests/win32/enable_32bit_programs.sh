#!/usr/bin/env bash
# Prints how 32-bit Linux programs run here, as one word: "natively", "emulated" (through an
# emulator such as qemu-user) or "none". Run as root where none run, it first has qemu-user run
# them, for this boot only: it mounts binfmt_misc where it is missing, installs
# qemu-user-static and registers it for 32-bit x86 programs.
#   tests/win32/enable_32bit_programs.sh [WORK_DIR]   (where the probe is built; default: a temporary one)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:-}
[ -n "$work" ] || { work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; }
mkdir -p "$work"

# The probe: a 32-bit program that prints the machine the kernel says it runs on.
as --32 -o "$work/machine32.o" "$here/machine32.S"
ld -m elf_i386 -o "$work/machine32" "$work/machine32.o"
how_they_run() {
  local machine
  if ! machine=$(timeout 300 "$work/machine32" 2> /dev/null); then
    echo none
  elif [ "$machine" = x86_64 ]; then
    echo natively
  else
    echo emulated
  fi
}

runs=$(how_they_run)
if [ "$runs" = none ] && [ "$(id -u)" = 0 ]; then
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt ||
    echo "binfmt_misc cannot be mounted here" >&2
  if [ -w $binfmt/register ]; then
    if ! command -v qemu-i386-static > /dev/null; then
      log=$(mktemp)
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        qemu-user-static > "$log" 2>&1 || { tail -50 "$log" >&2; rm -f "$log"; exit 1; }
      rm -f "$log"
    fi
    if [ -e $binfmt/qemu-i386 ]; then
      echo 1 > $binfmt/qemu-i386
    else
      # ELF, 32-bit, little-endian, an executable or shared object for i386; F: the emulator
      # is opened now, so that it runs programs inside a chroot or a container too.
      printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        > $binfmt/register
    fi
    runs=$(how_they_run)
  else
    echo "binfmt_misc is not writable here: no emulator can be registered" >&2
  fi
fi
echo "$runs"
