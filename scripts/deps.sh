#!/usr/bin/env bash
# Installs the Debian packages a step needs, only those that are missing.
# Usage: scripts/deps.sh build|run|windows|test|bench
#   (run and windows include build, test includes both, bench includes run)
set -euo pipefail
step=${1:-build}

# Everything the build configures against (the tests and the benchmark are part of it).
build_packages=(build-essential cmake ninja-build pkg-config nlohmann-json3-dev libsimpleini-dev
  zlib1g-dev libcurl4-openssl-dev libssl-dev
  googletest libgtest-dev libgmock-dev libcpp-httplib-dev libsqlite3-dev libpq-dev libarchive-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev libxtst-dev)
# What the running launcher needs on top: the certificate store every HTTPS request checks
# against (only a recommendation of libcurl), and a font that has the page's Chinese texts.
run_packages=(ca-certificates fonts-wqy-microhei)
# What running the tests needs on top: a real JDK, openssl to make test certificates, an X
# server and screenshots for the window test, node with Chromium for the UI page tests, and a
# PostgreSQL server the backend suite starts a throw-away cluster of, and clang with libFuzzer for
# the fuzz targets.
test_packages=(openjdk-17-jdk-headless openssl xvfb xauth imagemagick nodejs chromium postgresql
  clang libclang-rt-dev)
# The Windows build: mingw-w64's compiler and zlib, and Wine to run its tests.
windows_packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64)
# What scripts/bench.sh needs on top of the build: nginx and curl to measure the downloads
# against, a JDK for the start-up's Java runtimes, an X server for the window's memory, and
# PostgreSQL for the backend's load.
bench_packages=(nginx-light curl openjdk-17-jdk-headless xvfb xauth postgresql)

packages=("${build_packages[@]}")
case "$step" in
  build) ;;
  run) packages+=("${run_packages[@]}") ;;
  windows) packages+=("${windows_packages[@]}") ;;
  test) packages+=("${run_packages[@]}" "${test_packages[@]}" "${windows_packages[@]}") ;;
  bench) packages+=("${run_packages[@]}" "${bench_packages[@]}") ;;
  *) echo "usage: $0 build|run|windows|test|bench" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
# npm ships inside some nodejs builds; Debian's own nodejs needs the separate package.
if [ "$step" = test ] && ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

install="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=""
elif command -v sudo >/dev/null 2>&1; then
  sudo="sudo"
else
  echo "These Debian packages are missing: ${missing[*]}" >&2
  echo "Install them as root, then run this command again:" >&2
  echo "  su -c 'apt-get update && $install'" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update
$sudo env DEBIAN_FRONTEND=noninteractive $install
