#!/usr/bin/env bash
# Takes docs/translate-dialog.png: the Translate Linebreaks dialog after it
# has converted two sample files, with QUENLAT.EXE under Wine in a private
# virtual display where Wine draws the caption bar itself; then, with
# QUENLAT.EXE started bare, docs/drop-window.png (the main window) and
# docs/about-box.png (its About box).
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/build.sh" windows >/dev/null
unset DISPLAY  # a display of our own: nothing else on the picture
ensure_display

run="$build_windows/wine-run.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"; stop_display' EXIT
"$run" cmd /c exit >/dev/null 2>&1 || true  # makes the prefix first
# The caption bar's close button is a glyph of Marlett, which this Wine does
# not find among its own fonts.
fonts="$build_windows/wineprefix/drive_c/windows/Fonts"
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
  mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi

printf 'Dear reader,\nthese lines end in LF.\n' >"$work/letter.txt"
printf 'one\r\ntwo\r\nthree\r\n' >"$work/notes.txt"
winpath() { WINEPREFIX="$build_windows/wineprefix" winepath -w "$1" 2>/dev/null; }

"$run" "$build_windows/QUENLAT.EXE" "$(winpath "$work/letter.txt")" "$(winpath "$work/notes.txt")" &
program=$!
geometry=$("$run" "$build_windows/quenlat_ui_driver.exe" "Translate Linebreaks" \
             click 1 text 1007 "2 files converted." rect | tr -d '\r')
sleep 0.5  # the last paints reach the X server
mkdir -p "$root/docs"
import -display "$DISPLAY" -window root -crop "$geometry" +repage "$root/docs/translate-dialog.png"
"$run" "$build_windows/quenlat_ui_driver.exe" "Translate Linebreaks" click 2
wait "$program"
echo "wrote docs/translate-dialog.png ($geometry)"

# Started bare, with "Auto Minimize" off for the picture; the profile is put
# back as it was afterwards.
profile="$build_windows/wineprefix/drive_c/windows/QUENLAT.INI"
saved="$work/QUENLAT.INI.saved"
[ -f "$profile" ] && cp "$profile" "$saved"
printf '[Options]\r\nAutoMinimize=no\r\n' >"$profile"
"$run" "$build_windows/QUENLAT.EXE" &
program=$!
geometry=$("$run" "$build_windows/quenlat_ui_driver.exe" "Quenlat" rect | tr -d '\r')
sleep 0.5
import -display "$DISPLAY" -window root -crop "$geometry" +repage "$root/docs/drop-window.png"
echo "wrote docs/drop-window.png ($geometry)"
"$run" "$build_windows/quenlat_ui_driver.exe" "Quenlat" click 1008
geometry=$("$run" "$build_windows/quenlat_ui_driver.exe" "About Quenlat" rect | tr -d '\r')
sleep 0.5
import -display "$DISPLAY" -window root -crop "$geometry" +repage "$root/docs/about-box.png"
echo "wrote docs/about-box.png ($geometry)"
"$run" "$build_windows/quenlat_ui_driver.exe" "About Quenlat" click 2
"$run" "$build_windows/quenlat_ui_driver.exe" "Quenlat" click 1
wait "$program"
if [ -f "$saved" ]; then cp "$saved" "$profile"; else rm -f "$profile"; fi
