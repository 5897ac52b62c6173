#!/usr/bin/env bash
# Builds the Windows Installer package from src/installer/quenlat.wxs with
# wixl.  Usage: msi.sh STAGE VERSION OUTPUT
# STAGE holds QUENLAT.EXE, quenlat-cli.exe, README.txt and LICENSE.txt;
# VERSION is what Apps & features shows and upgrades compare (major.minor or
# major.minor.build).
set -euo pipefail
source "$(dirname "$0")/common.sh"
stage=$(cd "$1" && pwd) version=$2 output=$(realpath -m "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl finds the sources in the folder it runs in.
for f in QUENLAT.EXE quenlat-cli.exe README.txt LICENSE.txt; do
  [ -f "$stage/$f" ] || { echo "msi.sh: $stage/$f is missing" >&2; exit 1; }
  ln -s "$stage/$f" "$work/$f"
done
ln -s "$root/src/resources/quenlat.ico" "$work/quenlat.ico"
rm -f "$output"
(cd "$work" && wixl -a x86 -D Version="$version" -o "$output" "$root/src/installer/quenlat.wxs")
