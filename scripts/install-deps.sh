#!/usr/bin/env bash
# Installs the Debian 12 packages Velmo needs to build, run and test. Safe to re-run:
# packages already present are not fetched again.
set -euo pipefail
packages=(
  build-essential cmake pkg-config clang libclang-rt-dev
  libgtest-dev libbenchmark-dev
  qt6-base-dev libgl1-mesa-dev
  libturbojpeg0-dev libpng-dev zlib1g-dev libopenjp2-7-dev libcharls-dev libopenjph-dev
  libopenjp2-tools openjph-tools
  dcmtk python3-pydicom fonts-ipafont-gothic locales poppler-utils
  libdcmtk-dev orthanc openssl curl
  dpkg-dev desktop-file-utils libxml2-utils shared-mime-info xdg-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# A comma-decimal locale for the tests that prove numbers ignore the user's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  if [ -f /etc/locale.gen ]; then
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    $SUDO locale-gen >/dev/null 2>&1 || true
  fi
fi
