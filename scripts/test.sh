#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test; then the whole suite again
# in an AddressSanitizer + UndefinedBehaviorSanitizer build, and the logger, log channel and
# platform tests in a ThreadSanitizer build. Ends with ctest's summary of the main run.
#   TQ_SANITIZERS=0 scripts/test.sh    leaves the two sanitizer builds out (a quicker local run)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh
jobs=$(nproc)
logs=$root/build/test-logs
mkdir -p build "$logs"

# Runs ctest in a build folder with a log of its own; prints the failures and the summary line
# and returns ctest's status.
run_ctest() {
  local dir=$1 log=$2
  shift 2
  local rc=0
  (cd "$dir" && ctest --output-on-failure --timeout 300 "$@") >"$log" 2>&1 || rc=$?
  sed -n '/The following tests FAILED/,$p' "$log"
  grep -E '^[0-9]+% tests passed' "$log" || echo "(no summary: see $log)"
  return $rc
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
main_rc=0
run_ctest build "$logs/main.log" -j "$jobs" || main_rc=$?

asan_rc=0
tsan_rc=0
if [ "${TQ_SANITIZERS:-1}" != 0 ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer build, whole suite"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_SANITIZE=address >/dev/null
  cmake --build build-asan
  # verify_asan_link_order=0: the faked-clock tests preload libfaketime ahead of the runtime.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:verify_asan_link_order=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build-asan "$logs/asan.log" -j "$jobs" || asan_rc=$?

  echo "== ThreadSanitizer build: logger, log channel and platform tests"
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_SANITIZE=thread >/dev/null
  cmake --build build-tsan --target platform_tests log_channel_tests logsink_tests
  # Only the executables built above have discovered tests; the others appear as *_NOT_BUILT.
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest build-tsan "$logs/tsan.log" -j "$jobs" -E '_NOT_BUILT$|^fuzz\.' || tsan_rc=$?
fi

echo "== Main run"
sed -n '/The following tests FAILED/,$p' "$logs/main.log"
tail -n 3 "$logs/main.log" | grep -E 'Total Test time' || true
if [ "${TQ_SANITIZERS:-1}" != 0 ]; then
  echo "sanitizer runs: address+undefined $([ $asan_rc = 0 ] && echo clean || echo FAILED)," \
    "thread $([ $tsan_rc = 0 ] && echo clean || echo FAILED) (logs in build/test-logs)"
fi
grep -E '^[0-9]+% tests passed' "$logs/main.log"
[ $main_rc = 0 ] && [ $asan_rc = 0 ] && [ $tsan_rc = 0 ]
