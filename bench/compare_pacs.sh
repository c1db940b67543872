#!/usr/bin/env bash
# Retrieves one generated study from a throw-away local archive with Velmo and with
# DCMTK's getscu, in one run, and prints the times and the ratio:
#   velmo-cli retrieve (C-GET, bit-preserving .part files renamed by study/series)
#   velmo-cli retrieve --move (C-MOVE to its own receiver)
#   TCP_NODELAY=1 getscu +B (bit-preserving, same archive, same study)
#   getscu +B with the environment's default (Nagle's algorithm on), once, for scale
# then, from the test programs when they are built (each starts its own archive):
#   the PACS window retrieving a study of IMAGES 512 x 512 images: time from "取得"
#   to the first retrieved image painted in the left pane, and to all in the lists;
#   cancel: the archive answering C-CANCEL, and a stand-in archive ignoring it.
#
#   bench/compare_pacs.sh [BUILD_DIR] [IMAGES]
# BUILD_DIR defaults to ./build, IMAGES to 500 (512 x 512 16-bit CT), in SERIES series
# (default 1; with 2 or more Velmo's C-GET takes two series at once). The archive runs
# on loopback ports 19112-19114 (PACS_BENCH_PORT; below the ephemeral range) and is killed by its process id on exit.
# Every tool runs RUNS times (default 3) into a fresh folder; the best time counts.
set -u

build=${1:-build}
images=${2:-500}
runs=${RUNS:-3}
nseries=${SERIES:-1}
cli=$build/bin/velmo-cli
port=${PACS_BENCH_PORT:-19112}
http=$((port + 1))
[ -x "$cli" ] || { echo "missing $cli" >&2; exit 2; }
command -v Orthanc >/dev/null || [ -x /usr/sbin/Orthanc ] || { echo "the archive server (orthanc) is not installed" >&2; exit 2; }

t=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$t"; }
trap cleanup EXIT

echo "generating $images 512 x 512 CT images ..."
python3 - "$t/seed" "$images" "$nseries" <<'PY' || { echo "generation failed" >&2; exit 1; }
# Explicit VR little endian files written by hand (no DICOM library needed).
import os, struct, sys
out, n, k = sys.argv[1], int(sys.argv[2]), max(1, int(sys.argv[3]))
os.makedirs(out)
def el(g, e, vr, v):
    if isinstance(v, str):
        v = v.encode()
        if len(v) % 2: v += b"\0" if vr == "UI" else b" "
    if vr in ("OB", "OW", "UN", "SQ", "UT"):
        return struct.pack("<HH2sHI", g, e, vr.encode(), 0, len(v)) + v
    return struct.pack("<HH2sH", g, e, vr.encode(), len(v)) + v
us = lambda x: struct.pack("<H", x)
study = "1.2.392.200.7.1"
ct = "1.2.840.10008.5.1.4.1.1.2"
px = b"".join((i % 4096).to_bytes(2, "little") for i in range(512 * 512))
for i in range(1, n + 1):
    series = f"{study}.{(i - 1) * k // n + 1}"
    sop = f"{series}.{i}"
    meta = el(2, 1, "OB", b"\0\1") + el(2, 2, "UI", ct) + el(2, 3, "UI", sop) + el(2, 0x10, "UI", "1.2.840.10008.1.2.1")
    meta = el(2, 0, "UL", struct.pack("<I", len(meta))) + meta
    ds = (el(8, 0x16, "UI", ct) + el(8, 0x18, "UI", sop) + el(8, 0x60, "CS", "CT") + el(0x10, 0x10, "PN", "Bench^Ct") +
          el(0x10, 0x20, "LO", "BENCH") + el(0x20, 0xD, "UI", study) + el(0x20, 0xE, "UI", series) +
          el(0x20, 0x13, "IS", str(i)) + el(0x28, 2, "US", us(1)) + el(0x28, 4, "CS", "MONOCHROME2") +
          el(0x28, 0x10, "US", us(512)) + el(0x28, 0x11, "US", us(512)) + el(0x28, 0x100, "US", us(16)) +
          el(0x28, 0x101, "US", us(12)) + el(0x28, 0x102, "US", us(11)) + el(0x28, 0x103, "US", us(0)) +
          el(0x7FE0, 0x10, "OW", px))
    with open(f"{out}/{i}.dcm", "wb") as f:
        f.write(b"\0" * 128 + b"DICM" + meta + ds)
PY

cat >"$t/cfg.json" <<JSON
{"Name":"bench","StorageDirectory":"$t/db","IndexDirectory":"$t/db",
 "DicomAet":"TESTPACS","DicomPort":$port,"HttpPort":$http,"RemoteAccessAllowed":false,
 "DicomCheckCalledAet":true,"DefaultEncoding":"Utf8",
 "DicomModalities":{"velmo":["VELMO","127.0.0.1",$((port + 2))]}}
JSON
/usr/sbin/Orthanc "$t/cfg.json" >"$t/orthanc.log" 2>&1 &
pid=$!
for _ in $(seq 200); do curl -sf "http://127.0.0.1:$http/system" >/dev/null && break; sleep 0.1; done
echo "seeding the archive (one storescu association) ..."
TCP_NODELAY=1 storescu -aec TESTPACS 127.0.0.1 "$port" "$t"/seed/*.dcm || { echo "seeding failed" >&2; exit 1; }

now() { date +%s.%N; }
best_of() {
  local name=$1; shift
  local best=
  for _ in $(seq "$runs"); do
    rm -rf "$t/out"; mkdir -p "$t/out"
    local a b d
    a=$(now); "$@" >/dev/null 2>&1 || { echo "$name failed" >&2; exit 1; }; b=$(now)
    d=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$best" ] || awk -v d="$d" -v b="$best" 'BEGIN { exit !(d < b) }'; then best=$d; fi
  done
  local n; n=$(find "$t/out" -type f | wc -l)
  printf '%-34s %8.3f s  (%d files)\n' "$name" "$best" "$n" >&2
  echo "$best"
}

study=1.2.392.200.7.1
v=$(best_of "velmo-cli retrieve (C-GET)" "$cli" retrieve --host 127.0.0.1 --port "$port" --called TESTPACS \
      --study "$study" --to "$t/out")
m=$(best_of "velmo-cli retrieve --move (C-MOVE)" "$cli" retrieve --host 127.0.0.1 --port "$port" --called TESTPACS \
      --study "$study" --move "$((port + 2))" --to "$t/out")
g=$(best_of "getscu +B, TCP_NODELAY=1" env TCP_NODELAY=1 getscu -aet VELMO -aec TESTPACS +B -od "$t/out" \
      -k QueryRetrieveLevel=STUDY -k StudyInstanceUID="$study" 127.0.0.1 "$port")
runs=1 n=$(best_of "getscu +B, Nagle on (default)" env -u TCP_NODELAY getscu -aet VELMO -aec TESTPACS +B -od "$t/out" \
      -k QueryRetrieveLevel=STUDY -k StudyInstanceUID="$study" 127.0.0.1 "$port")
awk -v v="$v" -v m="$m" -v g="$g" -v n="$n" 'BEGIN {
  printf "velmo C-GET / getscu (TCP_NODELAY=1): %.2f\n", v / g
  printf "velmo C-MOVE / velmo C-GET:           %.2f\n", m / v
  printf "velmo C-GET / getscu (default):       %.3f\n", v / n }'

# First image and cancel, measured by the test programs (figures, not assertions).
ui=$build/bin/test_pacs_window
core=$build/bin/test_pacs
if [ -x "$ui" ]; then
  VELMO_PACS_UI_IMAGES=$images VELMO_PACS_UI_SIZE=512 QT_QPA_PLATFORM=offscreen "$ui" 2>&1 |
    sed -n 's/^\[ figure \] /PACS window: /p'
fi
if [ -x "$core" ]; then
  "$core" --gtest_filter='PacsArchive.KilledArchive*:PacsFake.Cancel*' 2>&1 | sed -n 's/^\[ figure \] /cancel: /p'
fi
