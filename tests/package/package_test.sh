#!/usr/bin/env bash
# Makes the Debian package from an already built tree into a temporary folder and checks it.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build_dir="$1"
source_dir="$2"
out="$(mktemp -d /tmp/zanst-cpack.XXXXXX)"
trap 'rm -rf "$out"' EXIT
(cd "$build_dir" && cpack --config CPackConfig.cmake -B "$out" > "$out/cpack.log" 2>&1) ||
  { cat "$out/cpack.log"; exit 1; }
"$source_dir/packaging/check-deb.sh" "$out"/zanst_*.deb
