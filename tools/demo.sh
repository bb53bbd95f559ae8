#!/usr/bin/env bash
# Installs what is missing, builds the miner and the local test pool, and mines
# against that pool on 127.0.0.1 for about a minute (no network needed). Ctrl-C
# stops both earlier. Share lines are counted rather than shown, one line every
# 10 s, so that the speed reports stand out.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${DEMO_SECONDS:-60}
tools/install-deps.sh
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-demo --target ilvo-varnel-tlm tlm-testpool

pool_out=$(mktemp)
summary=$(mktemp)
pool=""
miner=""
timer=""
cleanup() {
  [ -z "$timer" ] || kill "$timer" 2>/dev/null || true
  [ -z "$miner" ] || { kill -INT "$miner" 2>/dev/null || true; wait "$miner" 2>/dev/null || true; }
  [ -z "$pool" ] || { kill -TERM "$pool" 2>/dev/null || true; wait "$pool" 2>/dev/null || true; }
  rm -f "$pool_out" "$summary"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Difficulty 100000: about one share a second per core.
build-demo/tools/tlm-testpool/tlm-testpool --port 0 --difficulty 100000 --job-interval 20 --summary "$summary" >"$pool_out" &
pool=$!
port=""
for _ in $(seq 100); do
  port=$(grep -m1 -oE 'listening on 127\.0\.0\.1:[0-9]+' "$pool_out" | cut -d: -f2 || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the test pool did not start" >&2; exit 1; }

# Passes the miner's lines through but for "share found" and "share accepted",
# which it counts and reports every 10 s in the miner's own line format.
count_shares() {
  local found=0 accepted=0 next=$((SECONDS + 10)) line
  report() {
    [ $((found + accepted)) -eq 0 ] || echo "$(date '+[%Y-%m-%d %H:%M:%S]') shares: $found found, $accepted accepted"
    found=0 accepted=0 next=$((SECONDS + 10))
  }
  while :; do
    if IFS= read -r -t 1 line; then
      case "$line" in
        *"share found"*) found=$((found + 1)) ;;
        *"share accepted"*) accepted=$((accepted + 1)) ;;
        *) printf '%s\n' "$line" ;;
      esac
    elif [ $? -le 128 ]; then
      break  # the miner's output ended
    fi
    [ $SECONDS -lt $next ] || report
  done
  report
}
exec {to_filter}> >(count_shares)
filter=$!
build-demo/app/ilvo-varnel-tlm --pool "127.0.0.1:$port" --wallet RDemoWalletOfTheLocalTestPool9 --threads 2 >&$to_filter &
miner=$!
sleep "$seconds" &
timer=$!
wait "$timer" || true
timer=""
kill -INT "$miner"
wait "$miner"
miner=""
exec {to_filter}>&-
wait "$filter"
kill -TERM "$pool"
wait "$pool" || true
pool=""
echo "what the pool received: $(cat "$summary")"
