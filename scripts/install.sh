#!/usr/bin/env bash
# Lays the install tree and the data tree onto drive C of a machine root:
#   scripts/install.sh [PAL_ROOT] [--output-level N]
# The machine root defaults to $PAL_ROOT. Builds first when needed (build folder: $BUILD_DIR,
# default build/). --output-level writes Logsink.ini beside Logsink.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
root="${PAL_ROOT:-}"
output_level=""
while (($#)); do
  case "$1" in
    --output-level) output_level="$2"; shift 2 ;;
    -h|--help) sed -n '2,5p' "$0"; exit 0 ;;
    *) root="$1"; shift ;;
  esac
done
if [ -z "$root" ]; then
  echo "usage: scripts/install.sh [PAL_ROOT] [--output-level N] (or set PAL_ROOT)" >&2
  exit 2
fi
build="${BUILD_DIR:-build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build"
mkdir -p "$root/drive_c"
cmake --install "$build" --prefix "$root/drive_c" >/dev/null
x86="$root/drive_c/Program Files (x86)/NORVANTE/TQ770/x86"
if [ -n "$output_level" ]; then
  printf '[LOG]\r\nOutputLevel=%s\r\n' "$output_level" >"$x86/Logsink.ini"
fi
echo "Installed into $root/drive_c:"
ls -1 "$x86" | sed 's/^/  x86\\/'
