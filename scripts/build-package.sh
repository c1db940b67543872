#!/usr/bin/env bash
# Builds the Debian package velmo_<version>_<arch>.deb into the build folder.
#   scripts/build-package.sh [BUILD_DIR]      (default: build)
# Install it with: sudo apt install ./build/velmo_<version>_<arch>.deb
# JOBS sets the build's parallel jobs (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb=$build/velmo_${version}_$(dpkg --print-architecture).deb
echo "package: $deb ($(du -h "$deb" | cut -f1))"
dpkg-deb -f "$deb" Depends
