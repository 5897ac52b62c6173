#!/usr/bin/env bash
# The packages that scripts/package.sh wrote: the Debian package unpacked into
# a scratch root and its tool run from there; the Windows zip listed and its
# members checked; the Windows Installer package installed under Wine
# (msi_test.sh).  Usage: package_test.sh DEB ZIP MSI
set -euo pipefail
deb=$1 zip=$2 msi=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quenlat-cli ] || fail "package name $(field Package)"
version=$(sed -n 's/^#define QUENLAT_PRODUCT_VERSION "\(.*\)"$/\1/p' \
              "$(dirname "$0")/../../src/resources/version.h")
[ "$(field Version)" = "$version-1" ] || fail "version $(field Version), not $version-1"
field Depends | grep -q 'libc6' || fail "no computed dependencies: $(field Depends)"
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "maintainer or description missing"

dpkg -x "$deb" "$scratch/root"
tool="$scratch/root/usr/bin/quenlat-cli"
[ -f "$scratch/root/usr/share/man/man1/quenlat-cli.1" ] || fail "no man page"
[ -f "$scratch/root/usr/share/doc/quenlat-cli/copyright" ] || fail "no copyright file"
"$tool" --version | grep -qx "quenlat-cli (Quenlat) $version" || fail "--version: $("$tool" --version)"
printf 'a\r\nb\r\n' >"$scratch/f.txt"
[ "$("$tool" --to-lf "$scratch/f.txt")" = "1 files converted." ] || fail "the installed tool did not convert"
[ "$(od -An -c "$scratch/f.txt" | tr -d ' ')" = 'a\nb\n' ] || fail "wrong content after conversion"
[ "$(printf 'x\n' | "$tool" --to-crlf | od -An -c | tr -d ' ')" = 'x\r\n' ] || fail "filter"

unzip -l "$zip"
names=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
expected="quenlat-$version/ quenlat-$version/LICENSE.txt quenlat-$version/QUENLAT.EXE quenlat-$version/README.txt quenlat-$version/quenlat-cli.exe "
[ "$names" = "$expected" ] || fail "zip holds: $names"
unzip -q "$zip" -d "$scratch/zip"
dir="$scratch/zip/quenlat-$version"
for exe in QUENLAT.EXE quenlat-cli.exe; do
  # A 32-bit Windows program: "PE\0\0" then machine 0x014c.
  file -b "$dir/$exe" | grep -q 'PE32 executable.*Intel 80386' || fail "$exe: $(file -b "$dir/$exe")"
done
for txt in README.txt LICENSE.txt; do
  if tr -d '\r' <"$dir/$txt" | cmp -s - "$dir/$txt"; then fail "$txt has no CR-LF breaks"; fi
  if grep -q $'[^\r]$' "$dir/$txt"; then fail "$txt has a line without CR"; fi
done
grep -q 'All rights reserved' "$dir/LICENSE.txt" || fail "LICENSE.txt"
"$(dirname "$0")/msi_test.sh" "$msi"
echo "package test: passed"
