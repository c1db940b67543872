#!/usr/bin/env bash
# Fails when a core source (anything outside the ui/ folders) includes a Qt header.
root=$1
hits=$(find "$root/scanner" "$root/rewrite" "$root/app" "$root/cli" \( -name '*.h' -o -name '*.cpp' \) -not -path '*/ui/*' 2>/dev/null \
  | xargs grep -nE '#\s*include\s*[<"](Q[A-Za-z]|qt)' 2>/dev/null)
if [ -n "$hits" ]; then echo "Qt headers in core code:"; echo "$hits"; exit 1; fi
echo "core is Qt-free"
