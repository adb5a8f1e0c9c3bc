#!/usr/bin/env python3
"""Runs the POSIX build and the Win32 build (under Wine) over the same directories and compares
every file's line and version strings.

    compare_builds.py --posix build/lumo --win32 build-win32/lumo.exe DIR...

With --prefix-ne, the folders of the Wine prefix that hold 16-bit NE images are compared too,
each without its subdirectories (drive_c/windows and, by the prefix's kind, system, system32 or
syswow64).

Each build lists DIR with "-S -0 DIR *" in UTC (a prefix folder with "-0 DIR *"). The Win32
output is taken back to the POSIX form: CR LF line ends (a bare LF is a difference), code page
932 to UTF-8, "Z:\\" to "/" and "\\" to "/" in paths. The POSIX build's strings are compared as
code page 932 can hold them, since the Win32 build writes them in it. Exits 1 on any difference,
2 when a build cannot be run.

The table of "-T" is compared too, line by line by its path column ("-S -T DIR *"; for the first
DIR also with "-1"), after the same normalisation (the table escapes a backslash, so there each
separator is a doubled one); every line must have eleven fields.
"""

import argparse
import os
import re
import subprocess
import sys

LABELS = ("CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
          "OriginalFilename", "ProductName", "ProductVersion")
HEAD = re.compile(r"^(.*)\t(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)\t(-?\d+)$")
LOCALE = "ja_JP.UTF-8"  # Wine's ANSI code page is then 932


# 64-bit Wine's own loader: Debian's "wine" hands every program to the 32-bit one where wine32
# is installed, which may run only through an emulator.
WINE64 = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine64"


def wine_loader(exe):
    """64-bit Wine's loader for a 64-bit lumo.exe (COFF machine 0x8664), else "wine"."""
    with open(exe, "rb") as file:
        header = file.read(4096)
    at = int.from_bytes(header[0x3C:0x40], "little")
    return WINE64 if header[at + 4:at + 6] == b"\x64\x86" else "wine"


class Wine:
    """One prefix and one running server for all the Win32 runs."""

    def __init__(self, exe, prefix):
        self.exe = exe
        self.loader = wine_loader(exe)
        self.prefix = prefix
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("WINE", "LC_", "LANG"))}
        self.env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL=LOCALE)
        # Wine reads host names in the locale's charset, which it has only if the locale exists.
        probe = subprocess.run(["locale", "charmap"], env=dict(self.env, LC_ALL=LOCALE),
                               capture_output=True, text=True)
        if probe.stdout.strip() != "UTF-8":
            path = os.path.join(prefix, "locale")
            if not os.path.exists(os.path.join(path, LOCALE, "LC_CTYPE")):
                os.makedirs(path, exist_ok=True)
                subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8",
                                os.path.join(path, LOCALE)], capture_output=True)
            self.env["LOCPATH"] = path
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            self.tool([WINE64, "wineboot", "-i"], check=True)
            self.tool(["wineserver", "-w"])
        self.started = self.tool(["wineserver", "-p60"]) == 0
        # The first program of a session starts Wine's services, which inherit its output and
        # hold it open: they start here, on /dev/null, rather than on a pipe read to its end
        # (from a 64-bit program, which starts at once even where 32-bit ones run emulated).
        self.tool([WINE64, "cmd", "/c", "exit"])

    def tool(self, args, check=False):
        return subprocess.run(args, env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, check=check).returncode

    def run(self, args):
        return subprocess.run([self.loader, self.exe] + args, env=dict(self.env, TZ="UTC"),
                              stdin=subprocess.DEVNULL, capture_output=True)

    def stop(self):
        if self.started:
            self.tool(["wineserver", "-k"])


def parse(lines):
    """path -> [date, size, [field lines]] from lines in the POSIX form, in listing order."""
    records = {}
    current = None
    for line in lines:
        if line.startswith(tuple(label + ": " for label in LABELS)) and current is not None:
            current[2].append(line)
            continue
        if line == "" and current is not None:
            current = None
            continue
        match = HEAD.match(line)
        if match is None:
            records.setdefault("<unparsed>", [None, None, []])[2].append(line)
            continue
        current = [match.group(2), match.group(3), []]
        records[match.group(1)] = current
    return records


PREFIX_FOLDERS = ("drive_c/windows", "drive_c/windows/system", "drive_c/windows/system32",
                  "drive_c/windows/syswow64")


def is_ne(path):
    """Whether the file is a 16-bit New Executable: an MZ header whose e_lfanew points at "NE"."""
    try:
        with open(path, "rb") as file:
            header = file.read(64)
            if len(header) < 64 or header[:2] != b"MZ":
                return False
            file.seek(int.from_bytes(header[0x3C:0x40], "little"))
            return file.read(2) == b"NE"
    except OSError:
        return False


def prefix_ne_folders(prefix):
    folders = [os.path.join(prefix, folder) for folder in PREFIX_FOLDERS]
    return [folder for folder in folders if os.path.isdir(folder) and
            any(is_ne(entry.path) for entry in os.scandir(folder) if entry.is_file())]


def as_code_page_932(text):
    return text.encode("cp932", errors="replace").decode("cp932")


def options(recurse):
    return ["-S", "-0"] if recurse else ["-0"]


def posix_run(lumo, args, directory):
    """The POSIX build's lines for DIR, in the Win32 build's code page."""
    env = dict(os.environ, LC_ALL="C.UTF-8", TZ="UTC")
    done = subprocess.run([lumo] + args + [directory, "*"], env=env,
                          stdin=subprocess.DEVNULL, capture_output=True)
    if done.returncode != 0 or done.stderr:
        sys.exit(f"{lumo}: exit status {done.returncode} {done.stderr[:200]!r}")
    text = done.stdout.decode("utf-8", errors="replace")
    return [as_code_page_932(line) for line in text.split("\n")[:-1]]


def win32_run(wine, args, directory):
    """The Win32 build's lines for DIR without their CR, and how many ended in a bare LF."""
    done = wine.run(args + ["Z:" + directory.replace("/", "\\"), "*"])
    if done.returncode != 0 or done.stderr:
        sys.exit(f"{wine.exe}: exit status {done.returncode} {done.stderr[:200]!r}")
    bare = len(re.findall(rb"(?<!\r)\n", done.stdout))
    lines = done.stdout.decode("cp932", errors="replace").split("\n")[:-1]
    return [line[:-1] if line.endswith("\r") else line for line in lines], bare


def posix_lines(lumo, directory, recurse):
    return posix_run(lumo, options(recurse), directory), 0


def win32_lines(wine, directory, recurse):
    lines, bare = win32_run(wine, options(recurse), directory)
    for at, line in enumerate(lines):
        match = HEAD.match(line)
        if match is not None:
            path = match.group(1)
            path = "/" + path[3:] if path.startswith("Z:\\") else path
            lines[at] = path.replace("\\", "/") + line[len(match.group(1)):]
    return lines, bare


def table_options(recurse, labels):
    return (["-S"] if recurse else []) + ["-T", labels]


def posix_table(lumo, directory, recurse, labels):
    return posix_run(lumo, table_options(recurse, labels), directory)


def win32_table(wine, directory, recurse, labels):
    lines, bare = win32_run(wine, table_options(recurse, labels), directory)
    for at, line in enumerate(lines):
        path, tab, rest = line.partition("\t")
        # The table escapes a backslash, so the separators read "\\".
        path = "/" + path[4:] if path.startswith("Z:\\\\") else path
        lines[at] = path.replace("\\\\", "/") + tab + rest
    return lines, bare


def compare_tables(posix, win32):
    """The differences between two tables: the header, then each path's line."""
    differences = []
    if posix[:1] != win32[:1]:
        differences.append(f"header: POSIX {posix[:1]!r}, Win32 {win32[:1]!r}")
    posix_rows = {line.split("\t", 1)[0]: line for line in posix[1:]}
    win32_rows = {line.split("\t", 1)[0]: line for line in win32[1:]}
    for path in sorted(set(posix_rows) | set(win32_rows)):
        p, w = posix_rows.get(path), win32_rows.get(path)
        if p != w:
            differences.append(f"{path}:\n    POSIX {p!r}\n    Win32 {w!r}")
    for build, lines in (("POSIX", posix), ("Win32", win32)):
        odd = [line for line in lines if line.count("\t") != 10]
        if odd:
            differences.append(f"{build}: {len(odd)} lines without eleven fields: {odd[0]!r}")
    return differences


def files_in(directory, recurse):
    """The regular files that a listing of the directory reaches."""
    found = []
    for root, dirs, files in os.walk(directory):
        found += [os.path.join(root, name) for name in files
                  if os.path.isfile(os.path.join(root, name))]
        if not recurse:
            break
    return found


def compare(posix, win32, directory, recurse, show):
    posix_records = parse(posix)
    win32_records = parse(win32)
    differences = []
    for path in sorted(set(posix_records) | set(win32_records)):
        p = posix_records.get(path)
        w = win32_records.get(path)
        if p is None or w is None:
            differences.append(f"{path}: only the {'Win32' if p is None else 'POSIX'} build lists it")
        elif p != w:
            detail = []
            if p[:2] != w[:2]:
                detail.append(f"    line: POSIX {p[0]} {p[1]}, Win32 {w[0]} {w[1]}")
            for line in p[2]:
                if line not in w[2]:
                    detail.append(f"    POSIX only: {line}")
            for line in w[2]:
                if line not in p[2]:
                    detail.append(f"    Win32 only: {line}")
            if p[2] != w[2] and not detail:
                detail.append("    the fields come in another order")
            differences.append(f"{path}:\n" + "\n".join(detail))
    versioned = sum(1 for path, record in posix_records.items()
                    if record[2] or (path in win32_records and win32_records[path][2]))
    on_disk = files_in(directory, recurse)
    files = len(on_disk)
    ne = sum(1 for path in on_disk if is_ne(path))
    print(f"{directory}: {files} files ({ne} NE), {versioned} with version strings, "
          f"{len(differences)} differences")
    for difference in differences[:show]:
        print("  " + difference)
    if len(differences) > show:
        print(f"  ... and {len(differences) - show} more")
    return files, ne, versioned, len(differences)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--posix", required=True, help="the POSIX build's lumo")
    parser.add_argument("--win32", required=True, help="the Win32 build's lumo.exe")
    parser.add_argument("--prefix", help="the Wine prefix; default: wineprefix beside lumo.exe")
    parser.add_argument("--show", type=int, default=20, help="differences shown per directory")
    parser.add_argument("--prefix-ne", action="store_true",
                        help="also the prefix's folders that hold NE images, without recursion")
    parser.add_argument("directories", nargs="+")
    args = parser.parse_args()
    exe = os.path.abspath(args.win32)
    wine = Wine(exe, os.path.abspath(args.prefix or os.path.join(os.path.dirname(exe),
                                                                 "wineprefix")))
    totals = [0, 0, 0, 0]
    try:
        compared = [(os.path.abspath(directory), True) for directory in args.directories]
        if args.prefix_ne:
            compared += [(folder, False) for folder in prefix_ne_folders(wine.prefix)]
        for directory, recurse in compared:
            if not os.path.isdir(directory):
                sys.exit(f"{directory}: not a directory")
            posix, _ = posix_lines(os.path.abspath(args.posix), directory, recurse)
            win32, bare = win32_lines(wine, directory, recurse)
            counts = compare(posix, win32, directory, recurse, args.show)
            if bare:
                print(f"  {bare} lines of the Win32 output end in a bare LF")
            totals = [t + c for t, c in zip(totals, counts)]
            totals[3] += bare
            for labels in ["-0", "-1"] if directory == compared[0][0] else ["-0"]:
                posix_rows = posix_table(os.path.abspath(args.posix), directory, recurse, labels)
                win32_rows, bare = win32_table(wine, directory, recurse, labels)
                differences = compare_tables(posix_rows, win32_rows)
                print(f"{directory} (-T {labels}): {len(posix_rows)} lines, "
                      f"{len(differences) + bare} differences")
                for difference in differences[:args.show]:
                    print("  " + difference)
                if bare:
                    print(f"  {bare} lines of the Win32 table end in a bare LF")
                totals[3] += len(differences) + bare
    finally:
        wine.stop()
    print(f"all: {totals[0]} files ({totals[1]} NE), {totals[2]} with version strings, "
          f"{totals[3]} differences")
    return 1 if totals[3] else 0


if __name__ == "__main__":
    sys.exit(main())
