#!/usr/bin/env bash
# Builds the programs as Windows executables with mingw-w64: the 64-bit build in build-win64/
# and the 32-bit (i686) build in build-win32/. Installs missing packages first.
#   scripts/winbuild.sh            both builds
#   scripts/winbuild.sh win64      only the 64-bit build (the one the Wine tests run)
#   scripts/winbuild.sh win32      only the 32-bit build
# BUILD_TYPE (default RelWithDebInfo) selects the configuration. Each build prints its time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build_type="${BUILD_TYPE:-RelWithDebInfo}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(win64 win32)

for target in "${targets[@]}"; do
  case "$target" in
    win64) toolchain=cmake/toolchain-mingw-x86_64.cmake ;;
    win32) toolchain=cmake/toolchain-mingw-i686.cmake ;;
    *) echo "winbuild.sh: unknown target '$target' (win64 or win32)" >&2; exit 2 ;;
  esac
  dir="build-$target"
  echo "== Windows build $target ($dir)"
  start=$(date +%s)
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
  cmake --build "$dir"
  echo "== $target built in $(($(date +%s) - start)) s:"
  for exe in Logsink/Logsink.exe Logsweep/Logsweep.exe Schedtool/Schedtool.exe \
             StockInstaller/StockInstaller.exe Common/LogChannel/Logpost.exe; do
    [ -f "$dir/$exe" ] || { echo "winbuild.sh: $dir/$exe is missing" >&2; exit 1; }
    echo "   $dir/$exe"
  done
done
