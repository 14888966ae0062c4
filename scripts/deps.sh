#!/usr/bin/env bash
# Installs the Debian packages a step needs, only those that are missing.
# Usage: scripts/deps.sh build|test
set -euo pipefail

# Everything the build configures against (the tests and the benchmark are part of it).
build_packages=(build-essential cmake ninja-build pkg-config nlohmann-json3-dev libsimpleini-dev
  libzip-dev zipcmp zipmerge ziptool libcurl4-openssl-dev libssl-dev
  googletest libgtest-dev libgmock-dev libcpp-httplib-dev libsqlite3-dev libarchive-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev)
# What running the tests needs on top: a real JDK, openssl to make test certificates, an X
# server, screenshots and a Chinese font for the window test, and node with Chromium for the UI
# page tests.
test_packages=(openjdk-17-jdk-headless openssl xvfb xauth imagemagick fonts-wqy-microhei nodejs chromium)

packages=("${build_packages[@]}")
if [ "${1:-build}" = test ]; then
  packages+=("${test_packages[@]}")
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
# npm ships inside some nodejs builds; Debian's own nodejs needs the separate package.
if [ "${1:-build}" = test ] && ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
