#!/usr/bin/env bash
# Every option hostsweep --help lists must appear in the manual page, and its
# long form (or its only form) among what bash completion offers after "-".
#   help_coverage.sh HOSTSWEEP MAN_PAGE COMPLETION
# Exits 77 (skipped) when the page was not built or bash-completion is missing.
set -euo pipefail
hostsweep=$1 page=$2 completion=$3
framework=/usr/share/bash-completion/bash_completion

if [[ -z $page || ! -f $page ]]; then
  echo "SKIP: no manual page in this build (help2man is not installed)"
  exit 77
fi
if [[ ! -f $framework ]]; then
  echo "SKIP: bash-completion is not installed"
  exit 77
fi

# "  -f,--file TEXT ..." gives -f and --file.
mapfile -t options < <("$hostsweep" --help | sed -nE 's/^ +(-[^ ]+).*/\1/p' | tr ',' '\n' |
  sed 's/{.*//')
if ((${#options[@]} < 5)); then
  echo "FAIL: read only ${#options[@]} options from --help: ${options[*]}"
  exit 1
fi

manual=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' "$page")
offered=$(
  # shellcheck disable=SC1090
  source "$framework"
  # shellcheck disable=SC1090
  source "$completion"
  COMP_WORDS=("$hostsweep" -)
  COMP_CWORD=1
  COMP_LINE="$hostsweep -"
  COMP_POINT=${#COMP_LINE}
  _hostsweep "$hostsweep" - "$hostsweep"
  printf '%s\n' "${COMPREPLY[@]}"
)

failures=0
for option in "${options[@]}"; do
  if ! grep -qwF -- "$option" <<<"$manual"; then
    echo "FAIL: $option is not in the manual page"
    failures=$((failures + 1))
  fi
  # A short option with a long twin is offered as the long one.
  long=$option
  if [[ $option != --* ]]; then
    long=$("$hostsweep" --help | sed -nE "s/^ +$option,(--[^ ]+).*/\1/p")
    long=${long:-$option}
  fi
  if ! grep -qxF -- "$long" <<<"$offered"; then
    echo "FAIL: $long is not offered by bash completion"
    failures=$((failures + 1))
  fi
done
echo "${#options[@]} options checked, $failures missing"
((failures == 0))
