#!/usr/bin/env bash
# Builds the Debian package from a configured build tree and checks that it installs exactly
# the program and its manual page, and that both work from the unpacked package.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/lumo_*.deb)
case "$(basename "$deb")" in
  lumo_*_*.deb) ;;
  *) echo "unexpected package name: $deb"; exit 1 ;;
esac

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
expected=$(printf '%s\n' ./usr/bin/lumo ./usr/share/man/man1/lumo.1 | sort)
if [ "$files" != "$expected" ]; then
  echo "package files differ:"; diff <(echo "$expected") <(echo "$files"); exit 1
fi

dpkg-deb -x "$deb" "$work/root"
"$work/root/usr/bin/lumo" > "$work/usage.txt" || { echo "lumo from the package failed"; exit 1; }
grep -q '^Usage: lumo ' "$work/usage.txt"
warnings=$(groff -man -t -Tutf8 -ww "$work/root/usr/share/man/man1/lumo.1" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then echo "manual page warnings: $warnings"; exit 1; fi
version=$(dpkg-deb -f "$deb" Version)
grep -q "lumo $version" "$work/root/usr/share/man/man1/lumo.1"
echo "package $(basename "$deb"): 2 files, manual page clean"
