#!/usr/bin/env bash
# Installs what is missing, builds the miner and shows what it offers.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
build/app/ilvo-varnel-tlm --help
