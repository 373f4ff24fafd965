#!/usr/bin/env bash
# Builds every libFuzzer target (clang, TQ_FUZZ) and runs each for a chosen time over its
# stored corpus, then merges what it found into a minimal corpus kept in fuzz/corpus/<target>.
#   scripts/fuzz.sh [seconds per target, default 60] [target name filter]
# BUILD_DIR chooses the build folder (default build-fuzz). Stops at the first crash and leaves
# the crashing input in the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
filter=${2:-}
build=${BUILD_DIR:-build-fuzz}
scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_FUZZ=ON >/dev/null
mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): phony$/\1/p' | sort -u)
[ -n "$filter" ] && mapfile -t targets < <(printf '%s\n' "${targets[@]}" | grep -- "$filter")
cmake --build "$build" --target "${targets[@]}"

for t in "${targets[@]}"; do
  bin=$(realpath "$(find "$build" -name "$t" -type f -perm -u+x | head -1)")
  keep=$root/fuzz/corpus/$t
  work=$root/$build/fuzz-work/$t
  rm -rf "$work" && mkdir -p "$work/found" "$work/merged" "$keep"
  echo "== $t: ${seconds}s"
  # New inputs go to a scratch folder; the stored corpus is read only.
  (cd "$work" && "$bin" -max_total_time="$seconds" -rss_limit_mb=1024 -print_final_stats=1 \
     "$work/found" "$keep" 2>&1 | grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)' || true)
  if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* >/dev/null 2>&1; then
    echo "$t: failing input kept in $work" >&2
    exit 1
  fi
  # Keep the smallest set of inputs that covers what both sets cover.
  "$bin" -merge=1 "$work/merged" "$keep" "$work/found" >/dev/null 2>&1
  rm -f "$keep"/* && cp "$work/merged"/* "$keep"/ 2>/dev/null || true
  echo "   corpus: $(ls "$keep" | wc -l) inputs, $(du -sk "$keep" | cut -f1) KiB"
done
