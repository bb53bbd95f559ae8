#!/usr/bin/env bash
# The cross-built miner, run under its emulator, mines against the build
# machine's tlm-testpool on 127.0.0.1 until the pool has accepted three of its
# shares (the pool checks each with its own hash), then stops on SIGINT.
# usage: shares_accepted_test.sh TESTPOOL EMULATOR... MINER
set -euo pipefail
pool=$1
shift
work=$(mktemp -d)
pool_pid=""
miner_pid=""
cleanup() {
  for pid in $miner_pid $pool_pid; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- miner"; cat "$work/miner.log" 2>/dev/null || true
  echo "--- pool"; cat "$work/pool.log" 2>/dev/null || true
  exit 1
}
# Waits up to $2 seconds for a line matching $1 in file $3 (a bound, not a delay:
# it returns as soon as the line is there).
await() {
  local pattern=$1 limit=$2 file=$3 i
  for ((i = 0; i < limit * 10; i++)); do
    grep -qE "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# A low difficulty: the emulated miner hashes some hundred times slower (about a
# share a second at 0.03 MH/s).
"$pool" --port 0 --difficulty 2000 --seconds 300 --summary "$work/summary.json" >"$work/pool.log" 2>&1 &
pool_pid=$!
await "listening on 127\.0\.0\.1:[0-9]+" 20 "$work/pool.log" || fail "the pool did not start"
port=$(grep -oE "listening on 127\.0\.0\.1:[0-9]+" "$work/pool.log" | head -n1 | cut -d: -f2)

"$@" --pool "127.0.0.1:$port" --wallet RWalletUnderEmulation -t 1 --no-color >"$work/miner.log" 2>&1 &
miner_pid=$!
await "share accepted · 3/" 240 "$work/miner.log" || fail "no three accepted shares"
kill -INT "$miner_pid"
status=0
wait "$miner_pid" || status=$?
miner_pid=""
[ "$status" -eq 0 ] || fail "the miner exited with $status"
kill -INT "$pool_pid"
wait "$pool_pid" || true
pool_pid=""

accepted=$(grep -oE '"accepted":[0-9]+' "$work/summary.json" | head -n1 | cut -d: -f2)
rejected=$(grep -oE '"rejected":[0-9]+' "$work/summary.json" | head -n1 | cut -d: -f2)
[ "${accepted:-0}" -ge 3 ] || fail "the pool counted ${accepted:-0} accepted shares"
[ "${rejected:-1}" -eq 0 ] || fail "the pool rejected $rejected shares"
grep -E "kernel |share accepted" "$work/miner.log"
echo "pool summary: $(cat "$work/summary.json")"
