#!/usr/bin/env bash
# End-to-end tests of hostsweep-worker.exe under Wine: real processes, a real
# window receiving the reports, real ICMP to the lab's hosts.
#
#   worker_test.sh WORKER_DIR TOOLS_DIR
#
# Builds its own lab (prefix $HOSTSWEEP_LAB_PREFIX, default "wn") and runs
# everything inside the lab's scanner namespace, Wine included. Exits 77 (skip)
# without root or Wine.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/wine/wine.sh
source "$HERE/wine.sh"

if [[ $# -ne 2 ]]; then
  echo "usage: $0 WORKER_DIR TOOLS_DIR" >&2
  exit 2
fi
WORKER=$(cd "$1" && pwd)/hostsweep-worker.exe
TOOLS=$(cd "$2" && pwd)
wine_in_lab "$0" "$@"

# ---- inside the lab ----------------------------------------------------------

wine_tests_begin

# Starts a receiver window and sets WINDOW to its handle; each receiver writes
# its own file.
start_receiver() {
  RECEIVER_OUT=$(mktemp "$OUTPUT/receiver.XXXXXX")
  # Started directly, not through a function, so that RECEIVER_PID is Wine's
  # own process and not a shell around it.
  "$WINE_LOADER" "$TOOLS/hostsweep-test-receiver.exe" 99 120 >"$RECEIVER_OUT" 2>/dev/null &
  RECEIVER_PID=$!
  local tries
  for ((tries = 100; tries > 0; tries--)); do
    WINDOW=$(awk '$1 == "window" { print $2 }' "$RECEIVER_OUT")
    [[ -n $WINDOW ]] && return 0
    sleep 0.1
  done
  echo "the receiver did not show its window" >&2
  exit 1
}

# Once every worker has ended, all its reports have been handled: a worker's
# send returns only after the window has handled the message.
stop_receiver() {
  wine_wait_gone hostsweep-worker.exe 60 || fail "workers still running"
  kill "$RECEIVER_PID"
  wait "$RECEIVER_PID" 2>/dev/null || true
  [[ -z $(wine_pids hostsweep-test-receiver.exe) ]] || fail "a receiver outlived its test"
}

# Sets TEXTS to the texts of the reports received, in order of arrival. Checks
# every packet as the controller relies on it: tag 3, cbData the text's length
# plus one, the payload the text's bytes followed by one zero byte.
read_reports() {
  local kind tag size hex text
  TEXTS=()
  while read -r kind tag size hex; do
    [[ $kind == report ]] || continue
    [[ $tag == 3 ]] || fail "dwData $tag, not 3"
    ((${#hex} == 2 * size)) || fail "cbData $size, but ${#hex} hex digits of payload"
    [[ $hex =~ ^([0-9a-f][1-9a-f]|[1-9a-f]0)*00$ ]] ||
      fail "payload $hex is not text bytes followed by one zero byte"
    # Every byte pair becomes a \xHH escape for printf.
    # shellcheck disable=SC2001
    text=$(printf '%b' "$(sed 's/../\\x&/g' <<<"${hex%00}")")
    TEXTS+=("$text")
  done <"$RECEIVER_OUT"
}

# expect_reports NAME PATTERN...: exactly one report per pattern (extended
# regular expressions, whole text), in any order: successors report in parallel.
expect_reports() {
  local name=$1 pattern text matched before=$failures
  shift
  read_reports
  if ((${#TEXTS[@]} != $#)); then
    fail "$name: ${#TEXTS[@]} reports, expected $#: $(printf '[%s] ' "${TEXTS[@]}")"
  else
    for pattern in "$@"; do
      matched=0
      for text in "${TEXTS[@]}"; do
        [[ $text =~ ^($pattern)$ ]] && matched=$((matched + 1))
      done
      ((matched == 1)) ||
        fail "$name: $matched reports match '$pattern': $(printf '[%s] ' "${TEXTS[@]}")"
    done
  fi
  if ((failures == before)); then
    echo "ok: $name"
  fi
}

# Installs the worker at a Windows path inside the prefix and prints its Unix path.
install_worker() {
  local folder=$WINEPREFIX/drive_c/$1
  mkdir -p "$folder"
  cp "$WORKER" "$folder/hostsweep-worker.exe"
  echo "$folder/hostsweep-worker.exe"
}

# Lab hosts answer with Linux's default TTL. Wine's NetBIOS status request gets
# no answer from these hosts and yet reports success with an all-zero address
# after a while, so a named host shows 00-00-00-00-00-00.
RTT='[0-9]+'
ZERO_MAC=00-00-00-00-00-00

test_live_named_host() {
  start_receiver
  wine_run "$WORKER" "$WINDOW,10.213.0.13,D,,,,,0"
  stop_receiver
  expect_reports "live named host" "D,$RTT,64,delta,$ZERO_MAC"
}

# One worker meets only dead hosts, so it reports all three itself, through one
# payload buffer: the longest text that fits, then shorter ones.
test_dead_hosts_and_payload_sizes() {
  local long
  long=$(printf 'L%.0s' {1..249})
  start_receiver
  wine_run "$WORKER" "$WINDOW,10.213.0.200,$long,10.213.0.201,S,10.213.0.15,M,0"
  stop_receiver
  grep -q "^report 3 255 " "$RECEIVER_OUT" || fail "dead hosts: no report of cbData 255"
  expect_reports "dead hosts" "$long,Dead" "S,Dead" "M,Dead"
  [[ ${TEXTS[*]} == "$long,Dead S,Dead M,Dead" ]] || fail "dead hosts: not reported in order"
}

# Three live hosts: each worker reports one and hands the rest to a successor.
# The folder has a space in it. Unquoted, the successor's command would start
# C:\hostsweep.exe, which is there, and is not the worker.
test_chain_from_folder_with_space() {
  local worker
  worker=$(install_worker "hostsweep tools")
  cp "$TOOLS/hostsweep-test-receiver.exe" "$WINEPREFIX/drive_c/hostsweep.exe"
  start_receiver
  wine_run "$worker" "$WINDOW,10.213.0.12,C,10.213.0.14,F,10.213.0.13,D,0"
  stop_receiver
  expect_reports "three-slot chain, folder with a space" \
    "C,$RTT,64,," "F,$RTT,64,foxtrot,$ZERO_MAC" "D,$RTT,64,delta,$ZERO_MAC"
}

# A dead first slot, then a live one that hands off from slot 2; the program
# sits at a drive root, whose folder already ends in "\".
test_chain_from_drive_root() {
  local worker
  worker=$(install_worker "")
  start_receiver
  wine_run "$worker" "$WINDOW,10.213.0.200,X,10.213.0.12,C,10.213.0.100,R,0"
  stop_receiver
  expect_reports "slot-2 hand-off from a drive root" "X,Dead" "C,$RTT,64,," "R,$RTT,64,,"
}

# Names come from the lab's hosts file, bind-mounted over /etc/hosts in its namespace.
test_name_only() {
  start_receiver
  wine_run "$WORKER" "$WINDOW,0,10.213.0.10"
  wine_run "$WORKER" "$WINDOW,0,10.213.0.12"
  stop_receiver
  grep -qx "report 3 1 00" "$RECEIVER_OUT" || fail "name-only: no empty answer of cbData 1"
  expect_reports "name-only requests" "alpha\.lab" ""
  [[ ${TEXTS[0]} == alpha.lab ]] || fail "name-only: answers out of order"
}

# Without icmp.dll no echo request can go out, and every host reads as dead;
# without netapi32.dll a named host has no adapter address. Neither stops the
# worker: the library is looked up when first needed.
test_missing_libraries() {
  start_receiver
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;icmp=d" wine_run "$WORKER" "$WINDOW,10.213.0.13,D,,,,,0"
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;netapi32=d" wine_run "$WORKER" "$WINDOW,10.213.0.14,F,,,,,0"
  stop_receiver
  expect_reports "missing libraries" "D,Dead" "F,$RTT,64,foxtrot,"
}

test_failure_box() {
  local pressed status=0
  start_receiver
  wine_run "$WORKER" "$WINDOW,10.213.0.10,A,,,," &
  local worker_pid=$!
  pressed=$(wine_run "$TOOLS/hostsweep-test-press_ok.exe" hostsweep-worker.exe 30 2>/dev/null)
  wait "$worker_pid" || status=$?
  stop_receiver
  [[ $pressed == *"caption hostsweep-worker"* ]] || fail "failure box: caption: $pressed"
  [[ $pressed == *"text the request line has 7 comma-separated fields, so field 7 (pause count) is missing"* ]] ||
    fail "failure box: text: $pressed"
  ((status == 1)) || fail "failure box: worker exit status $status, not 1"
  expect_reports "failure box, no report"
}

wine_tests_run test_live_named_host test_dead_hosts_and_payload_sizes \
  test_chain_from_folder_with_space test_chain_from_drive_root test_name_only \
  test_missing_libraries test_failure_box
