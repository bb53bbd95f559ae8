#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev clang libclang-rt-14-dev libssl-dev pkg-config
  libcpp-httplib-dev dpkg-dev file systemd iproute2)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
