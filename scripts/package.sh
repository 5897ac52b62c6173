#!/usr/bin/env bash
# Builds the packages into dist/:
#   quenlat-cli_VERSION-1_ARCH.deb   the console tool and its man page, for Debian
#   quenlat-VERSION-windows.zip      QUENLAT.EXE, quenlat-cli.exe (32-bit), the
#                                    README and the licence, with CR-LF breaks
#   quenlat-VERSION-windows.msi      the same files as a Windows Installer
#                                    package for the current user (wixl)
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" native
"$root/scripts/build.sh" windows

version=$(sed -n 's/^#define QUENLAT_PRODUCT_VERSION "\(.*\)"$/\1/p' "$root/src/resources/version.h")
dist="$root/dist"
mkdir -p "$dist"

rm -rf "$build_native/package"
(cd "$build_native" && cpack -G DEB >/dev/null)
deb=$(ls "$build_native"/package/*.deb)
cp "$deb" "$dist/"

stage="$build_windows/package/quenlat-$version"
rm -rf "$build_windows/package"
mkdir -p "$stage"
for exe in QUENLAT.EXE quenlat-cli.exe; do
  i686-w64-mingw32-strip -o "$stage/$exe" "$build_windows/$exe"
done
# Text for Notepad: CR-LF breaks.
sed 's/\r*$/\r/' "$root/README.md" >"$stage/README.txt"
sed 's/\r*$/\r/' "$root/LICENSE" >"$stage/LICENSE.txt"
zip="$dist/quenlat-$version-windows.zip"
rm -f "$zip"
(cd "$build_windows/package" && TZ=UTC zip -q -X -r "$zip" "quenlat-$version")
msi="$dist/quenlat-$version-windows.msi"
"$root/scripts/msi.sh" "$stage" "$version" "$msi"
echo "$dist/$(basename "$deb")"
echo "$zip"
echo "$msi"
