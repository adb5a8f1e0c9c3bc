#!/usr/bin/env bash
# Builds the Debian package from a configured build tree and checks that it installs exactly
# the program, its manual page (compressed) and the package's copyright file and changelog,
# that the program and the page work from the unpacked package, and, where lintian is
# installed, that lintian finds nothing but the placeholder maintainer address.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/lumo_*.deb)
case "$(basename "$deb")" in
  lumo_*-*_*.deb) ;;
  *) echo "unexpected package name: $deb"; exit 1 ;;
esac

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
expected=$(printf '%s\n' ./usr/bin/lumo ./usr/share/man/man1/lumo.1.gz \
  ./usr/share/doc/lumo/copyright ./usr/share/doc/lumo/changelog.Debian.gz | sort)
if [ "$files" != "$expected" ]; then
  echo "package files differ:"; diff <(echo "$expected") <(echo "$files"); exit 1
fi

dpkg-deb -x "$deb" "$work/root"
"$work/root/usr/bin/lumo" > "$work/usage.txt" || { echo "lumo from the package failed"; exit 1; }
grep -q '^Usage: lumo ' "$work/usage.txt"

doc=$work/root/usr/share/doc/lumo
page=$work/root/usr/share/man/man1/lumo.1.gz
version=$(dpkg-deb -f "$deb" Version)
# gzip -9n: no name and no time in the header (bytes 4-7 are the time).
for file in "$page" "$doc/changelog.Debian.gz"; do
  flags_and_time=$(od -An -tx1 -j3 -N5 "$file" | tr -d ' \n')
  [ "$flags_and_time" = 0000000000 ] || { echo "$file: gzip header names or dates it"; exit 1; }
done
gzip -dc "$doc/changelog.Debian.gz" | head -1 | grep -qF "lumo ($version) " ||
  { echo "changelog does not start with version $version"; exit 1; }
head -1 "$doc/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'

gzip -dc "$page" > "$work/lumo.1"
grep -q "lumo ${version%-*}\"" "$work/lumo.1" || { echo "manual page is not of ${version%-*}"; exit 1; }
for device in utf8 ascii latin1; do
  warnings=$(groff -man -t -T$device -ww "$work/lumo.1" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then echo "manual page warnings (-T$device): $warnings"; exit 1; fi
done

checked="manual page clean"
if command -v lintian > /dev/null; then
  # The project has no public address yet: the maintainer's placeholder is the one finding
  # allowed.
  lintian --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog \
    "$deb" > "$work/lintian.txt" 2>&1 || true
  if grep -E '^[EW]: ' "$work/lintian.txt"; then exit 1; fi
  checked="$checked, lintian clean"
fi
echo "package $(basename "$deb"): $(echo "$files" | wc -l) files, $checked"
