#!/usr/bin/env bash
# Starts zanst-sim on a pseudo-terminal linked into a temporary folder, runs a command with that
# port listed in ZANST_EXTRA_PORTS (the tool by default), and stops the simulator when the command
# ends. The simulator's lines go to sim.log in that folder (its path is printed). ZANST_SIM_LINK
# puts the link at a path of your choice instead.
#
# Usage: scripts/with-sim.sh [ROLE] [SIM OPTIONS...] [-- COMMAND [ARGS...]]
#   scripts/with-sim.sh                          a 4-cell bank, then the tool
#   scripts/with-sim.sh bank --batteries 4       four batteries in parallel
#   scripts/with-sim.sh ring --current 20        the tool between a BMS and a bank
#   scripts/with-sim.sh bms -- ./my-check        any command; ZANST_SIM_PORT and ZANST_SIM_LOG are set
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}"
sim="${ZANST_SIM:-$build_dir/sim/zanst-sim}"

sim_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  sim_args+=("$1")
  shift
done
if [ "${1:-}" = "--" ]; then
  shift
fi
if [ $# -eq 0 ]; then
  set -- "$build_dir/app/zanst"
fi
if [ ! -x "$sim" ]; then
  echo "with-sim.sh: $sim is not built; run scripts/build.sh first" >&2
  exit 1
fi

dir="$(mktemp -d /tmp/zanst-sim.XXXXXX)"
link="${ZANST_SIM_LINK:-$dir/port}"
log="$dir/sim.log"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -z "${ZANST_SIM_KEEP_LOG:-}" ]; then
    rm -rf "$dir"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$sim" "${sim_args[@]}" --link "$link" > "$log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
  if grep -q ' ready ' "$log" 2>/dev/null; then
    break
  fi
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "with-sim.sh: zanst-sim stopped at once:" >&2
    cat "$log" >&2
    exit 1
  fi
  sleep 0.05
done
if ! grep -q ' ready ' "$log"; then
  echo "with-sim.sh: zanst-sim did not come up within 5 s" >&2
  exit 1
fi
echo "with-sim.sh: zanst-sim ${sim_args[*]:-bank} on $link (log: $log)"

status=0
ZANST_EXTRA_PORTS="$link${ZANST_EXTRA_PORTS:+:$ZANST_EXTRA_PORTS}" ZANST_SIM_PORT="$link" ZANST_SIM_LOG="$log" \
  "$@" || status=$?
exit "$status"
