#!/usr/bin/env bash
# Decodes the same lossless JPEG 512 x 512 16-bit CT frame with Velmo and with DCMTK,
# side by side in one run, and prints the output throughput and their ratio:
#   velmo-bench BM_Codec_JpegLossless_Ct512   (the decoder alone, in process)
#   velmo-cli info FILE                       (whole load: read, extract, decode, finish)
#   dcmdjpeg FILE OUT                         (DCMTK: read, decode, write)
# The two whole-file tools run RUNS times each (default 50) and include their start-up.
#
#   bench/compare_codecs.sh [BUILD_DIR]
set -u
build=${1:-build}
runs=${RUNS:-50}
bin=$build/bin
dir=/tmp/velmo-bench-codecs
for tool in "$bin/velmo-bench" "$bin/velmo-cli"; do
  [ -x "$tool" ] || { echo "missing $tool (build velmo-bench and velmo-cli)" >&2; exit 2; }
done
command -v dcmdjpeg >/dev/null || { echo "dcmdjpeg (DCMTK) not installed" >&2; exit 2; }

# The decoder alone; this also writes $dir/ll.dcm.
bench=$("$bin/velmo-bench" --benchmark_filter='BM_Codec_JpegLossless_Ct512' --benchmark_format=csv 2>/dev/null |
  grep '^"BM_Codec_JpegLossless_Ct512"')
[ -f "$dir/ll.dcm" ] || { echo "velmo-bench did not write $dir/ll.dcm (dcmcjpeg missing?)" >&2; exit 1; }
file=$dir/ll.dcm
frame_mb=$(echo "512 * 512 * 2 / 1048576" | bc -l)

time_runs() {  # seconds for $runs runs of the command
  local start end
  "$@" >/dev/null 2>&1  # warm the page cache
  start=$(date +%s.%N)
  for _ in $(seq "$runs"); do "$@" >/dev/null 2>&1; done
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

velmo=$(time_runs "$bin/velmo-cli" info "$file")
dcmtk=$(time_runs dcmdjpeg "$file" "$dir/dcmdjpeg-out.dcm")
cpu_ms=$(echo "$bench" | cut -d, -f4)  # the benchmark reports milliseconds
printf 'Velmo decoder alone   %8.1f MB/s (%.2f ms CPU per frame)\n' \
  "$(echo "$frame_mb / ($cpu_ms / 1000)" | bc -l)" "$cpu_ms"
printf 'velmo-cli info        %8.1f MB/s (%.2f ms per file)\n' \
  "$(echo "$frame_mb * $runs / $velmo" | bc -l)" "$(echo "$velmo * 1000 / $runs" | bc -l)"
printf 'dcmdjpeg              %8.1f MB/s (%.2f ms per file)\n' \
  "$(echo "$frame_mb * $runs / $dcmtk" | bc -l)" "$(echo "$dcmtk * 1000 / $runs" | bc -l)"
printf 'dcmdjpeg / velmo-cli time ratio: %.2f\n' "$(echo "$dcmtk / $velmo" | bc -l)"
