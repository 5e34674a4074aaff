#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds Zanst with its tests and benchmarks, and
# runs every test.
# Extra arguments go to CMake's configure step, e.g. -DZANST_SANITIZE=address with BUILD_DIR=build-asan.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/check-format.sh
./scripts/build.sh -DZANST_BUILD_TESTS=ON -DZANST_BUILD_BENCH=ON "$@"
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --parallel "$(nproc)" --timeout 300
