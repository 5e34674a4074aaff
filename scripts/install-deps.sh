#!/usr/bin/env bash
# Installs every Debian package needed to build, test and run Zanst.
# Safe to run again; works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev qt6-svg-dev qt6-charts-dev qt6-qpa-plugins libqt6svg6
  libgl-dev
  libqt6opengl6-dev # Qt Charts' CMake files need it, but its package does not pull it in
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-dev clang-format
  xvfb xauth imagemagick socat xdotool
  fonts-dejavu-core
  dpkg-dev file lintian appstream desktop-file-utils librsvg2-bin man-db
  tshark libxml2-utils # the dissector test and the JUnit schema check of zanst-cli
  libqt6sql6-sqlite libqt6sql6-psql # the service log's drivers (SQLite, PostgreSQL)
  postgresql poppler-utils          # the service log's test server; pdftotext for the report tests
)

if [ "$(id -u)" -eq 0 ]; then
  sudo_cmd=()
else
  sudo_cmd=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "All packages already installed."
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
