#!/usr/bin/env bash
# Cross-builds for ARM64 and RISC-V and tests the results under qemu's user mode:
# - aarch64, the whole program: every unit test (the word layers' table, the hash
#   cores, every kernel against the portable reference at every lane count,
#   dispatch, JSON, the miner, the pool client and the application's parts); the
#   miner mining against this machine's tlm-testpool until shares are accepted;
#   tlm-bench --selftest; the arm64 .deb's files and dependencies;
# - riscv64, the standard-library-only part with the portable kernel: its tests.
# Tests that start the programs themselves (the process tests, the command line,
# the banner, tlm-hash and the package) run in the native builds only: here each
# program would need the emulator put in front of it. Needs the native build in
# build/ (for tlm-testpool), which tools/test.sh makes.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh --cross
cmake --build build --target tlm-testpool
pool=$PWD/build/tools/tlm-testpool/tlm-testpool
jobs=(-j2)
starting_programs='^(CommandLine|TlmHashTool|ToolCommandLine)\.|^Console\.Banner|^package$'

echo "--- aarch64"
cmake -S . -B build-aarch64 -G Ninja --toolchain cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTLM_WERROR=ON -DTLM_BENCH=OFF -DTLM_HOST_TESTPOOL="$pool" >/dev/null
cmake --build build-aarch64 "${jobs[@]}"
ctest --test-dir build-aarch64 --output-on-failure "${jobs[@]}" -LE process -E "$starting_programs|^emulated_mining$"
if ! ctest --test-dir build-aarch64 --verbose -R '^emulated_mining$' >build-aarch64/emulated_mining.log 2>&1; then
  cat build-aarch64/emulated_mining.log
  exit 1
fi
grep -E "kernel |share accepted|pool summary" build-aarch64/emulated_mining.log
qemu-aarch64 build-aarch64/tools/tlm-bench/tlm-bench --selftest

# The package of the cross build: built for arm64, the same files as on x86, and a
# dependency on the arm64 libraries the miner links.
rm -f build-aarch64/ilvo-varnel-tlm_*.deb
(cd build-aarch64 && cpack -G DEB >/dev/null)
deb=$(ls build-aarch64/ilvo-varnel-tlm_*_arm64.deb)
echo "$deb: Architecture $(dpkg-deb -f "$deb" Architecture), Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print "  " $6}'
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libstdc++6 libssl3 libcpp-httplib0.11; do
  [[ ", $depends" == *", $package "* ]] || { echo "FAIL: $deb does not depend on $package"; exit 1; }
done

echo "--- riscv64"
cmake -S . -B build-riscv64 -G Ninja --toolchain cmake/riscv64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTLM_WERROR=ON -DTLM_BENCH=OFF >/dev/null
cmake --build build-riscv64 "${jobs[@]}"
ctest --test-dir build-riscv64 --output-on-failure "${jobs[@]}" -E "$starting_programs"
