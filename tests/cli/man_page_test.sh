#!/bin/sh
# The man page against the tool: the same options as --help lists, and the
# same version.  Usage: man_page_test.sh TOOL MANPAGE
set -eu
tool=$1 page=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Options of --help: the lines that start with an option, up to its text.
"$tool" --help | sed -n 's/^  \(-[^ ,]*\)\(, \(--[^ ]*\)\)\{0,1\}.*/\1 \3/p' |
  tr ' ' '\n' | sed '/^$/d' | sort -u >"$scratch/help"
# Options of the page: the tags of its .TP paragraphs under OPTIONS.
sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | sed -n '/^\.TP/{n;p}' |
  sed 's/\\-/-/g' | grep -o -- '-[-a-z0-9]*' | sort -u >"$scratch/page"
if ! diff -u "$scratch/help" "$scratch/page"; then
  echo "man page and --help list different options (- help, + page)" >&2
  exit 1
fi
[ -s "$scratch/help" ] || { echo "no options found in --help" >&2; exit 1; }

version=$("$tool" --version | sed -n '1s/.* //p')
grep -q "^\.TH QUENLAT-CLI 1 \"[^\"]*\" \"Quenlat $version\"" "$page" || {
  echo "the man page does not name version $version" >&2
  exit 1
}
echo "man page: $(wc -l <"$scratch/help") options and version $version agree"
