#!/usr/bin/env bash
# Configures and builds Zanst into build/ (or the folder in BUILD_DIR).
# Extra arguments go to CMake's configure step, e.g. -DZANST_SANITIZE=address.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
