#!/bin/sh
# QUENLAT.EXE under Wine given names that the ANSI code page cannot hold or
# that the system's older rules take for other names: each run converts
# exactly the file named and nothing beside it. A case per line of the
# table: the start-up folder, the argument, the file that must be converted
# and the files that must not.
#   names_under_wine.sh WORKDIR QUENLAT.EXE UI-DRIVER RUNNER
set -eu
work=$1 exe=$2 driver=$3 runner=$4
rm -rf "$work"
mkdir -p "$work"
failed=0

lf=$(printf 'a\nb\n' | od -An -c | tr -d ' \n')
crlf=$(printf 'a\r\nb\r\n' | od -An -c | tr -d ' \n')
content() { od -An -c "$1" | tr -d ' \n'; }

# run CASE START ARGUMENT: QUENLAT.EXE started in START with ARGUMENT,
# Convert clicked, the dialog closed once one file is converted.
run() {
  (cd "$2" && exec "$runner" "$exe" "$3") >"$work/$1.out" 2>&1 &
  pid=$!
  if ! "$runner" "$driver" "Translate Linebreaks" click 1 text 1007 "1 files converted." \
       click 2 >>"$work/$1.out" 2>&1; then
    echo "names_under_wine: $1: the batch did not convert one file:"
    cat "$work/$1.out"
    failed=1
    # Whatever the program asks then (an error's OK, "Continue batch?" No),
    # and the dialog closed, so that the run ends without converting more.
    "$runner" "$driver" "Quenlat" click 1 >/dev/null 2>&1 || true
    "$runner" "$driver" "Quenlat" click 7 >/dev/null 2>&1 || true
    "$runner" "$driver" "Translate Linebreaks" click 2 >/dev/null 2>&1 || true
  fi
  wait "$pid" || true
}

# expect CASE CONVERTED [UNTOUCHED...]
expect() {
  name=$1 converted=$2
  shift 2
  if [ "$(content "$converted")" != "$crlf" ]; then
    echo "names_under_wine: $name: $converted was not converted"
    failed=1
  fi
  for other in "$@"; do
    if [ "$(content "$other")" != "$lf" ]; then
      echo "names_under_wine: $name: $other was converted too"
      failed=1
    fi
  done
}

# Every case's files hold LF breaks: automatic mode gives them CR-LF.
put() { for f in "$@"; do printf 'a\nb\n' >"$f"; done; }

export LC_ALL=C.UTF-8

d="$work/look-alike" && mkdir -p "$d" && put "$d/Ābcd.txt" "$d/abcd.txt"
run look-alike "$d" "Ābcd.txt"
expect look-alike "$d/Ābcd.txt" "$d/abcd.txt"

d="$work/cyrillic" && mkdir -p "$d" && put "$d/файл.txt" "$d/abcd.txt"
run cyrillic "$d" "файл.txt"
expect cyrillic "$d/файл.txt" "$d/abcd.txt"

d="$work/start-up" && mkdir -p "$d/Ōsaka" "$d/Osaka" && put "$d/Ōsaka/f.txt" "$d/Osaka/f.txt"
run start-up "$d/Ōsaka" "f.txt"
expect start-up "$d/Ōsaka/f.txt" "$d/Osaka/f.txt"

d="$work/trailing-dot" && mkdir -p "$d" && put "$d/b.txt." "$d/b.txt"
run trailing-dot "$d" "b.txt."
expect trailing-dot "$d/b.txt." "$d/b.txt"

d="$work/long-path"
deep="$d/$(printf '%0100d' 0)/$(printf '%0100d' 1)/$(printf '%0100d' 2)"
mkdir -p "$deep" && put "$deep/long.txt"
run long-path "$d" "Z:$(echo "$deep/long.txt" | tr / '\\')"
expect long-path "$deep/long.txt"

d="$work/link" && mkdir -p "$d" && put "$d/target.txt" && ln -s target.txt "$d/link.txt"
run link "$d" "link.txt"
expect link "$d/target.txt"
if [ ! -L "$d/link.txt" ] || [ "$(readlink "$d/link.txt")" != target.txt ]; then
  echo "names_under_wine: link: link.txt is no longer the link to target.txt"
  failed=1
fi

# Under code page 932 (a private Japanese locale): a name whose character
# 表 ends in the byte of '\' in that code page, and one the code page lacks.
locales="$work/locales"
mkdir -p "$locales"
if localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null 2>&1; then
  d="$work/cp932" && mkdir -p "$d/予定表" && put "$d/予定表/表ā.txt" "$d/予定表/表a.txt"
  export LOCPATH="$locales" LC_ALL=ja_JP.UTF-8
  run cp932 "$d" "予定表\\表ā.txt"
  expect cp932 "$d/予定表/表ā.txt" "$d/予定表/表a.txt"
else
  echo "names_under_wine: no Japanese locale can be made here; code page 932 not tried"
fi

[ "$failed" = 0 ] && echo "names_under_wine: every name converted its own file only"
exit "$failed"
