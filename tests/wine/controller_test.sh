#!/usr/bin/env bash
# End-to-end tests of hostsweep.exe under Wine: the Windows controller starts
# the Windows worker (hostsweep-worker.exe beside it), receives its reports at
# its own windows and prints the results.
#
#   controller_test.sh BUILD_DIR
#
# BUILD_DIR holds hostsweep.exe and hostsweep-worker.exe. Builds its own lab
# (prefix $HOSTSWEEP_LAB_PREFIX, default "wn") and runs everything inside the
# lab's scanner namespace, Wine included. Exits 77 (skip) without root or Wine.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/wine/wine.sh
source "$HERE/wine.sh"

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
wine_in_lab "$0" "$@"

# ---- inside the lab ----------------------------------------------------------

wine_tests_begin

# Runs the controller with ARGS; sets STATUS, and OUT and ERR to its standard
# output (line ends as on Windows, "\r\n", made "\n") and standard error.
# Every worker it started must be gone when it has ended.
controller() {
  STATUS=0
  wine_run "$BUILD/hostsweep.exe" "$@" >"$OUTPUT/out" 2>"$OUTPUT/err" || STATUS=$?
  OUT=$(tr -d '\r' <"$OUTPUT/out")
  ERR=$(tr -d '\r' <"$OUTPUT/err")
  wine_wait_gone hostsweep-worker.exe 10 || fail "$*: workers left running"
}

# CSV rows of OUT as "address|state|rtt|ttl|name|mac", read by Python's CSV
# reader, the header checked.
csv_rows() {
  python3 -c '
import csv, sys
rows = list(csv.reader(sys.stdin))
if rows[0] != ["address", "state", "rtt_ms", "ttl", "name", "mac", "vendor",
               "type", "make", "model", "type_from"]:
    sys.exit("unexpected header: %r" % rows[0])
for row in rows[1:]:
    print("|".join(row))
' <<<"$OUT"
}

# Lab hosts answer with Linux's default TTL. The MAC column comes from the
# neighbour table (Wine reads the namespace's), so the NetBIOS unit ID, which
# Wine's status request makes up, does not show.

# 10.213.0.8-16: the scanner's neighbours are dead, the named and unnamed
# hosts alive, and the host that drops echo requests silent; every host's MAC
# and maker are those the lab gave it.
test_range_csv() {
  ip -4 neigh flush dev br0  # entries from earlier tests would blur silent and dead
  controller --csv -q 10.213.0.8-16
  local rows expected address mac maker
  rows=$(csv_rows) || { fail "range: CSV: $rows"; return; }
  expected="10\.213\.0\.8\|dead\|\|\|
10\.213\.0\.9\|dead\|\|\|
10\.213\.0\.10\|alive\|[0-9]+\|64\|alpha\.lab
10\.213\.0\.11\|alive\|[0-9]+\|64\|bravo
10\.213\.0\.12\|alive\|[0-9]+\|64\|
10\.213\.0\.13\|alive\|[0-9]+\|64\|delta
10\.213\.0\.14\|alive\|[0-9]+\|64\|foxtrot
10\.213\.0\.15\|silent\|\|\|mute\.lab
10\.213\.0\.16\|dead\|\|\|"
  [[ $(cut -d'|' -f1-5 <<<"$rows") =~ ^$expected$ ]] || fail "range: got
$rows
expected (extended regular expression, first five columns)
$expected"
  local link=${HOSTSWEEP_LAB_STATE:-}/link
  [[ -s $link ]] || echo "range: the lab gave no fixed MACs (package ieee-data); not checked" >&2
  [[ -s $link ]] && while read -r address mac maker; do
    [[ ${address%.*} == 10.213.0 && ${address##*.} -ge 8 && ${address##*.} -le 16 ]] || continue
    grep -qxF "$address|$mac|$maker" <(cut -d'|' -f1,6,7 <<<"$rows") ||
      fail "range: $address: expected MAC $mac and maker $maker"
  done <"$link"
  awk -F'|' '$2 == "dead" && $6 != "" {exit 1}' <<<"$rows" || fail "range: a dead host has a MAC"
  ((STATUS == 0)) || fail "range: exit status $STATUS, not 0"
  [[ -z $ERR ]] || fail "range: standard error: $ERR"
}

# Three addresses per worker: each batch is a chain of successors, and every
# slot is reported once.
test_batches_of_three() {
  controller --csv -q --batch 3 10.213.0.12 10.213.0.200 10.213.0.100-103 10.213.0.201
  local rows
  rows=$(csv_rows | cut -d'|' -f1,2 | tr '\n' ' ')
  [[ $rows == "10.213.0.12|alive 10.213.0.200|dead 10.213.0.100|alive 10.213.0.101|alive 10.213.0.102|alive 10.213.0.103|alive 10.213.0.201|dead " ]] ||
    fail "batches of three: $rows"
}

test_json_lines() {
  controller --json -q 10.213.0.10 10.213.0.200
  python3 -c '
import json, sys
hosts = [json.loads(line) for line in sys.stdin]
assert [h["address"] for h in hosts] == ["10.213.0.10", "10.213.0.200"], hosts
assert hosts[0]["state"] == "alive" and hosts[0]["name"] == "alpha.lab", hosts[0]
assert hosts[1]["state"] == "dead", hosts[1]
' <<<"$OUT" || fail "json: $OUT"
}

# Hosts that reverse DNS does not name get their NetBIOS or mDNS name over
# Winsock, from the responders the lab runs (built by the default preset).
test_extra_names() {
  controller --json -q 10.213.0.30 10.213.0.31 10.213.0.32 10.213.0.12
  python3 -c '
import json, sys
hosts = {h["address"]: h for h in map(json.loads, sys.stdin)}
got = [(hosts[a]["name"], hosts[a]["name_source"], hosts[a]["workgroup"])
       for a in ["10.213.0.30", "10.213.0.31", "10.213.0.32", "10.213.0.12"]]
assert got == [("GOLF", "netbios", "LABGROUP"), ("hotel.local", "mdns", None),
               ("india.local", "mdns", "LAB"), (None, None, None)], got
' <<<"$OUT" || fail "extra names: $OUT"
}

# Name-only answers carry no label: each must reach its own address.
test_names_only() {
  controller --names-only --csv -q 10.213.0.10 10.213.0.12 10.213.0.13
  local rows
  rows=$(csv_rows | cut -d'|' -f1,5 | tr '\n' ' ')
  [[ $rows == "10.213.0.10|alpha.lab 10.213.0.12| 10.213.0.13|delta " ]] ||
    fail "names only: $rows"
  ((STATUS == 0)) || fail "names only: exit status $STATUS, not 0"
}

# A worker that ends at once, reporting nothing: every slot is "no report".
test_worker_without_reports() {
  local quitter=$WINEPREFIX/drive_c/quitter.exe
  cp "$WINEPREFIX/drive_c/windows/system32/hostname.exe" "$quitter"
  controller --csv -q --worker 'C:\quitter.exe' --batch 2 10.213.0.10 10.213.0.12 10.213.0.13
  local rows
  rows=$(csv_rows | cut -d'|' -f1,2 | tr '\n' ' ')
  [[ $rows == "10.213.0.10|no report 10.213.0.12|no report 10.213.0.13|no report " ]] ||
    fail "worker without reports: $rows"
  ((STATUS == 1)) || fail "worker without reports: exit status $STATUS, not 1"
}

test_missing_worker() {
  controller --worker 'C:\nowhere\hostsweep-worker.exe' 10.213.0.10
  ((STATUS == 4)) || fail "missing worker: exit status $STATUS, not 4"
  [[ $ERR == *'cannot run the worker C:\nowhere\hostsweep-worker.exe'* ]] ||
    fail "missing worker: $ERR"
}

# Windows keeps raw ICMPv6 sockets from programs: --ipv6 is refused, plainly.
test_ipv6_refused() {
  controller --ipv6 10.213.0.10
  ((STATUS == 4)) || fail "--ipv6: exit status $STATUS, not 4"
  [[ $ERR == *"--ipv6 is not available on Windows"* ]] || fail "--ipv6: $ERR"
}

# The Windows build has no SQLite: --state (and --history) are refused, plainly.
test_state_refused() {
  controller --state lan.db 10.213.0.10
  ((STATUS == 3)) || fail "--state: exit status $STATUS, not 3"
  [[ $ERR == *"--state is not in this build: the Windows build has no SQLite"* ]] ||
    fail "--state: $ERR"
}

# Nor libcurl, libmosquitto, net-snmp, an HTTP server or packet sockets: each
# option that needs one is refused, plainly, before the state database is even
# looked for.
test_receivers_refused() {
  local option message
  for option in "--webhook=http://127.0.0.1:9/hook|--webhook is not in this build" \
    "--mqtt=mqtt://127.0.0.1|--mqtt is not in this build" \
    "--on-event=true|--on-event is not in this build: it needs a POSIX shell" \
    "--metrics-listen=9474|--metrics-listen is not in this build" \
    "--web=9475|--web is not in this build" \
    "--snmp=10.213.0.1|--snmp is not in this build" \
    "--vlan=eth0.10|--vlan is not in this build"; do
    message=${option#*|}
    controller --state lan.db "${option%%|*}" 10.213.0.10
    ((STATUS == 3)) || fail "${option%%=*}: exit status $STATUS, not 3"
    [[ $ERR == *"$message"* ]] || fail "${option%%=*}: $ERR"
  done
}

# A worker that never ends, as one waiting for its failure box to be
# dismissed would: the batch's deadline ends it (a name-only batch has the
# shortest) and its address reads "no report".
test_overdue_worker() {
  controller --csv -q --names-only --worker 'C:\windows\notepad.exe' 10.213.0.10
  local rows
  rows=$(csv_rows | cut -d'|' -f1,2)
  [[ $rows == "10.213.0.10|no report" ]] || fail "overdue worker: $rows"
  [[ $ERR == *"ending the workers for 10.213.0.10: overdue"* ]] || fail "overdue worker: $ERR"
  [[ -z $(wine_pids notepad.exe) ]] || fail "overdue worker: still running"
}

# Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event) mid-sweep: the
# controller ends its workers, prints what it has and exits 130. Wine's desktop
# stops answering new windows once workers have been ended this way, so this
# test runs last, in a prefix of its own.
test_interrupt() {
  wine_stop
  wine_start
  "$WINE_LOADER" "$BUILD/hostsweep.exe" --csv -q 10.213.0.200-230 >"$OUTPUT/out" 2>"$OUTPUT/err" &
  local controller_pid=$! tries status=0
  for ((tries = 300; tries > 0; tries--)); do
    [[ -n $(wine_pids hostsweep-worker.exe) ]] && break
    sleep 0.1
  done
  kill -INT "$controller_pid"
  wait "$controller_pid" || status=$?
  ((status == 130)) || fail "interrupt: exit status $status, not 130"
  grep -q "^hostsweep: interrupted: [0-9]* of 31 addresses done" "$OUTPUT/err" ||
    fail "interrupt: $(cat "$OUTPUT/err")"
  OUT=$(tr -d '\r' <"$OUTPUT/out")
  # Only what was learnt is shown: the unfinished addresses are not "no report".
  local states
  states=$(csv_rows | cut -d'|' -f2 | sort -u | tr '\n' ' ')
  [[ -z $states || $states == "dead " ]] || fail "interrupt: states $states"
  wine_wait_gone hostsweep-worker.exe 10 || fail "interrupt: workers left running"
}

wine_tests_run test_range_csv test_batches_of_three test_json_lines test_extra_names test_names_only \
  test_worker_without_reports test_missing_worker test_ipv6_refused test_state_refused test_receivers_refused \
  test_overdue_worker test_interrupt
