#!/usr/bin/env bash
# Runs every fuzz_* target of a fuzz build (configured with -DVELMO_FUZZ=ON) for a
# given number of seconds each (as many at once as there are cores) and fails when
# any of them finds a crash.
#   scripts/run-fuzz.sh BUILD_DIR SECONDS [NAME_PATTERN]
# NAME_PATTERN (default fuzz_*) picks targets by file name, e.g. 'fuzz_tag*'.
# Corpora and findings go to a fresh folder under /tmp, printed at the end; set
# VELMO_FUZZ_WORK to reuse a folder (its corpora then grow from run to run).
set -u

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS [NAME_PATTERN]" >&2
  exit 2
fi
build=$1
seconds=$2
pattern=${3:-fuzz_*}
bin=$build/bin
work=${VELMO_FUZZ_WORK:-$(mktemp -d /tmp/velmo-fuzz.XXXXXX)}
mkdir -p "$work"

targets=()
for f in "$bin"/$pattern; do
  case $(basename "$f") in fuzz_*) [ -x "$f" ] && targets+=("$f") ;; esac
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz_* executables in $bin (configure with CC=clang CXX=clang++ -DVELMO_FUZZ=ON)" >&2
  exit 2
fi

# A few generated DICOM streams as a starting corpus.
if [ -x "$bin/velmo-fuzz-seeds" ] && [ ! -d "$work/seeds" ]; then
  "$bin/velmo-fuzz-seeds" "$work/seeds" || echo "seed generation failed; starting from empty corpora" >&2
fi

# One target: runs it for $seconds and writes its verdict line to $work/NAME.result.
run_target() {
  local f=$1 name corpus findings seeds log rc runs found
  local -a extra=()
  name=$(basename "$f")
  corpus=$work/corpus/$name
  findings=$work/findings/$name
  mkdir -p "$corpus" "$findings"
  case $name in
    fuzz_tagfind | fuzz_tagposition | fuzz_sendptr) seeds=$work/seeds/scanner ;;
    *)
      # Targets that take a whole file.
      seeds=$work/seeds/file
      extra+=(-max_len=40000)  # large enough for the loader's second read attempt
      ;;
  esac
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null
  log=$work/$name.log
  "$f" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" \
    -rss_limit_mb=2048 -timeout=10 "${extra[@]}" "$corpus" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  found=$(find "$findings" -type f | wc -l)
  if [ $rc -ne 0 ] || [ "$found" -ne 0 ]; then
    {
      echo "$name: FAILED (exit $rc, $found finding(s) in $findings, ${runs:-?} runs)"
      grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5
    } >"$work/$name.result"
  else
    echo "$name: ok, ${runs:-?} runs in ${seconds}s, corpus $(ls "$corpus" | wc -l) inputs" >"$work/$name.result"
  fi
}

# Each fuzzer is single-threaded: as many run side by side as there are cores.
parallel=${VELMO_FUZZ_JOBS:-$(nproc)}
running=0
for f in "${targets[@]}"; do
  run_target "$f" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait
status=0
for f in "${targets[@]}"; do
  name=$(basename "$f")
  cat "$work/$name.result" 2>/dev/null || { echo "$name: no result"; status=1; }
  grep -q ': FAILED' "$work/$name.result" 2>/dev/null && status=1
done
echo "work folder: $work"
exit $status
