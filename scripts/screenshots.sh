#!/usr/bin/env bash
# Takes the user guide's pictures again (docs/screenshots/*.png): builds zanst-sim and the
# screenshot tool (tools/screenshots.cpp), then, for each scene, starts the simulator in the
# matching role (scripts/with-sim.sh) and lets the tool, running offscreen, open the simulator's
# port, show each tab and grab it. Run it after every visible change and look at the pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}"
out="${1:-docs/screenshots}"
if [ ! -f "$build_dir/build.ninja" ]; then
  ./scripts/build.sh
fi
cmake --build "$build_dir" --target zanst-sim zanst-screenshots
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen
# One stable port name in the pictures.
export ZANST_SIM_LINK="${ZANST_SIM_LINK:-/tmp/zanst-sim}"
shoot() {
  local scene="$1"
  shift
  # with-sim.sh puts the simulator's port in ZANST_SIM_PORT.
  ./scripts/with-sim.sh "$@" -- "$build_dir/tools/zanst-screenshots" "$out" "$scene"
}
shoot bank bank --batteries 2 --current 10
# The sniffer's scene leaves a field recording behind, which the BMS tester's scene plays.
recordings="$(mktemp -d)"
trap 'rm -rf "$recordings"' EXIT
shoot ring ring --batteries 2 --current 10 --capture "$recordings/field.zcap"
ZANST_SCREENSHOT_RECORDING="$recordings/field.zcap" shoot bms bms --current 10
shoot service bank --batteries 2 --current 10
