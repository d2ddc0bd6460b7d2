#!/usr/bin/env bash
# Sources the bash completion and asks it what bash would: the switches, their long forms,
# file names after a switch that takes one, tables and folders elsewhere. Every switch the
# program's own usage text names must be offered, so that the two lists cannot drift apart.
# Usage: completion_test.sh COMPLETION_FILE SALVORA_PROGRAM
set -uo pipefail
completion=$1
program=$2
# shellcheck source=app/salvora.bash-completion
source "$completion"
failures=0

# Splits the line as bash does with its default word breaks (':' and '=' stand alone) and
# prints the completions, one a line, sorted.
complete_line() {
  COMP_LINE=$1
  COMP_POINT=${#1}
  local spaced=${1//:/ : }
  spaced=${spaced//=/ = }
  read -r -a COMP_WORDS <<<"$spaced"
  [[ "$1" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _salvora salvora "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort -u
}

expect() {
  local line=$1 want=$2 got
  got=$(complete_line "$line")
  if [ "$got" != "$want" ]; then
    printf 'completing "%s":\n  want: %s\n  got:  %s\n' "$line" "${want//$'\n'/ }" "${got//$'\n'/ }"
    failures=$((failures + 1))
  fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir customers
touch customers.dbf CUSTOMERS2.DBF customers.txt fixed.json

expect "salvora /pa" "/pack"
expect "salvora --re" $'--recoverydeleted\n--recurse\n--report='
expect "salvora /REC" $'/recoverydeleted\n/recurse'
expect "salvora cu" $'customers\ncustomers.dbf'
expect "salvora C" "CUSTOMERS2.DBF"
expect "salvora customers.dbf /report:fi" "fixed.json"
expect "salvora customers.dbf --report=fi" "fixed.json"
expect "salvora customers.dbf /output:" $':CUSTOMERS2.DBF\n:customers\n:customers.dbf\n:customers.txt\n:fixed.json'

# /gui starts the Windows window; the Linux program has none to offer.
usage=$("$program" --help | tr -d '\r' | sed -n 's/^  \(\/[^ ]*\).*/\1/p' | grep -vx '/gui' |
  sed 's/\(FILE\|N\)$//' | LC_ALL=C sort)
# Names in the root folder are offered as files too; they are left out on both sides, since the
# machine may well have a folder called like a switch.
root_names=$(compgen -f -- / ; echo /nothing-at-all)
beyond_root=$(grep -vxF -f <(echo "$root_names") <<<"$usage")
offered=$(complete_line "salvora /" | grep -vxF -f <(echo "$root_names") | LC_ALL=C sort -u)
if [ "$offered" != "$beyond_root" ]; then
  echo "the completion's switches differ from the usage text:"
  diff <(echo "$beyond_root") <(echo "$offered")
  failures=$((failures + 1))
fi
long=$(echo "$usage" | sed 's|^/|--|; s|:$|=|' | tr '[:upper:]' '[:lower:]')
long=$(LC_ALL=C sort <<<"$long"$'\n--help\n--version')
offered=$(complete_line "salvora --")
if [ "$offered" != "$long" ]; then
  echo "the completion's long switches differ from the usage text:"
  diff <(echo "$long") <(echo "$offered")
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "completion: all checks passed"
exit $((failures != 0))
