#!/usr/bin/env bash
# Builds Release and regenerates every benchmark figure into one table of README.md, between
# the markers <!-- bench:begin --> and <!-- bench:end -->: medians, side-by-side ratios against
# each figure's baseline, and the machine they were measured on.
#   scripts/bench.sh [--quick]     (--quick: fewer repetitions and smaller folders, for a try)
# BUILD_DIR chooses the build folder (default build-release); BENCH_NO_BUILD=1 uses it as it is;
# BENCH_README writes the table into another file.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-release}
quick=0
[ "${1:-}" = "--quick" ] && quick=1
reps=$((quick ? 3 : 10))
records=$((quick ? 5000 : 20000))
sweep_counts=$([ $quick = 1 ] && echo "2000" || echo "10000 100000")
si_rounds=$((quick ? 3 : 7))

readme=${BENCH_README:-$root/README.md}
if [ "${BENCH_NO_BUILD:-0}" = 0 ]; then
  scripts/deps.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target platform_bench log_channel_bench logsink_bench logsweep_bench \
    $(grep -q 'stockinstaller_tests' StockInstaller/CMakeLists.txt 2>/dev/null && echo stockinstaller_tests)
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
load_before=$(cut -d' ' -f1 /proc/loadavg)

echo "== platform_bench"
"$build/bench/platform_bench" --benchmark_repetitions=$reps --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$out/platform.json"
echo "== log_channel_bench"
"$build/bench/log_channel_bench" --benchmark_repetitions=$reps --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$out/channel.json"
echo "== logsink_bench ($records records per run)"
logsink_bench=$(find "$build" -name logsink_bench -type f -perm -u+x | head -1)
"$logsink_bench" "$records" | tee "$out/logsink.txt"
echo "== logsweep_bench ($sweep_counts files, with and without content)"
logsweep_bench=$build/bench/logsweep_bench
"$logsweep_bench" --bytes 6 $sweep_counts | tee "$out/logsweep_content.txt"
"$logsweep_bench" $sweep_counts | tee "$out/logsweep_empty.txt"
si_tests=$(find "$build" -name stockinstaller_tests -type f -perm -u+x | head -1)
if [ -n "$si_tests" ]; then
  echo "== StockInstaller run, $si_rounds rounds"
  for _ in $(seq "$si_rounds"); do
    "$si_tests" --gtest_filter='*TenMediaIntoTwoPrintersIsQuick*' --gtest_brief=1 2>&1 | grep -E '\([0-9]+ ms' || true
  done | tee "$out/stockinstaller.txt"
fi
load_after=$(cut -d' ' -f1 /proc/loadavg)

python3 - "$out" "$readme" "$(nproc)" "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')" \
  "$load_before" "$load_after" "$reps" "$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")" <<'PY'
import json, re, statistics, sys, os
out, readme, cores, cpu, load0, load1, reps, build_type = sys.argv[1:9]
rows = []  # (figure, measured, baseline, ratio)

def us(ns):
    return f"{ns/1000:.2f} µs" if ns < 100000 else f"{ns/1000:,.0f} µs"

def gbench(path):
    data = json.load(open(path))
    med = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
            name = re.sub(r"/(min_time:[^/]*|real_time)", "", b["run_name"])
            med[name] = (b["real_time"] * scale, b["cpu_time"] * scale)
    return med

p = gbench(os.path.join(out, "platform.json"))
pairs = [("BM_PerRecordOpenMapClose", "BM_PlainShmOpenMapClose", "writer's per-record open/map/close of three objects")]
used = set()
for ours, base, what in pairs:
    if ours in p and base in p:
        rows.append((f"platform: {what} (CPU)", us(p[ours][1]), us(p[base][1]) + " (plain shm)", f"{p[ours][1]/p[base][1]:.2f}"))
        rows.append((f"platform: {what} (wall)", us(p[ours][0]), us(p[base][0]) + " (plain shm)", f"{p[ours][0]/p[base][0]:.2f}"))
        used |= {ours, base}
for name, (real, cpu_t) in p.items():
    if name not in used:
        rows.append((f"platform: `{name}` (CPU / wall)", f"{us(cpu_t)} / {us(real)}", "", ""))

c = gbench(os.path.join(out, "channel.json"))
for name, (real, cpu_t) in c.items():
    rows.append((f"log channel: `{name}` (text bytes) round trip (wall / writer CPU)", f"{us(real)} / {us(cpu_t)}",
                 "", f"{1e9/real:,.0f} records/s"))

text = open(os.path.join(out, "logsink.txt")).read()
for m in re.finditer(r"^(Logsink, \d+ writer process(?:es)?)\s+(\d+)\s+([\d.]+)\s+([\d.]+)$", text, re.M):
    rows.append((f"logging road: {m.group(1)}", f"{int(m.group(2)):,} records/s",
                 "futex handoff (a) / (b)", f"{m.group(3)} / {m.group(4)}"))
for m in re.finditer(r"^\((a|b)\) futex handoff, (.*?)\s+(\d+)\s+[\d.]+\s+[\d.]+$", text, re.M):
    rows.append((f"logging road baseline ({m.group(1)}): {m.group(2)}", f"{int(m.group(3)):,} records/s", "", ""))

for kind, path in (("6-byte files", "logsweep_content.txt"), ("empty files", "logsweep_empty.txt")):
    for m in re.finditer(r"^(\d+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+(\d+)\s+(\d+)$", open(os.path.join(out, path)).read(), re.M):
        rows.append((f"Logsweep trim of {int(m.group(1)):,} {kind} to 500 (time; peak)",
                     f"{float(m.group(2)):.2f} s; {int(m.group(5))/1024:.1f} MiB",
                     f"{float(m.group(3)):.2f} s; {int(m.group(6))/1024:.1f} MiB (plain deletion)", m.group(4)))

si = os.path.join(out, "stockinstaller.txt")
if os.path.exists(si):
    ms = [int(x) for x in re.findall(r"\((\d+) ms", open(si).read())]
    if ms:
        rows.append(("StockInstaller: ten media into two printers, start to exit", f"{statistics.median(ms)/1000:.2f} s",
                     "", f"{min(ms)/1000:.2f} to {max(ms)/1000:.2f} s over {len(ms)} runs"))

table = [f"Regenerated by `scripts/bench.sh` ({build_type} build, Google Benchmark medians of {reps} repetitions,",
         f"other figures medians of their rounds) on {cores} cores, {cpu}; load average {load0} before",
         f"and {load1} after the runs. A ratio is the figure divided by its baseline (below 1 is faster",
         "for times, above 1 is faster for rates).", "",
         "| Figure | Measured | Baseline | Ratio |", "|---|---|---|---|"]
table += [f"| {a} | {b} | {c} | {d} |" for a, b, c, d in rows]
block = "<!-- bench:begin -->\n" + "\n".join(table) + "\n<!-- bench:end -->"
doc = open(readme).read()
if "<!-- bench:begin -->" in doc and "<!-- bench:end -->" in doc:
    doc = re.sub(r"<!-- bench:begin -->.*?<!-- bench:end -->", lambda _: block, doc, flags=re.S)
else:
    doc = doc.rstrip("\n") + "\n\n## Benchmarks\n\n" + block + "\n"
open(readme, "w").write(doc)
print("\n".join(table))
PY
