#!/usr/bin/env bash
# Installs what is missing, builds Zanst and starts it beside a simulated bank: zanst-sim plays two
# 4-cell batteries charging at 10 A on a virtual port linked at /tmp/zanst-sim (ZANST_SIM_LINK
# changes the path), which the tool's port list shows; the simulator stops when the tool closes.
# Arguments replace the simulator's: ./scripts/run.sh bms, ./scripts/run.sh ring --batteries 2, ...
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
if [ $# -eq 0 ]; then
  set -- bank --batteries 2 --current 10
fi
export ZANST_SIM_LINK="${ZANST_SIM_LINK:-/tmp/zanst-sim}"
exec ./scripts/with-sim.sh "$@"
