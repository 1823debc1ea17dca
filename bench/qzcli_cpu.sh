#!/usr/bin/env bash
# CPU time and peak memory of `qzcli poll` while it polls qzsim over loopback.
#   bench/qzcli_cpu.sh [BUILD_DIR] [SECONDS]      (defaults: build, 60)
# Prints the CPU share of one core used by qzcli over the run and its peak RSS.
set -euo pipefail
BUILD=${1:-build}
DURATION=${2:-60}
SIM="$BUILD/tools/qzsim/qzsim"
CLI="$BUILD/tools/qzcli/qzcli"
[ -x "$SIM" ] && [ -x "$CLI" ] || { echo "build qzsim and qzcli first ($BUILD)" >&2; exit 2; }

out=$(mktemp)
"$SIM" --model qz2m --listen 127.0.0.1:0 >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 50); do grep -q listening "$out" && break; sleep 0.1; done
port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$out")
[ -n "$port" ] || { echo "qzsim did not start" >&2; exit 1; }

"$CLI" poll --model qz2m --factory 1 --tcp "127.0.0.1:$port" >/dev/null 2>&1 &
cli=$!
sleep 2 # connected and past the first cycle
ticks=$(getconf CLK_TCK)
read -r u0 s0 < <(awk '{print $14, $15}' /proc/$cli/stat)
sleep "$DURATION"
read -r u1 s1 < <(awk '{print $14, $15}' /proc/$cli/stat)
hwm=$(awk '/VmHWM/ {print $2}' /proc/$cli/status)
kill -INT $cli
wait $cli || true
cpu_ms=$(( (u1 + s1 - u0 - s0) * 1000 / ticks ))
awk -v ms="$cpu_ms" -v d="$DURATION" -v hwm="$hwm" 'BEGIN {
  printf "qzcli poll over %d s: CPU %d ms = %.3f %% of one core; peak RSS %.1f MB\n",
         d, ms, ms / (d * 10.0), hwm / 1024.0 }'
