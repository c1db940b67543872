#!/usr/bin/env bash
# Builds Velmo and opens it on the bundled sample study.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
sample=build/sample-study
if [ -x build/bin/velmo-sample ]; then build/bin/velmo-sample "$sample" >/dev/null; fi
exec build/bin/velmo "$sample" "$@"
