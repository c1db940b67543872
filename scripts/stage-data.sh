#!/usr/bin/env bash
# stage-data.sh SRC DST: copy SRC/{Config,Master,Icon} into DST. A file named
# NAME.utf8 becomes NAME in Shift-JIS (CP932) with CR LF line ends; the user's
# own Velmo.ini in DST is never overwritten once it exists.
set -euo pipefail
src=$1; dst=$2
mkdir -p "$dst"
for top in Config Master Icon; do
  [ -d "$src/$top" ] || continue
  (cd "$src" && find "$top" -type d) | while read -r d; do mkdir -p "$dst/$d"; done
  (cd "$src" && find "$top" -type f) | while read -r f; do
    case "$f" in
      *.utf8)
        out="$dst/${f%.utf8}"
        if [ "$(basename "$out")" = Velmo.ini ] && [ -e "$out" ]; then continue; fi
        sed 's/\r$//; s/$/\r/' "$src/$f" | iconv -f UTF-8 -t CP932 > "$out.tmp"
        mv "$out.tmp" "$out" ;;
      *) cp "$src/$f" "$dst/$f" ;;
    esac
  done
done
