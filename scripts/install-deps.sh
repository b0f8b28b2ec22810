#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need.
# Quick when everything is already there: apt runs only when a package is
# missing, and a user who cannot install is told the one command to run.
set -euo pipefail

# Real package names only: a name that another package merely provides is
# never reported as installed, and would send every build to apt.
packages=(
  cmake ninja-build g++ clang make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools linguist-qt6
  qt6-httpserver-dev qt6-websockets-dev
  libgl-dev libvulkan-dev
  libsqlite3-dev libbenchmark-dev libpng-dev
  libclang-rt-14-dev
  fonts-dejavu-core
  qt6-svg-dev
  xvfb xauth xdotool xclip
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qx 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

command="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  SUDO=(sudo -n)
else
  echo "Missing Debian packages: ${missing[*]}" >&2
  # Said the way it runs on this machine: through sudo where there is one,
  # else as root through su, which asks for root's password.
  if command -v sudo >/dev/null 2>&1; then
    echo "Install them with sudo, then run make again:" >&2
    echo "  sudo sh -c '$command'" >&2
  else
    echo "Install them as root (su asks for root's password), then run make again:" >&2
    echo "  su -c '$command'" >&2
  fi
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Waits for another apt instead of failing at once.
"${SUDO[@]}" apt-get -o DPkg::Lock::Timeout=120 update -qq
"${SUDO[@]}" apt-get -o DPkg::Lock::Timeout=120 install -y -qq --no-install-recommends "${missing[@]}"
