#!/usr/bin/env bash
# The main job: a tour of the system on a demo machine root (demo-root/ in the work tree).
# Installs what is missing, configures, builds, installs onto the demo machine's drive C,
# then runs the logger the way its scheduled task does and feeds it from several processes.
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

step() { printf '\n== %s\n' "$*"; }
show() {  # a file of the machine, with its Windows line ends made visible as plain lines
  printf -- '-- %s\n' "${1#"$PAL_ROOT/"}"
  sed 's/\r$//' "$1" | sed 's/^/   | /'
}

step "Dependencies and build"
scripts/deps.sh
export BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR"

export PAL_ROOT="$repo/demo-root"
rm -rf "$PAL_ROOT"
step "A fresh machine root: $PAL_ROOT"
scripts/install.sh "$PAL_ROOT"

x86="$PAL_ROOT/drive_c/Program Files (x86)/NORVANTE/TQ770/x86"
logdir="$PAL_ROOT/drive_c/ProgramData/NORVANTE/TQ770/log"
post() { "$x86/Logpost.exe" "$@"; }

step "Schedtool registers Logsink as a start-up task; a system start (taskrun boot) starts it"
"$x86/Schedtool.exe" /a QNVLogsink /c Logsink.exe /p "/l Logsink" /s
echo "Schedtool exit code $?; the task as stored in C:\\Windows\\System32\\Tasks\\QNVLogsink:"
iconv -f UTF-16 -t UTF-8 "$PAL_ROOT/drive_c/Windows/System32/Tasks/QNVLogsink" | sed 's/^/   | /'
taskrun="$PAL_ROOT/drive_c/Windows/System32/taskrun.exe"
started=$("$taskrun" boot)
echo "$started"
logger=$(sed -n 's/^started .* pid \([0-9]*\)$/\1/p' <<<"$started" | head -n 1)
echo "Logsink runs as process $logger, in $(readlink "/proc/$logger/cwd")"
# The channel opens once the drain thread runs; until then a record is simply dropped.
for _ in $(seq 1 100); do
  post 3 "[QNV]demo: logger is up"$'\n'
  grep -q 'logger is up' "$logdir/Logsink_0001.log" 2>/dev/null && break
  sleep 0.1
done

step "Records of several levels from several processes at once"
writers=()
post 0 "[QNV]demo: a fatal record from process A"$'\n' & writers+=($!)
post 1 "[QNV]demo: an error from process B"$'\n' & writers+=($!)
post 2 "[QNV]demo: a warning from process C"$'\n' & writers+=($!)
post --count 3 --numbered --lf 3 "[QNV]demo: information from process D, record" & writers+=($!)
post 4 "[QNV]demo: a debug record (above output level 3: dropped)"$'\n' & writers+=($!)
post 5 "[QNV]demo: a trace record (dropped)"$'\n' & writers+=($!)
post 3 "demo: no tag, dropped"$'\n' & writers+=($!)
post 99 "[QNV]demo: a permanent record from process E"$'\n' & writers+=($!)
wait "${writers[@]}"
post 3 "[QNV]demo: the last record"$'\n'

step "The period's files and the state file"
show "$logdir/Logsink_0001.log"
show "$logdir/Logsink_0001.per"
show "$logdir/Logsink.dat"

step "A console control event (Ctrl+C) ends the logger"
kill -INT "$logger"
# Started by taskrun, the logger is no child of this script: watch it end.
while [ -e "/proc/$logger" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$logger/status" 2>/dev/null; do
  sleep 0.1
done
echo "Logsink has ended"
lines=$(wc -l <"$logdir/Logsink_0001.log")
echo "Every line was on disk before it ended: $lines lines in Logsink_0001.log"

step "The next day: a system start finds yesterday's date in the state file"
# Dating the stored period back one day makes this start a change of day, as a machine that
# was off overnight sees it: Logsink records the ended period and starts Logsweep.
sed -i -E "s#^Date=[^\r]*#Date=$(date -d yesterday +%Y/%m/%d)#" "$logdir/Logsink.dat"
started=$("$taskrun" boot)
logger=$(sed -n 's/^started .* pid \([0-9]*\)$/\1/p' <<<"$started" | head -n 1)
echo "Logsink runs again as process $logger"
# Logsweep is not waited for by the logger: watch for its results instead.
for _ in $(seq 1 200); do
  if grep -q $'^DailyFile=\r\?$' "$logdir/Logsink.dat" 2>/dev/null &&
     unzip -tq "$logdir/Logsink_0001.log" >/dev/null 2>&1 &&
     [ ! -e "$logdir/Logsink_0001.zip" ]; then
    break
  fi
  sleep 0.1
done
sleep 0.5

step "Logsweep archived the ended period (read back with unzip)"
echo "-- the permanent archive collects the permanent files:"
unzip -l "$logdir/Logsink_Permanent.zip" | sed 's/^/   | /' || true
echo "-- the daily archive carries the daily log's own name, Logsink_0001.log:"
unzip -l "$logdir/Logsink_0001.log" | sed 's/^/   | /' || true
unzip -p "$logdir/Logsink_0001.log" Logsink_0001.log | sed 's/\r$//' | head -n 3 | sed 's/^/   | /' || true
echo "-- the state file: PermanentFile and DailyFile cleared, LogID 2"
show "$logdir/Logsink.dat"
echo "-- the log folder:"
ls -l "$logdir" | sed 's/^/   | /'

step "Logsweep trims an over-full log folder: at most 3 log files, oldest first"
printf '[LOG]\r\nMAX_NUM_OF_LOG_FILE=3\r\nMAX_SIZE_OF_LOG_DIR=2000\r\n' >"$x86/QNVDbmon.ini"
show "$x86/QNVDbmon.ini"
for n in 1 2 3 4; do  # a creation second apart
  sleep 1
  printf 'an older tool log %s\r\n' "$n" >"$logdir/Tool_000$n.log"
done
echo "-- before:"
ls "$logdir" | sed 's/^/   | /'
status=0
"$x86/Logsweep.exe" || status=$?
echo "Logsweep exit status $status: 254 is -2, one removal failed -- the logger holds its current"
echo "daily log Logsink_0002.log open without delete sharing, so it stays; the others due went."
echo "-- after:"
ls "$logdir" | sed 's/^/   | /'
printf '[LOG]\r\nMAX_NUM_OF_LOG_FILE=365\r\nMAX_SIZE_OF_LOG_DIR=2000\r\n' >"$x86/QNVDbmon.ini"

kill -INT "$logger"
while [ -e "/proc/$logger" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$logger/status" 2>/dev/null; do
  sleep 0.1
done
echo "Logsink has ended"

step "Schedtool removes the task; removing it again fails with -1999 (status 49)"
"$x86/Schedtool.exe" /r QNVLogsink && echo "Schedtool /r QNVLogsink: exit code 0"
"$x86/Schedtool.exe" /r QNVLogsink || echo "Schedtool /r QNVLogsink again: exit code $?"

# ---- StockInstaller: custom media into two simulated printers and the driver ----------------
step "StockInstaller: two simulated printers, the sample driver, a work folder with custom media"
sys32="$PAL_ROOT/drive_c/Windows/System32"
simdir="$PAL_ROOT/printersim"
mkdir -p "$simdir"
coproc SIM { exec "$sys32/printersim.exe" --state "$simdir" --exit-on-stdin-eof --printer P1 --printer P2; }
declare -A simport
while read -r line <&"${SIM[0]}"; do
  [ "$line" = ready ] && break
  echo "   | printersim: $line"
  name=${line%% *}
  simport[$name:tcp]=$(sed -n 's/.* tcp=\([0-9]*\).*/\1/p' <<<"$line")
  simport[$name:udp]=$(sed -n 's/.* udp=\([0-9]*\).*/\1/p' <<<"$line")
done
spooladm() { "$sys32/spooladm.exe" "$@"; }
spooladm add-driver --name "NORVANTE TQ770" --version 4 --config NVTQCFGX.DLL --data TQ770.VIF
# One printer reached over the raw byte stream, the other over SNMP only.
spooladm add-queue --name "TQ770 (USB)" --driver "NORVANTE TQ770" --port "NETLOOP:127.0.0.1:t${simport[P1:tcp]}"
spooladm add-queue --name "TQ770 (network)" --driver "NORVANTE TQ770" --port "NETLOOP:127.0.0.1:u${simport[P2:udp]}"
spooladm list | sed 's/^/   | /'
work="$PAL_ROOT/drive_c/work"
mkdir -p "$work"
cp "$PAL_ROOT/drive_c/ProgramData/NORVANTE/TQ770/sample/media/"* "$work/"
show "$work/media.ini"
echo "-- the work folder C:\\work:"
ls "$work" | sed 's/^/   | /'

step "StockInstaller.exe C:\\work\\media.ini: the protocol lines on its standard output"
status=0
"$x86/StockInstaller.exe" 'C:\work\media.ini' | sed 's/^/   | /' || true
"$x86/StockInstaller.exe" 2>/dev/null >/dev/null || status=$?
echo "(and without an argument: exit status $status, that is -1)"
cp "$PAL_ROOT/drive_c/ProgramData/NORVANTE/TQ770/sample/media/"* "$work/"
status=0
out=$("$x86/StockInstaller.exe" 'C:\work\media.ini') || status=$?
echo "A second run with the same media: exit status $status, $(grep -c '^Result=OK' <<<"$out") Result=OK lines,"
echo "and the printers were not written again (writes= below stays 3)."
show "$PAL_ROOT/drive_c/ProgramData/NORVANTE/TQ770/log/StockInstaller.log"

step "The printers' slots (27-byte records in hex; slots 3 to 9 empty)"
for p in P1 P2; do
  echo "-- $p: $(grep -E '^(writes|deletes|snmp_requests)=' "$simdir/$p.state" | tr '\n' ' ')"
  grep -E '^slot[0-9]=' "$simdir/$p.state" | sed 's/^/   | /'
done

step "The driver: configuration, ICC INI, profiles and their queues, paper files"
morli="$PAL_ROOT/drive_c/ProgramData/MORLI/NORVANTE TQ770"
show "$morli/CustomMedia.ini"
echo "-- ${morli#"$PAL_ROOT/"}/CustomMediaICC.ini (UTF-16LE: $(head -c 2 "$morli/CustomMediaICC.ini" | od -An -tx1 | tr -d ' ') byte order mark)"
iconv -f UTF-16 -t UTF-8 "$morli/CustomMediaICC.ini" | sed 's/\r$//' | sed 's/^/   | /'
echo "-- the colour directory:"
ls "$sys32/spool/drivers/color" | sed 's/^/   | /'
echo "-- the queues and their associated profiles:"
spooladm list | sed 's/^/   | /'
echo "-- the driver data folder:"
ls "$morli" | sed 's/^/   | /'
echo "-- the work folder after the run (emptied: run with \"/ND\" third to keep it):"
ls -A "$work" | sed 's/^/   | /'
eval "exec ${SIM[1]}>&-"
wait "$SIM_PID" 2>/dev/null || true
# ---- end of StockInstaller ------------------------------------------------------------------

step "Done. The demo machine stays in $PAL_ROOT"
