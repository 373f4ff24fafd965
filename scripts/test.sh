#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test; then the whole suite again
# in an AddressSanitizer + UndefinedBehaviorSanitizer build, and the logger, log channel and
# platform tests in a ThreadSanitizer build; then, where Wine can be installed, the Windows
# builds (mingw-w64) and their smoke tests under Wine. Ends with ctest's summary of the main run.
#   TQ_SANITIZERS=0 scripts/test.sh    leaves the two sanitizer builds out (a quicker local run)
#   TQ_WINE_STAGE=0 scripts/test.sh    leaves the Windows builds and the Wine tests out
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

# The Windows build under Wine: both mingw-w64 builds (the 32-bit one only has to build), then
# the 64-bit one's tests, the smoke tests of the installed programs, in a Wine prefix inside
# build-win64 whose server is ended afterwards. Skipped with a message where Wine cannot be
# installed (or with TQ_WINE_STAGE=0); its failures fail the script.
wine_rc=0
wine_state=skipped
if [ "${TQ_WINE_STAGE:-1}" = 0 ]; then
  echo "== Wine stage skipped (TQ_WINE_STAGE=0)"
elif ! scripts/deps.sh --wine >"$logs/wine-deps.log" 2>&1; then
  echo "== Wine stage skipped: Wine (wine, wine64) could not be installed here (see $logs/wine-deps.log)"
else
  echo "== Windows build (mingw-w64) and smoke tests under Wine"
  wine_start=$(date +%s)
  if scripts/winbuild.sh win64 win32 >"$logs/winbuild.log" 2>&1; then
    run_ctest build-win64 "$logs/wine.log" -j "$jobs" || wine_rc=$?
  else
    wine_rc=1
    tail -n 30 "$logs/winbuild.log"
    echo "Windows build FAILED (see $logs/winbuild.log)"
  fi
  [ ! -x build-win64/tests/wine/wine-run ] || build-win64/tests/wine/wine-run --stop
  wine_state="$([ $wine_rc = 0 ] && echo clean || echo FAILED), $(($(date +%s) - wine_start)) s"
fi

echo "== Main run"
sed -n '/The following tests FAILED/,$p' "$logs/main.log"
tail -n 3 "$logs/main.log" | grep -E 'Total Test time' || true
if [ "${TQ_SANITIZERS:-1}" != 0 ]; then
  echo "sanitizer runs: address+undefined $([ $asan_rc = 0 ] && echo clean || echo FAILED)," \
    "thread $([ $tsan_rc = 0 ] && echo clean || echo FAILED) (logs in build/test-logs)"
fi
echo "Wine stage: $wine_state (logs in build/test-logs: winbuild.log, wine.log)"
grep -E '^[0-9]+% tests passed' "$logs/main.log"
[ $main_rc = 0 ] && [ $asan_rc = 0 ] && [ $tsan_rc = 0 ] && [ $wine_rc = 0 ]
