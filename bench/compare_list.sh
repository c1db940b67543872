#!/usr/bin/env bash
# Lists one folder of CT files with Velmo and with its peers, in one run, and prints
# the times and ratios:
#   velmo-cli list FOLDER             (intake, loading worker, study tree, TSV output)
#   dcmdump +sd +r -M +sb 7fe0,0010   (DCMTK: header only, stops before the pixel data)
#   pydicom dcmread(stop_before_pixels=True) over the folder, when pydicom is importable
#
#   bench/compare_list.sh [BUILD_DIR] [FOLDER]
# BUILD_DIR defaults to ./build. Without FOLDER the 2,000 generated 512 x 512 CT files
# of velmo-bench's list benchmark are used (made once under /tmp/velmo-compare-list).
# Every tool runs once untimed to warm the page cache, then RUNS times (default 3);
# the best time counts.
set -u

build=${1:-build}
folder=${2:-}
runs=${RUNS:-3}
bin=$build/bin

if [ -z "$folder" ]; then
  folder=/tmp/velmo-compare-list
  if [ ! -x "$bin/velmo-bench" ]; then
    echo "no FOLDER given and $bin/velmo-bench is missing (configure with -DVELMO_BENCH=ON)" >&2
    exit 2
  fi
  echo "making or reusing the generated CT folder $folder ..."
  VELMO_BENCH_LIST_DIR=$folder "$bin/velmo-bench" --benchmark_filter='BM_ListEntryReader_CtFolder/' \
    --benchmark_min_time=0.01 >/dev/null 2>&1 || { echo "velmo-bench failed" >&2; exit 1; }
fi
if [ ! -d "$folder" ]; then
  echo "not a folder: $folder" >&2
  exit 2
fi
count=$(find "$folder" -type f | wc -l)
echo "folder: $folder ($count files)"

now() { date +%s.%N; }
# best_of NAME COMMAND...: runs the command once to warm up, then $runs times; prints the best seconds.
best_of() {
  local name=$1; shift
  "$@" >/dev/null 2>&1
  local rc=$?
  if [ $rc -ne 0 ]; then
    echo "$name: failed (exit $rc)" >&2
    return 1
  fi
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1 dt
    t0=$(now)
    "$@" >/dev/null 2>&1
    t1=$(now)
    dt=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$dt < $best" | bc -l)" = 1 ]; then best=$dt; fi
  done
  echo "$best"
}

declare -A seconds
if [ -x "$bin/velmo-cli" ] && "$bin/velmo-cli" 2>&1 | grep -q 'list PATH'; then
  if t=$(best_of velmo "$bin/velmo-cli" list "$folder" --level image); then seconds[velmo]=$t; fi
else
  echo "velmo-cli list: not available in $bin (skipped)"
fi
if command -v dcmdump >/dev/null 2>&1; then
  if t=$(best_of dcmdump dcmdump -q +sd +r -M +sb 7fe0,0010 "$folder"); then seconds[dcmdump]=$t; fi
else
  echo "dcmdump: not installed (skipped)"
fi
# The first Python that can import pydicom (Debian's python3-pydicom installs into /usr/bin/python3).
python=""
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c 'import pydicom' >/dev/null 2>&1; then
    python=$candidate
    break
  fi
done
if [ -n "$python" ]; then
  read -r -d '' pyscript <<'EOF'
import os, sys
from pydicom import dcmread
n = 0
for root, _, names in os.walk(sys.argv[1]):
    for name in names:
        try:
            dcmread(os.path.join(root, name), stop_before_pixels=True)
            n += 1
        except Exception:
            pass
EOF
  if t=$(best_of pydicom "$python" -c "$pyscript" "$folder"); then seconds[pydicom]=$t; fi
else
  echo "pydicom: not importable (skipped)"
fi

echo
printf '%-10s %10s %12s\n' tool seconds files/s
for tool in velmo dcmdump pydicom; do
  [ -n "${seconds[$tool]:-}" ] || continue
  printf '%-10s %10.3f %12.0f\n' "$tool" "${seconds[$tool]}" "$(echo "$count / ${seconds[$tool]}" | bc -l)"
done
if [ -n "${seconds[velmo]:-}" ]; then
  echo
  fastest=""
  for tool in dcmdump pydicom; do
    [ -n "${seconds[$tool]:-}" ] || continue
    printf 'velmo is %.2f times as fast as %s\n' "$(echo "${seconds[$tool]} / ${seconds[velmo]}" | bc -l)" "$tool"
    if [ -z "$fastest" ] || [ "$(echo "${seconds[$tool]} < ${seconds[$fastest]}" | bc -l)" = 1 ]; then fastest=$tool; fi
  done
  [ -n "$fastest" ] && printf 'against the fastest peer (%s): %.2f\n' "$fastest" \
    "$(echo "${seconds[$fastest]} / ${seconds[velmo]}" | bc -l)"
fi
