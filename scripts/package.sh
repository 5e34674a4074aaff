#!/usr/bin/env bash
# Builds the Debian package of Zanst (the tool and zanst-sim) in build-deb/ (or BUILD_DIR) with
# Debian's optimisation and hardening flags, checks it (packaging/check-deb.sh: files, desktop
# entry, metainfo, manual pages, lintian) and prints its path. Install it with
#   sudo apt install ./build-deb/packages/zanst_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build_dir="${BUILD_DIR:-build-deb}"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
# Build type None, as Debian builds: only dpkg-buildflags' -O2 and hardening, no -O3 (with which
# g++ 12 warns wrongly about std::string copies).
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DZANST_BUILD_TESTS=OFF \
  -DZANST_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$build_dir" --parallel "$(nproc)"
rm -rf "$build_dir/packages"
(cd "$build_dir" && cpack -B packages > cpack.log) || { cat "$build_dir/cpack.log" >&2; exit 1; }
deb="$(ls "$build_dir"/packages/zanst_*.deb)"
./packaging/check-deb.sh "$deb"
echo "$deb"
