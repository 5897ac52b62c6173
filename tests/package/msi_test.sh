#!/usr/bin/env bash
# The Windows Installer package under Wine, in a prefix of its own: installed
# for the user without elevation, its files and shortcuts, an upgrade by a
# higher version, the installed program converting a path with blanks, and an
# uninstall that leaves nothing behind.  Usage: msi_test.sh MSI
# Needs the Windows build that runs here (the 64-bit one where the kernel runs
# no 32-bit programs): the higher version is made of its programs, so that the
# installed QUENLAT.EXE can be started on any machine.
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"
msi=$(realpath "$1")
choose_windows_build 2>/dev/null
ensure_display
fail() { echo "msi test: $*" >&2; exit 1; }

version=$(sed -n 's/^#define QUENLAT_PRODUCT_VERSION "\(.*\)"$/\1/p' "$root/src/resources/version.h")
upgrade_code='{C11C397E-4B5F-4A0C-B759-FF884060E97C}'  # never changes: upgrades find the installed one by it

# What the package says before anything runs.
property() { msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' -v p="$1" '$1 == p { print $2 }'; }
[ "$(property ProductVersion)" = "$version" ] || fail "ProductVersion $(property ProductVersion), not $version"
[ "$(property UpgradeCode)" = "$upgrade_code" ] || fail "UpgradeCode $(property UpgradeCode)"
[ -z "$(property ALLUSERS)" ] || fail "ALLUSERS is set: not a per-user package"
# Word count bit 8: no elevated rights needed.
words=$(msiinfo suminfo "$msi" | sed -n 's/^Source: \([0-9]*\).*/\1/p')
[ $((words & 8)) -ne 0 ] || fail "the package asks for elevation (word count $words)"

scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix" WINEARCH=win64 WINEDEBUG=-all
# No menu entries or file associations on the Linux desktop from the
# shortcuts the package makes: Wine's menu builder is off.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap 'cleanup; if [ -n "${xvfb_pid:-}" ]; then stop_display; fi' EXIT
wine=$(command -v /usr/lib/wine/wine64 || command -v wine64)
"$wine" wineboot -i >/dev/null 2>&1
win() { "$wine" "$@" 2>/dev/null | tr -d '\r'; }
unix_path() { win winepath -u "$1"; }

appdata=$(win cmd /c echo %LOCALAPPDATA%)
sendto=$(win cmd /c echo %APPDATA%)'\Microsoft\Windows\SendTo'
startmenu=$(win cmd /c echo %APPDATA%)'\Microsoft\Windows\Start Menu\Programs'
installdir="$appdata\\Programs\\Quenlat"
# Everything on drive C but Windows Installer's own caches and the temporary
# files, to compare before the install and after the uninstall.
snapshot() {
  (cd "$WINEPREFIX/drive_c" &&
     find . \( -path '*/AppData/Roaming/Microsoft/Installer' -o -path ./windows/Installer -o -path '*/Temp' \) \
          -prune -o -print | sort)
}
# The Apps & features entries named Quenlat, as "KEY VERSION" lines.
entries() {
  local key
  for key in 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
             'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
             'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'; do
    win reg query "$key" /s | awk '
      /^HKEY/ { k = $0; name = ""; version = "" }
      $1 == "DisplayName" { name = substr($0, index($0, $3)) }
      $1 == "DisplayVersion" { version = $3 }
      /^$/ && name == "Quenlat" { print k, version; name = "" }
      END { if (name == "Quenlat") print k, version }'
  done
}
msiexec() { "$wine" msiexec "$@" >/dev/null 2>&1; }

# Send To holds the system's own entries on Windows (Wine's uninstall removes
# the folder when it is empty), and one of the user's.
printf '[Shortcut]\r\n' >"$(unix_path "$sendto")/Desktop (create shortcut).DeskLink"
before=$(snapshot)
[ -z "$(entries)" ] || fail "an entry before the install"

# Install: the files, byte for byte those packed.
msiexec /i "$msi" /qn || fail "msiexec /i exited with $?"
dir=$(unix_path "$installdir")
msiextract -C "$scratch/packed" "$msi" >/dev/null
for f in QUENLAT.EXE quenlat-cli.exe README.txt LICENSE.txt; do
  packed=$(find "$scratch/packed" -name "$f" -type f)
  [ -f "$dir/$f" ] || fail "$installdir\\$f was not installed"
  cmp -s "$packed" "$dir/$f" || fail "$f differs from the packed one"
done
[ "$(ls "$dir" | wc -l)" -eq 4 ] || fail "the folder holds $(ls "$dir" | tr '\n' ' ')"
[ "$(entries | awk '{ print $NF }')" = "$version" ] || fail "Apps & features: $(entries)"

# The shortcuts start the installed program; Send To appends the files itself.
lnk_check="$(win winepath -w "$windows_build/quenlat_lnk_check.exe")"
for link in "$startmenu\\Quenlat.lnk" "$sendto\\Quenlat (convert line breaks).lnk"; do
  [ -f "$(unix_path "$link")" ] || fail "no shortcut $link"
  said=$(win "$lnk_check" "$link") || fail "cannot read $link"
  [ "$(sed -n 's/^target=//p' <<<"$said")" = "$installdir\\QUENLAT.EXE" ] || fail "$link: $said"
  [ -z "$(sed -n 's/^arguments=//p' <<<"$said")" ] || fail "$link has arguments: $said"
done
target=$(win "$lnk_check" "$sendto\\Quenlat (convert line breaks).lnk" | sed -n 's/^target=//p')

# A higher version (of the programs that run here) replaces the installed one,
# and then the lower one does not go back over it.
higher="$(( ${version%%.*} + 1 )).0"
mkdir "$scratch/stage"
cp "$windows_build/QUENLAT.EXE" "$windows_build/quenlat-cli.exe" "$scratch/stage/"
printf 'readme\r\n' >"$scratch/stage/README.txt"
printf 'licence\r\n' >"$scratch/stage/LICENSE.txt"
"$root/scripts/msi.sh" "$scratch/stage" "$higher" "$scratch/higher.msi"
msiexec /i "$scratch/higher.msi" /qn || fail "installing $higher over $version exited with $?"
[ "$(entries | wc -l)" -eq 1 ] || fail "Apps & features after the upgrade: $(entries)"
[ "$(entries | awk '{ print $NF }')" = "$higher" ] || fail "Apps & features after the upgrade: $(entries)"
cmp -s "$scratch/stage/QUENLAT.EXE" "$dir/QUENLAT.EXE" || fail "the upgrade left the old QUENLAT.EXE"
cmp -s "$scratch/stage/README.txt" "$dir/README.txt" || fail "the upgrade left the old README.txt"
if msiexec /i "$msi" /qn; then fail "the lower version installed over the higher one"; fi
[ "$(entries | awk '{ print $NF }')" = "$higher" ] || fail "Apps & features after the downgrade: $(entries)"
cmp -s "$scratch/stage/QUENLAT.EXE" "$dir/QUENLAT.EXE" || fail "the downgrade replaced QUENLAT.EXE"

# The Send To target, started as Send To starts it, converts a path with blanks.
mkdir "$scratch/My Files"
printf 'a\r\nb\r\n' >"$scratch/My Files/a note.txt"
note=$(win winepath -w "$scratch/My Files/a note.txt")
# Wine quotes an argument that holds a blank, as Explorer does.
"$wine" "$target" "$note" >/dev/null 2>&1 &
run=$!
win "$(win winepath -w "$windows_build/quenlat_ui_driver.exe")" "Translate Linebreaks" \
    text 1007 "1 file(s) to convert..." click 1 text 1007 "1 files converted." click 2 \
  || fail "the installed program's dialog"
wait "$run" || true
[ "$(od -An -c "$scratch/My Files/a note.txt" | tr -d ' ')" = 'a\nb\n' ] || fail "the file was not converted"
ini="$WINEPREFIX/drive_c/windows/QUENLAT.INI"
[ -f "$ini" ] || fail "the program kept no settings"

# Uninstall: nothing the package added is left; the user's settings stay.
msiexec /x "$scratch/higher.msi" /qn || fail "msiexec /x exited with $?"
[ -z "$(entries)" ] || fail "Apps & features after the uninstall: $(entries)"
if win reg query 'HKCU\Software\Quenlat' >/dev/null; then fail "a registry key is left"; fi
after=$(snapshot)
left=$(diff <(echo "$before") <(echo "$after") | grep '^[<>]' || true)
[ "$left" = "> ./windows/QUENLAT.INI" ] || fail "after the uninstall, drive C differs: $left"
echo "msi test: passed"
