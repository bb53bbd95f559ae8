#!/usr/bin/env bash
# Soak test, not run by CI: the miner against tlm-testpool on 127.0.0.1 for
# SOAK_SECONDS (default 600) with a new job every 5 s and every connection dropped
# once a minute. Samples the miner's resident memory and thread count, then checks
# that the pool accepted every share the miner sent (the pool may count a few whose
# answer a dropped connection cut off) and rejected none.
# Usage: tools/soak.sh [build-dir]   (default build; built first when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
seconds=${SOAK_SECONDS:-600}
threads=${SOAK_THREADS:-1}
difficulty=${SOAK_DIFFICULTY:-100000}
[ -x "$dir/app/ilvo-varnel-tlm" ] && [ -x "$dir/tools/tlm-testpool/tlm-testpool" ] || {
  cmake -S . -B "$dir" -G Ninja -DTLM_WERROR=ON >/dev/null
  cmake --build "$dir" -j2 --target ilvo-varnel-tlm tlm-testpool
}
work=$(mktemp -d /tmp/tlm-soak-XXXXXX)
pool_pid="" miner_pid=""
cleanup() {
  [ -n "$miner_pid" ] && kill "$miner_pid" 2>/dev/null || true
  [ -n "$pool_pid" ] && kill "$pool_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

"$dir/tools/tlm-testpool/tlm-testpool" --port 0 --difficulty "$difficulty" --job-interval 5 --drop-every 60 \
  --summary "$work/summary.json" >"$work/pool.log" &
pool_pid=$!
for _ in $(seq 50); do
  port=$(sed -n 's/^\[[^]]*\] listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/pool.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "soak: the test pool did not start"; exit 1; }

"$dir/app/ilvo-varnel-tlm" -o "127.0.0.1:$port" -u RSoakTestWallet -t "$threads" --no-color >"$work/miner.log" &
miner_pid=$!
status_of() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$miner_pid/status"; }
echo "soak: ${seconds}s, log and samples in $work"
echo "elapsed_s rss_kb threads" >"$work/samples.txt"
start=$(date +%s)
while :; do
  elapsed=$(($(date +%s) - start))
  echo "$elapsed $(status_of VmRSS) $(status_of Threads)" >>"$work/samples.txt"
  [ "$elapsed" -ge "$seconds" ] && break
  sleep 10
done

kill -INT "$miner_pid"
miner_code=0
wait "$miner_pid" || miner_code=$?
miner_pid=""
sleep 1  # the pool reads the last shares before it stops
kill -TERM "$pool_pid"
wait "$pool_pid" || true
pool_pid=""

found=$(grep -c 'share found' "$work/miner.log" || true)
# The exit summary: "... shares found F · sent S · accepted A · ..."
sent=$(sed -n 's/.* · sent \([0-9]*\) · .*/\1/p' "$work/miner.log" | tail -1)
acc_miner=$(grep -c 'share accepted' "$work/miner.log" || true)
reconnects=$(grep -c 'disconnected, retrying' "$work/miner.log" || true)
summary=$(cat "$work/summary.json")
pool_acc=$(sed 's/.*"accepted":\([0-9]*\),"rejected":\([0-9]*\).*/\1/' <<<"$summary")
pool_rej=$(sed 's/.*"accepted":\([0-9]*\),"rejected":\([0-9]*\).*/\2/' <<<"$summary")
# The first half minute is start-up: engine contexts, first job, first shares.
read -r _ rss0 thr0 < <(awk 'NR > 1 && $1 >= 30' "$work/samples.txt" | head -1)
read -r _ rss1 thr1 < <(tail -1 "$work/samples.txt")
echo "soak: duration ${seconds}s, reconnects $reconnects, miner exit code $miner_code, last line: $(tail -1 "$work/miner.log")"
echo "soak: shares found $found, sent ${sent:-?}, accepted by the miner's count $acc_miner; pool accepted $pool_acc, rejected $pool_rej"
rss_max=$(awk 'NR > 1 && $2 > m { m = $2 } END { print m }' "$work/samples.txt")
echo "soak: resident memory ${rss0} kB at 30 s -> ${rss1} kB at the end (highest ${rss_max} kB), threads $thr0 -> $thr1"
ok=1
[ "$miner_code" -eq 0 ] || ok=0
[ -n "$sent" ] && [ "$acc_miner" -le "$pool_acc" ] && [ "$pool_acc" -le "$sent" ] || ok=0
[ "$pool_rej" -eq 0 ] || ok=0
[ "$thr0" -eq "$thr1" ] || ok=0
# Allow 1 MiB of drift for allocator noise; a leak per job or reconnect shows far more.
[ "$rss1" -le $((rss0 + 1024)) ] || ok=0
[ $ok -eq 1 ] && echo "soak passed" || { echo "soak FAILED"; exit 1; }
