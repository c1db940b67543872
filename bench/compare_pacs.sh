#!/usr/bin/env bash
# Retrieves one generated study from a throw-away local archive with Velmo and with
# DCMTK's getscu, in one run, and prints the times and the ratio:
#   velmo-cli retrieve (C-GET, bit-preserving .part files renamed by study/series)
#   TCP_NODELAY=1 getscu +B (bit-preserving, same archive, same study)
#   getscu +B with the environment's default (Nagle's algorithm on), once, for scale
#
#   bench/compare_pacs.sh [BUILD_DIR] [IMAGES]
# BUILD_DIR defaults to ./build, IMAGES to 500 (512 x 512 16-bit CT). The archive runs
# on loopback ports 43112/43113 and is killed by its process id on exit.
# Every tool runs RUNS times (default 3) into a fresh folder; the best time counts.
set -u

build=${1:-build}
images=${2:-500}
runs=${RUNS:-3}
cli=$build/bin/velmo-cli
port=${PACS_BENCH_PORT:-43112}
http=$((port + 1))
[ -x "$cli" ] || { echo "missing $cli" >&2; exit 2; }
command -v Orthanc >/dev/null || [ -x /usr/sbin/Orthanc ] || { echo "the archive server (orthanc) is not installed" >&2; exit 2; }

t=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$t"; }
trap cleanup EXIT

echo "generating $images 512 x 512 CT images ..."
python3 - "$t/seed" "$images" <<'PY' || { echo "generation failed (python3-pydicom needed)" >&2; exit 1; }
import sys, os
import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian
out, n = sys.argv[1], int(sys.argv[2])
os.makedirs(out)
study = "1.2.392.200.7.1"
series = study + ".1"
px = (np.arange(512 * 512, dtype=np.uint16).reshape(512, 512) % 4096).tobytes()
for i in range(1, n + 1):
    m = FileMetaDataset()
    m.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.2"
    m.MediaStorageSOPInstanceUID = f"{series}.{i}"
    m.TransferSyntaxUID = ExplicitVRLittleEndian
    d = Dataset()
    d.file_meta = m
    d.SOPClassUID = m.MediaStorageSOPClassUID
    d.SOPInstanceUID = m.MediaStorageSOPInstanceUID
    d.PatientName = "Bench^Ct"
    d.PatientID = "BENCH"
    d.StudyInstanceUID = study
    d.SeriesInstanceUID = series
    d.Modality = "CT"
    d.InstanceNumber = i
    d.Rows = d.Columns = 512
    d.SamplesPerPixel = 1
    d.PhotometricInterpretation = "MONOCHROME2"
    d.BitsAllocated = 16
    d.BitsStored = 12
    d.HighBit = 11
    d.PixelRepresentation = 0
    d.PixelData = px
    d.is_little_endian = True
    d.is_implicit_VR = False
    d.save_as(f"{out}/{i}.dcm", write_like_original=False)
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
g=$(best_of "getscu +B, TCP_NODELAY=1" env TCP_NODELAY=1 getscu -aet VELMO -aec TESTPACS +B -od "$t/out" \
      -k QueryRetrieveLevel=STUDY -k StudyInstanceUID="$study" 127.0.0.1 "$port")
runs=1 n=$(best_of "getscu +B, Nagle on (default)" env -u TCP_NODELAY getscu -aet VELMO -aec TESTPACS +B -od "$t/out" \
      -k QueryRetrieveLevel=STUDY -k StudyInstanceUID="$study" 127.0.0.1 "$port")
awk -v v="$v" -v g="$g" -v n="$n" \
  'BEGIN { printf "velmo / getscu (TCP_NODELAY=1): %.2f   velmo / getscu (default): %.3f\n", v / g, v / n }'
