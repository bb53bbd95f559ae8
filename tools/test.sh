#!/usr/bin/env bash
# Installs what is missing, builds the project with warnings as errors and runs the
# whole test suite. SANITIZE=address (with undefined) or SANITIZE=thread builds into
# build-address or build-thread instead of build.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
san=${SANITIZE:-}
dir=build${san:+-$san}
type=Release
[ -z "$san" ] || type=RelWithDebInfo
bench=ON
[ -z "$san" ] || bench=OFF
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=$type -DTLM_WERROR=ON -DTLM_SANITIZE="$san" -DTLM_BENCH=$bench
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j2
