#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only those missing.
set -euo pipefail
packages=(build-essential cmake ninja-build clang libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev uuid-dev libxml2-dev libxml2-utils p7zip-full unzip faketime python3
  python3-pyasn1 libclang-rt-14-dev tzdata
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
