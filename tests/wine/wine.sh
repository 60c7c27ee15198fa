# shellcheck shell=bash
# Functions for running Windows programs under Wine in tests; source this file.
#
#   wine_check              exit status 0 if Wine can run here, 77 (skip) if not
#   wine_in_lab SCRIPT ARGS unless already there, build the lab, run SCRIPT ARGS in its
#                           scanner namespace, take the lab down and exit with SCRIPT's
#                           status (77 without root or Wine)
#   wine_start              create a private prefix and keep a Wine server up
#   wine_run PROGRAM ARGS   run a Windows program (Unix or Windows path), waiting for it
#   wine_pids NAME          process ids of programs called NAME (e.g. hostsweep-worker.exe)
#                           running in this prefix
#   wine_wait_gone NAME SECONDS   wait until none are left; fails if some remain
#   wine_stop               stop the server and remove the prefix
#
# Each Wine program's network traffic comes from the namespace Wine was started
# in (the ICMP and NetBIOS requests are sent by a Wine service process, not by
# the program that asks), so start Wine inside the lab namespace and run every
# program there. wine_start refuses to run in the machine's own namespace
# unless HOSTSWEEP_WINE_NAMESPACE names the namespace it must be in.

WINE_LOADER=/usr/lib/wine/wine64
WINE_SERVER=/usr/lib/wine/wineserver

wine_check() {
  if [[ ! -x $WINE_LOADER || ! -x $WINE_SERVER ]]; then
    echo "wine: skipped: $WINE_LOADER or $WINE_SERVER is missing (install wine and wine64)" >&2
    return 77
  fi
}

wine_in_lab() {
  local lab status=0
  lab=$(cd "$(dirname "${BASH_SOURCE[0]}")/../lab" && pwd)/lab.sh
  export HOSTSWEEP_LAB_PREFIX=${HOSTSWEEP_LAB_PREFIX:-wn}
  export HOSTSWEEP_WINE_NAMESPACE=$HOSTSWEEP_LAB_PREFIX-scan
  [[ ${HOSTSWEEP_IN_LAB:-} == 1 ]] && return 0
  wine_check || exit
  "$lab" check || exit
  "$lab" up
  HOSTSWEEP_IN_LAB=1 "$lab" exec "$@" || status=$?
  "$lab" down
  exit "$status"
}

# Wine's own chatter (fixme lines, first-run notices) says nothing about the
# programs under test.
wine_environment() {
  export WINEDEBUG=-all
  # No Mono or Gecko: the test programs need neither, and their installers ask.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
}

wine_in_namespace() {
  local want=${HOSTSWEEP_WINE_NAMESPACE:-}
  [[ -n $want ]] || { echo "wine: HOSTSWEEP_WINE_NAMESPACE is not set" >&2; return 1; }
  if [[ $(stat -L -c %i /proc/self/ns/net) != $(stat -L -c %i "/run/netns/$want") ]]; then
    echo "wine: not inside network namespace $want; refusing to start Wine" >&2
    return 1
  fi
}

wine_start() {
  wine_in_namespace
  wine_environment
  WINEPREFIX=$(mktemp -d /tmp/hostsweep-wine.XXXXXX)
  export WINEPREFIX
  # The null graphics driver must be chosen before the first program starts:
  # there is no display, and without it every window (message boxes included)
  # would wait for one. The registry file is read when the server starts.
  cat >"$WINEPREFIX/user.reg" <<'REG'
WINE REGISTRY Version 2

#arch=win64

[Software\\Wine\\Drivers]
"Graphics"="null"
REG
  # A persistent server keeps every program's start short.
  "$WINE_SERVER" -p
  "$WINE_LOADER" wineboot --init >/dev/null 2>&1
}

wine_run() {
  "$WINE_LOADER" "$@"
}

wine_pids() {
  local name=$1 pid
  for pid in $(pgrep -f -- "$name" || true); do
    # A process may end between the listing and the look at its environment.
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
    fi
  done
}

wine_wait_gone() {
  local name=$1 seconds=$2 tries
  for ((tries = seconds * 10; tries > 0; tries--)); do
    [[ -z $(wine_pids "$name") ]] && return 0
    sleep 0.1
  done
  echo "wine: $name still running after $seconds s" >&2
  return 1
}

wine_stop() {
  if [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX ]]; then
    "$WINE_SERVER" -k 2>/dev/null || true
    "$WINE_SERVER" -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
}

# ---- for the test scripts ----------------------------------------------------

# Sets OUTPUT to a scratch folder; at exit Wine is stopped and OUTPUT removed.
wine_tests_begin() {
  failures=0
  OUTPUT=$(mktemp -d)
  trap 'wine_stop; rm -rf "$OUTPUT"' EXIT
}

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Starts Wine, runs the named test functions in turn, and exits 1 if any failed.
wine_tests_run() {
  local test before
  wine_start
  for test in "$@"; do
    echo "== $test"
    before=$failures
    "$test"
    if ((failures == before)); then
      echo "ok: $test"
    fi
  done
  if ((failures > 0)); then
    echo "$failures failure(s)" >&2
    exit 1
  fi
}
