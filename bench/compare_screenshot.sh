#!/usr/bin/env bash
# Times `velmo --screenshot` under a fresh Xvfb, the way a user's start would be
# measured: from the X server being ready to the picture saved and the process gone
# (the server's own start is left out, as it is the same for any program).
#
#   bench/compare_screenshot.sh [BUILD_DIR] [FOLDER]
# BUILD_DIR defaults to ./build. FOLDER (default: the 2,000 generated CT files of
# velmo-bench's list benchmark, of which the first 600 are used) gives the 600-file
# case; its first file is the one-file case. Each case runs once untimed, then RUNS
# times (default 5); the best and the median are printed.
set -u
build=${1:-build}
folder=${2:-}
runs=${RUNS:-5}
bin=$build/bin
command -v Xvfb >/dev/null || { echo "Xvfb is not installed (apt-get install xvfb)" >&2; exit 2; }
if [ -z "$folder" ]; then
  src=/tmp/velmo-compare-list
  VELMO_BENCH_LIST_DIR=$src "$bin/velmo-bench" --benchmark_filter='BM_ListEntryReader_CtFolder/' \
    --benchmark_min_time=0.01 >/dev/null 2>&1 || { echo "velmo-bench failed" >&2; exit 1; }
  folder=/tmp/velmo-compare-screenshot
  if [ ! -d "$folder" ]; then
    mkdir -p "$folder"
    ls "$src" | sort | head -600 | while read -r f; do ln -s "$src/$f" "$folder/$f"; done
  fi
fi
one=$(find "$folder" -maxdepth 1 \( -type f -o -type l \) | sort | head -1)
count=$(find "$folder" -maxdepth 1 \( -type f -o -type l \) | wc -l)

display=:$((90 + $$ % 100))
sock=/tmp/.X11-unix/X${display#:}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Milliseconds from a fresh server being ready to the end of "$@".
timed() {
  Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
  local xp=$!
  for _ in $(seq 300); do [ -e "$sock" ] && break; sleep 0.01; done
  local t0 t1
  t0=$(date +%s%N)
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  kill $xp
  wait $xp 2>/dev/null
  echo $(((t1 - t0) / 1000000))
}

report() {
  local name=$1
  shift
  timed "$@" >/dev/null
  local times=()
  for _ in $(seq "$runs"); do times+=("$(timed "$@")"); done
  local sorted
  sorted=$(printf '%s\n' "${times[@]}" | sort -n)
  printf '%-22s best %4d ms   median %4d ms   (%s)\n' "$name" "$(echo "$sorted" | head -1)" \
    "$(echo "$sorted" | sed -n "$(((runs + 1) / 2))p")" "$(echo "${times[@]}")"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
report "X server alone" true
report "1 file" "$bin/velmo" --screenshot "$out/one.png" "$one"
report "$count files" "$bin/velmo" --screenshot "$out/many.png" "$folder"
