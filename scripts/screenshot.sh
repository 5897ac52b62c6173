#!/usr/bin/env bash
# Takes docs/translate-dialog.png: the Translate Linebreaks dialog after it
# has converted two sample files, with QUENLAT.EXE under Wine in a private
# virtual display where Wine draws the caption bar itself; then, with
# QUENLAT.EXE started bare, docs/drop-window.png (the main window) and
# docs/about-box.png (its About box). Where this kernel runs no 32-bit
# programs, the 64-bit build is shown instead.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/install-deps.sh"
choose_windows_build
"$root/scripts/build.sh" "$(basename "$windows_build")" >/dev/null
unset DISPLAY  # a display of our own: nothing else on the picture
ensure_display

run="$windows_build/wine-run.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"; stop_display' EXIT
"$run" cmd /c exit >/dev/null 2>&1 || true  # makes the prefix first
# The caption bar's close button is a glyph of Marlett, which this Wine does
# not find among its own fonts.
fonts="$windows_build/wineprefix/drive_c/windows/Fonts"
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
  mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi

printf 'Dear reader,\nthese lines end in LF.\n' >"$work/letter.txt"
printf 'one\r\ntwo\r\nthree\r\n' >"$work/notes.txt"
winpath() { "$run" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

"$run" "$windows_build/QUENLAT.EXE" "$(winpath "$work/letter.txt")" "$(winpath "$work/notes.txt")" &
program=$!
geometry=$("$run" "$windows_build/quenlat_ui_driver.exe" "Translate Linebreaks" \
             click 1 text 1007 "2 files converted." rect | tr -d '\r')
sleep 0.5  # the last paints reach the X server
mkdir -p "$root/docs"
import -display "$DISPLAY" -window root -crop "$geometry" +repage "$root/docs/translate-dialog.png"
"$run" "$windows_build/quenlat_ui_driver.exe" "Translate Linebreaks" click 2
wait "$program"
echo "wrote docs/translate-dialog.png ($geometry)"

# Started bare, with "Auto Minimize" off for the picture; the profile is put
# back as it was afterwards.
profile="$windows_build/wineprefix/drive_c/windows/QUENLAT.INI"
saved="$work/QUENLAT.INI.saved"
[ -f "$profile" ] && cp "$profile" "$saved"
printf '[Options]\r\nAutoMinimize=no\r\n' >"$profile"
"$run" "$windows_build/QUENLAT.EXE" &
program=$!
geometry=$("$run" "$windows_build/quenlat_ui_driver.exe" "Quenlat" rect | tr -d '\r')
sleep 0.5
import -display "$DISPLAY" -window root -crop "$geometry" +repage "$root/docs/drop-window.png"
echo "wrote docs/drop-window.png ($geometry)"
"$run" "$windows_build/quenlat_ui_driver.exe" "Quenlat" click 1008
geometry=$("$run" "$windows_build/quenlat_ui_driver.exe" "About Quenlat" rect | tr -d '\r')
sleep 0.5
import -display "$DISPLAY" -window root -crop "$geometry" +repage "$root/docs/about-box.png"
echo "wrote docs/about-box.png ($geometry)"
"$run" "$windows_build/quenlat_ui_driver.exe" "About Quenlat" click 2
"$run" "$windows_build/quenlat_ui_driver.exe" "Quenlat" click 1
wait "$program"
if [ -f "$saved" ]; then cp "$saved" "$profile"; else rm -f "$profile"; fi
