#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need.
# Quick when everything is already there: it only calls apt when a package is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools linguist-qt6
  qt6-httpserver-dev libqt6websockets6-dev
  libgl-dev libvulkan-dev
  libsqlite3-dev libbenchmark-dev
  libclang-rt-14-dev
  fonts-dejavu-core
  qt6-svg-dev
  xvfb xauth xdotool xclip
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
