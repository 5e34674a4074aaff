#!/usr/bin/env bash
# Checks the udev rule that sets the FTDI latency timer: with "udevadm verify" where udev has it
# (systemd 254 and later), and always field by field: one rule, matching added usb-serial devices
# of the ftdi_sio driver, writing 1 to latency_timer and nothing else (no owner, group, mode, tag,
# program or link).
#
# Usage: packaging/udev/check-rules.sh RULES_FILE
#        packaging/udev/check-rules.sh --self-test RULES_FILE   (also: rules it must refuse are refused)
set -euo pipefail
if [ "${1:-}" = "--self-test" ]; then
  good="$2"
  dir="$(mktemp -d /tmp/zanst-rules.XXXXXX)"
  trap 'rm -rf "$dir"' EXIT
  "$0" "$good"
  rule='ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio"'
  bad=(
    "$rule, ATTR{latency_timer}=\"1\", MODE=\"0666\""
    "$rule, ATTR{latency_timer}=\"1\", GROUP=\"plugdev\""
    "$rule, ATTR{latency_timer}==\"1\""
    "$rule, ATTR{latency_timer}=\"16\""
    "$rule ATTR{latency_timer}=\"1\""
    "${rule/usb-serial/tty}, ATTR{latency_timer}=\"1\""
    "$rule, ATTR{latency_timer}=\"1\", RUN+=\"/bin/true\""
    "$rule, ATTR{latency_timer}=\"1\"
$rule, ATTR{latency_timer}=\"1\""
  )
  for i in "${!bad[@]}"; do
    printf '%s\n' "${bad[$i]}" > "$dir/bad$i.rules"
    if "$0" "$dir/bad$i.rules" 2> /dev/null; then
      echo "check-rules: wrongly accepted: ${bad[$i]}" >&2
      exit 1
    fi
  done
  echo "check-rules: ${#bad[@]} wrong rules refused"
  exit 0
fi
file="$1"

fail() {
  echo "check-rules: $file: $*" >&2
  exit 1
}

[ -s "$file" ] || fail "missing or empty"
if command -v udevadm > /dev/null 2>&1 && udevadm verify --help > /dev/null 2>&1; then
  udevadm verify "$file" || fail "udevadm verify refuses it"
fi

# Rules are lines; a backslash at the end continues a line.
rules=()
current=""
while IFS= read -r line || [ -n "$line" ]; do
  if [[ "$line" =~ ^[[:space:]]*# ]] || [[ "$line" =~ ^[[:space:]]*$ ]] && [ -z "$current" ]; then
    continue
  fi
  if [[ "$line" == *\\ ]]; then
    current+="${line%\\} "
    continue
  fi
  rules+=("$current$line")
  current=""
done < "$file"
[ -z "$current" ] || fail "the last line ends in a backslash"
[ "${#rules[@]}" -eq 1 ] || fail "holds ${#rules[@]} rules, not one"

# Split the rule at the commas between pairs; every pair is KEY[{attr}] OP "value".
rest="${rules[0]}"
declare -A seen=()
pair_re='^[[:space:]]*([A-Z_]+)(\{[A-Za-z0-9_./-]+\})?[[:space:]]*(==|!=|\+=|-=|:=|=)[[:space:]]*"([^"]*)"[[:space:]]*(,|$)'
while [ -n "${rest//[[:space:]]/}" ]; do
  [[ "$rest" =~ $pair_re ]] || fail "cannot read the pair in: $rest"
  key="${BASH_REMATCH[1]}${BASH_REMATCH[2]}"
  op="${BASH_REMATCH[3]}"
  value="${BASH_REMATCH[4]}"
  rest="${rest:${#BASH_REMATCH[0]}}"
  [ -z "${seen[$key]:-}" ] || fail "$key appears twice"
  seen[$key]="$op$value"
done

expect() {
  [ "${seen[$1]:-}" = "$2" ] || fail "$1 is '${seen[$1]:-(missing)}', expected '$2'"
}
expect ACTION '==add'
expect SUBSYSTEM '==usb-serial'
expect DRIVER '==ftdi_sio'
expect 'ATTR{latency_timer}' '=1'
[ "${#seen[@]}" -eq 4 ] || fail "holds keys beyond ACTION, SUBSYSTEM, DRIVER and ATTR{latency_timer}: ${!seen[*]}"
echo "check-rules: $file: one rule, sets latency_timer to 1 on ftdi_sio adapters and nothing else"
