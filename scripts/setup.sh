#!/usr/bin/env bash
# Installs the Debian 12 packages that the builds and tests need, when missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build git xz-utils dpkg-dev
  libboost-dev libboost-thread-dev libboost-filesystem-dev
  rapidjson-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb wixl
  valgrind gnuplot-nox
  osslsigncode openssl msitools softhsm2 libengine-pkcs11-openssl python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
