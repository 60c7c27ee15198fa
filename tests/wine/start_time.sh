#!/usr/bin/env bash
# Measures how long a Windows program takes to start and end under Wine with a
# persistent server: the test receiver (start, create its window, exit) and the
# worker (a name-only request for a lab address, reported to no window).
#
#   start_time.sh WORKER_DIR TOOLS_DIR [RUNS]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/wine/wine.sh
source "$HERE/wine.sh"

if [[ $# -lt 2 ]]; then
  echo "usage: $0 WORKER_DIR TOOLS_DIR [RUNS]" >&2
  exit 2
fi
WORKER=$(cd "$1" && pwd)/hostsweep-worker.exe
RECEIVER=$(cd "$2" && pwd)/hostsweep-test-receiver.exe
RUNS=${3:-20}
wine_in_lab "$0" "$@"

trap wine_stop EXIT
wine_start

# measure LABEL COMMAND...: the fastest and the median of RUNS runs, in
# milliseconds (the first run after wine_start is not counted: it still
# waits for Wine's own services).
measure() {
  local label=$1 start end times=()
  shift
  "$@" >/dev/null 2>&1
  for ((run = 0; run < RUNS; run++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  mapfile -t times < <(printf '%s\n' "${times[@]}" | sort -n)
  echo "$label: fastest ${times[0]} ms, median ${times[RUNS / 2]} ms ($RUNS runs)"
}

measure "receiver start and exit" wine_run "$RECEIVER" 0 0
measure "worker name-only request" wine_run "$WORKER" "0,0,10.213.0.12"
