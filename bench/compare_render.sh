#!/usr/bin/env bash
# compare_render.sh [-n REPEATS] [-s SIZE] [-f png|bmp] [FILE...]
# Renders each file with `velmo-cli render` and with DCMTK's dcm2pnm at the same
# window (the one velmo-cli reports for the file) and the same output size (SIZE
# pixels on the longer side; PNG, or 8-bit BMP with -f bmp), REPEATS times each, and
# prints the whole-process times and their ratio. Without files, a few images of the
# public corpus are used.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repeats=20
size=512
format=png
while getopts "n:s:f:" opt; do
  case $opt in
    n) repeats=$OPTARG ;;
    s) size=$OPTARG ;;
    f) format=$OPTARG ;;
    *) echo "usage: $0 [-n REPEATS] [-s SIZE] [-f png|bmp] [FILE...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
cli=${VELMO_CLI:-$here/../build/bin/velmo-cli}
[ -x "$cli" ] || { echo "velmo-cli not found at $cli (set VELMO_CLI)" >&2; exit 2; }
command -v dcm2pnm >/dev/null || { echo "dcm2pnm (Debian dcmtk) is not installed" >&2; exit 2; }
corpus=${VELMO_TESTDATA_DIR:-$here/../../shared/testdata}/public
if [ $# -eq 0 ]; then
  set --
  for f in pydicom/CT_small.dcm pydicom/MR_small.dcm fo-dicom/D_CLUNIE_CT1_RLE_FRAGS.dcm pydicom/SC_rgb_rle.dcm pydicom/SC_rgb_jpeg_dcmtk.dcm; do
    [ -f "$corpus/$f" ] && set -- "$@" "$corpus/$f"
  done
  [ $# -gt 0 ] || { echo "no files given and the corpus is not at $corpus" >&2; exit 2; }
fi
case $format in
  png) dformat=+on ;;
  bmp) dformat=+obp ;;
  *) echo "format must be png or bmp" >&2; exit 2 ;;
esac
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

now() { date +%s%N; }
total_v=0
total_d=0
printf '%-40s %6s %6s %10s %10s %7s\n' file level width velmo_ms dcmtk_ms ratio
for f in "$@"; do
  info=$("$cli" info "$f")
  level=$(sed -n 's/^level=//p' <<<"$info")
  width=$(sed -n 's/^width=//p' <<<"$info")
  colour=$(sed -n 's/^isColour=//p' <<<"$info")
  # Grey images get the same window in both tools; colour images are shown as they are.
  if [ "$colour" = 0 ]; then dwin=(+Ww "$level" "$width"); vwin=(--level "$level" --width "$width"); else dwin=(); vwin=(); fi
  # A file either tool cannot render is reported and left out of the totals.
  if ! "$cli" render "$f" -o "$tmp/v.$format" --canvas "${size}x${size}" "${vwin[@]}" >/dev/null 2>&1; then
    printf '%-40s velmo-cli failed\n' "$(basename "$f")"; continue
  fi
  if ! dcm2pnm --quiet "$dformat" "${dwin[@]}" +Sxv "$size" "$f" "$tmp/d.$format" >/dev/null 2>&1; then
    printf '%-40s dcm2pnm failed\n' "$(basename "$f")"; continue
  fi
  t0=$(now)
  for ((i = 0; i < repeats; i++)); do
    "$cli" render "$f" -o "$tmp/v.$format" --canvas "${size}x${size}" "${vwin[@]}" >/dev/null 2>&1
  done
  t1=$(now)
  for ((i = 0; i < repeats; i++)); do
    dcm2pnm --quiet "$dformat" "${dwin[@]}" +Sxv "$size" "$f" "$tmp/d.$format" >/dev/null 2>&1
  done
  t2=$(now)
  v=$(((t1 - t0) / 1000000)); d=$(((t2 - t1) / 1000000))
  total_v=$((total_v + v)); total_d=$((total_d + d))
  printf '%-40s %6s %6s %10d %10d %7s\n' "$(basename "$f")" "$level" "$width" "$v" "$d" \
    "$(awk -v a="$v" -v b="$d" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }')"
done
printf '%-40s %6s %6s %10d %10d %7s\n' "all ($repeats runs each)" "" "" "$total_v" "$total_d" \
  "$(awk -v a="$total_v" -v b="$total_d" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }')"
echo "ratio = velmo-cli time / dcm2pnm time (below 1: velmo-cli is faster)"
