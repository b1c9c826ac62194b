#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, when any is missing.
# As root it runs apt-get itself; otherwise it prints the line to run as root (with su, and with
# sudo where it exists) and fails.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git openssl python3 python3-jsonschema clang-format clang libclang-rt-14-dev
  nlohmann-json3-dev libcurl4-openssl-dev libssl-dev libicu-dev uuid-dev
  libsecret-1-dev libglib2.0-dev libgtk-3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  gnome-keyring keepassxc dbus dbus-x11 libsecret-tools xvfb xauth xdotool at-spi2-core
  libkf5wallet-bin libqca-qt5-2-plugins
  sway grim weston
  bubblewrap xdg-dbus-proxy xdg-desktop-portal
  lintian
)
if [ "${1:-}" = "--bench" ]; then packages+=(hyperfine gh time curl); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing missing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  # A minimal Debian has no sudo: su always works, given the root password.
  install="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  echo "Missing Debian packages. Install them as root, then run make again:" >&2
  echo "  su -c '$install'" >&2
  if command -v sudo >/dev/null 2>&1; then echo "  or: sudo sh -c '$install'" >&2; fi
  exit 1
fi
