#!/bin/sh
# Names as the user gave them, under Wine: names outside the ANSI code page,
# names the system would take for others, patterns, links and lists. In each
# case the console tool converts exactly the files named (their CR-LF line
# becomes LF) and every other file keeps its bytes.
#   names_under_wine.sh WORK CLI RUNNER
set -eu
work=$1 cli=$2 runner=$3
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
failed=0
n=0

# A Japanese locale of our own: under it Wine's ANSI code page is 932, whose
# second bytes include 0x5C, the backslash.
japanese="LOCPATH=$work/locale LC_ALL=ja_JP.UTF-8"
mkdir -p "$work/locale"
if ! localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" 2>/dev/null; then
  echo "names_under_wine: localedef cannot make ja_JP.UTF-8 (the locales package)" >&2
  exit 1
fi

# begin WHAT: a new case in a folder of its own.
begin() {
  n=$((n + 1))
  what=$1
  dir=$work/case$n
  mkdir -p "$dir"
  links=
}

# make FILE...: files holding one CR-LF line, their folders made.
make() {
  for f; do
    mkdir -p "$dir/$(dirname "$f")"
    printf 'a\r\n' >"$dir/$f"
  done
}

# link TARGET NAME: a symbolic link, which must stay one.
link() {
  ln -s "$1" "$dir/$2"
  links="$links $2"
}

# hide FILE: the file gets the hidden flag, as Windows keeps it under Wine.
hide() {
  (cd "$dir" && "$runner" attrib +h "$1" >/dev/null 2>&1)
}

# run [ENV=VALUE...] FOLDER ARG...: the tool with --to-lf, started in FOLDER.
run() {
  env=
  while [ "${1#*=}" != "$1" ]; do
    env="$env $1"
    shift
  done
  folder=$1
  shift
  status=0
  (cd "$dir/$folder" && exec env $env "$runner" "$cli" --to-lf --quiet "$@") \
    >"$dir.out" 2>"$dir.err" || status=$?
}

problem() {
  printf 'names_under_wine: %s: %s\n' "$what" "$*" >&2
  failed=1
}

# expect FILE...: the run succeeded and converted exactly these files.
expect() {
  [ "$status" = 0 ] || problem "exit status $status: $(cat "$dir.err")"
  find "$dir" -type f | sort >"$dir.files"
  while IFS= read -r path; do
    name=${path#"$dir/"}
    want='a\r\n'
    for f; do [ "$f" = "$name" ] && want='a\n'; done
    got=$(od -An -c "$path" | tr -d ' ')
    [ "$got" = "$want" ] || problem "$name holds '$got', not '$want'"
  done <"$dir.files"
  for f; do [ -f "$dir/$f" ] || problem "$f is gone"; done
  for l in $links; do [ -L "$dir/$l" ] || problem "$l is no longer a link"; done
}

# expect_error TEXT: the run failed, saying TEXT on standard error, and
# converted nothing.
expect_error() {
  [ "$status" = 1 ] || problem "exit status $status, not 1"
  grep -qF -- "$1" "$dir.err" || problem "standard error says '$(cat "$dir.err")', not '$1'"
  status=0
  expect
}

# Windows' own name for a path of this machine.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

begin "a name whose letter the code page lacks, beside its look-alike"
make abcd.txt Ābcd.txt
run . Ābcd.txt
expect Ābcd.txt

begin "a name the code page holds none of"
make abcd.txt файл.txt
run . файл.txt
expect файл.txt

begin "a fullwidth asterisk"
make a.txt b.txt ＊.txt
run . ＊.txt
expect ＊.txt

begin "a walked folder holding a fullwidth backslash"
make victim.txt tree/..＼victim.txt tree/x.txt
run . -r tree
expect tree/..＼victim.txt tree/x.txt

begin "a start-up folder beside its look-alike"
make Osaka/n.txt Ōsaka/n.txt
run Ōsaka n.txt
expect Ōsaka/n.txt

begin "a start-up folder the code page holds none of"
make Отчёты/n.txt
run Отчёты n.txt
expect Отчёты/n.txt

begin "a name that ends in a dot, beside the name without it"
make b.txt b.txt.
run . b.txt.
expect b.txt.

begin "a path of 300 characters"
make short.txt
long=$dir/$(printf '%0100d' 0)/$(printf '%0100d' 1)
pad=$((300 - 2 - ${#long} - 1 - 4))  # Z:, the folders, \, the name's digits, .txt
if [ "$pad" -lt 1 ]; then pad=1; fi
name=$(printf '%0*d' "$pad" 2).txt
make "${long#"$dir/"}/$name"
run . "$(windows_path "$long/$name")"
expect "${long#"$dir/"}/$name"

begin "a \\\\?\\ path"
make f.txt g.txt
run . "\\\\?\\$(windows_path "$dir/f.txt")"
expect f.txt

begin "a folder and a pattern under code page 932"
make 予定表/月曜.txt 表.txt 表表.txt 予定.txt
run $japanese . -r 予定表 '表*'
expect 予定表/月曜.txt 表.txt 表表.txt

begin "patterns match long names only, and no hidden file"
make notes.txt notes.txt~ data.txt_backup page.htm page.html a.ini desktop.ini
hide desktop.ini
run . '*.TXT' '*.htm' '*.ini'
expect notes.txt page.htm a.ini

begin "a hidden file named"
make desktop.ini other.ini
hide desktop.ini
run . Desktop.ini
expect desktop.ini

begin "a pattern matches letters beyond ASCII without case"
make abcd.txt Ābcd.txt
run . 'ā*.txt'
expect Ābcd.txt

begin "a '?' is one character, a pair of surrogates too; '*.*' is every name"
make one/a.txt one/ab.txt one/𝄞.txt all/README all/x.txt
run . 'one/?.txt' 'all/*.*'
expect one/a.txt one/𝄞.txt all/README all/x.txt

begin "a symbolic link to a file"
make target.txt other.txt
link target.txt link.txt
run . link.txt
expect target.txt

begin "a missing file is named as given"
make abcd.txt
run . Ābcd.txt
expect_error "quenlat-cli: Ābcd.txt: File or directory does not exist"

begin "the tool itself in a folder the code page holds none of"
mkdir -p "$dir/Отчёты"
cp "$cli" "$dir/Отчёты/quenlat-cli.exe"
status=0
(cd "$dir" && "$runner" Отчёты/quenlat-cli.exe --version) >"$dir.out" 2>"$dir.err" || status=$?
[ "$status" = 0 ] && grep -q '^quenlat-cli (' "$dir.out" ||
  problem "--version: exit status $status: $(cat "$dir.err")"

# --files-from, in UTF-8 and in UTF-16 either way round with its mark.
mkdir -p "$work/lists"
printf 'café.txt\n' >"$work/lists/utf-8"
{ printf '\377\376'; printf 'café.txt\r\n' | iconv -f UTF-8 -t UTF-16LE; } >"$work/lists/utf-16le"
{ printf '\376\377'; printf 'café.txt\n' | iconv -f UTF-8 -t UTF-16BE; } >"$work/lists/utf-16be"
for list in utf-8 utf-16le utf-16be; do
  begin "a $list list"
  make café.txt cafe.txt
  run . --files-from "$(windows_path "$work/lists/$list")"
  expect café.txt
done

# Half a character at the end: without it the last name would be another's.
begin "a UTF-16 list that ends in half a character"
make a.txt ab abc
{ printf '\377\376'; printf 'a.txt\nab' | iconv -f UTF-8 -t UTF-16LE; printf 'c'; } >"$work/lists/odd"
run . --files-from "$(windows_path "$work/lists/odd")"
expect_error "lists\\odd: a UTF-16 list that ends in half a character"

[ "$failed" = 0 ] &&
  echo "names_under_wine: $n cases, each converted exactly the files named"
exit "$failed"
