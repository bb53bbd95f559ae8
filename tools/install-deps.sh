#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
# With --cross, also what cross-building for ARM64 and RISC-V and running the
# results under emulation need: Debian's cross compilers, qemu's user mode, and
# the arm64 builds of the libraries the whole program links (through multiarch).
# RISC-V gets the standard-library-only part, so it needs no libraries; its
# GoogleTest is built from the sources libgtest-dev ships.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev clang libclang-rt-14-dev libssl-dev pkg-config
  libcpp-httplib-dev dpkg-dev file systemd iproute2)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if [ "${1:-}" = --cross ]; then
  packages+=(crossbuild-essential-arm64 g++-riscv64-linux-gnu qemu-user
    libc6:arm64 libssl-dev:arm64 libcpp-httplib-dev:arm64 libgtest-dev:arm64)
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
  fi
fi
missing=()
# A package installed for a second architecture as well is found by its name with
# this machine's architecture.
arch=$(dpkg --print-architecture)
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || dpkg -s "$p:$arch" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
