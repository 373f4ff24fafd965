#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only those missing.
#   scripts/deps.sh --wine   then also Wine (wine wine64, 64-bit only, no recommends) for the
#                            smoke tests of the Windows build; status 3 when it cannot be had
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

# Wine is optional: the test script skips its stage when Wine cannot be installed here.
if [ "${1:-}" = --wine ]; then
  wine_missing=()
  for p in wine wine64; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || wine_missing+=("$p")
  done
  if ((${#wine_missing[@]})); then
    echo "Installing: ${wine_missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    { "${sudo_cmd[@]}" apt-get update -qq &&
      "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${wine_missing[@]}" >/dev/null; } || exit 3
  fi
  command -v wine >/dev/null && command -v wineserver >/dev/null && [ -x /usr/lib/wine/wine64 ] || exit 3
fi
