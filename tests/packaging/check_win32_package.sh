#!/usr/bin/env bash
# Checks the Windows download that cpack makes in a Win32 build directory:
#   tests/packaging/check_win32_package.sh build-win32/lumo-VERSION-win32.zip build-win32/lumo.exe
# The archive's one folder, named as the archive, holds exactly lumo.exe, README.txt, NEWS.txt
# and LICENSE.txt; the texts are README.md, NEWS.md and LICENSE with every line ending in CR LF;
# lumo.exe is byte for byte EXE (the one the tests ran), built for the archive's kind of Windows.
set -euo pipefail
zip=$1
exe=$2
source=$(cd "$(dirname "$0")/../.." && pwd)

python3 - "$zip" "$exe" "$source" <<'PYTHON'
import os
import re
import sys
import zipfile

path, exe, source = sys.argv[1:]
name = os.path.basename(path)
match = re.fullmatch(r"lumo-\d+\.\d+\.\d+-(win32|win64)\.zip", name)
if not match:
    sys.exit(f"unexpected archive name: {name}")
top = name[:-len(".zip")] + "/"
texts = {"README.txt": "README.md", "NEWS.txt": "NEWS.md", "LICENSE.txt": "LICENSE"}
with zipfile.ZipFile(path) as archive:
    files = sorted(n for n in archive.namelist() if not n.endswith("/"))
    expected = sorted(top + n for n in ["lumo.exe", *texts])
    if files != expected:
        sys.exit(f"archive files differ:\n  expected {expected}\n  found    {files}")
    for text, original in texts.items():
        data = archive.read(top + text)
        if re.search(rb"(?<!\r)\n|\r(?!\n)", data) or not data.endswith(b"\r\n"):
            sys.exit(f"{text}: a line that does not end in CR LF")
        with open(os.path.join(source, original), "rb") as file:
            if data.replace(b"\r\n", b"\n") != file.read():
                sys.exit(f"{text}: not the text of {original}")
    program = archive.read(top + "lumo.exe")
with open(exe, "rb") as file:
    if program != file.read():
        sys.exit(f"lumo.exe in the archive is not {exe}")
# The COFF machine: 0x14c for 32-bit Windows, 0x8664 for 64-bit.
at = int.from_bytes(program[0x3C:0x40], "little")
machine = int.from_bytes(program[at + 4:at + 6], "little")
if program[at:at + 4] != b"PE\0\0" or machine != {"win32": 0x14C, "win64": 0x8664}[match[1]]:
    sys.exit(f"lumo.exe is not a program for {match[1]}")
print(f"package {name}: {len(files)} files, lumo.exe as tested, texts in CR LF")
PYTHON
