#!/usr/bin/env bash
# Builds the benchmarks (native, optimised) and runs them once: the recovery's
# data path over generated "netstat -ano" listings of 1,000 to 100,000 rows,
# its one-pass lower bound, the watched port set and the idle cycle's process
# test. Prints the figures and the goals as ratios, and draws
# docs/performance-rows.png (time against rows).
#   scripts/bench.sh [build-dir]        default build/bench
# BENCH_REPETITIONS (default 5): runs of each benchmark; medians are reported.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/bench}
repetitions=${BENCH_REPETITIONS:-5}
results="$build/bench-results"
plot=docs/performance-rows.png

scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDIDUROZIR_BENCH=ON >/dev/null
cmake --build "$build" --target didurozir_bench
mkdir -p "$results"

echo "bench: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/didurozir_bench" \
  --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$results/bench.json" --benchmark_out_format=json

# Ratios from the medians of this one run; CPU time, which a machine shared
# with other work disturbs less than wall time.
python3 - "$results/bench.json" "$results/rows.dat" <<'EOF'
import json
import sys

with open(sys.argv[1]) as f:
    report = json.load(f)
# One repetition reports the run itself, more report aggregates.
medians = {}
for b in report["benchmarks"]:
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
        medians[b["run_name"]] = b
    elif b.get("run_type") == "iteration":
        medians.setdefault(b["run_name"], b)

def ms(b):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b["cpu_time"] * scale

path = {n: medians["BM_RecoveryDataPath/%d" % n] for n in (1000, 10000, 100000)}
scan = {n: medians["BM_LowerBoundScan/%d" % n] for n in (1000, 10000, 100000)}
idle = medians["BM_IdleCycleProcessTest"]
conf = medians["BM_WatchedPortSet"]

with open(sys.argv[2], "w") as out:
    out.write("# rows data_path_ms lower_bound_ms release_ms\n")
    for n in (1000, 10000, 100000):
        out.write("%d %.4f %.4f %.4f\n" % (n, ms(path[n]), ms(scan[n]),
                                          path[n]["release_us"] / 1e3))

print()
print("%-8s %12s %12s %12s %10s %12s %14s" % ("rows", "data path ms",
      "lower bd ms", "release ms", "allocs", "peak heap MB", "listing MB"))
for n in (1000, 10000, 100000):
    p = path[n]
    print("%-8d %12.3f %12.3f %12.3f %10d %12.2f %14.2f" % (
        n, ms(p), ms(scan[n]), p["release_us"] / 1e3, p["allocs"],
        p["peak_heap_bytes"] / 1e6, p["listing_bytes"] / 1e6))
print("watched port set (defaults + server.conf): %.1f us, %d ports, %d allocations"
      % (ms(conf) * 1e3, conf["ports"], conf["allocs"]))
print("idle cycle process test, %d processes: %.1f us, %g allocations "
      "(%g of them the snapshot's), heap growth %g bytes per cycle"
      % (idle["processes"], ms(idle) * 1e3, idle["allocs_per_cycle"],
         idle["snapshot_allocs"], idle["heap_growth_per_cycle_bytes"]))

big, mid = path[100000], path[10000]
goals = [
    ("data path on 100,000 rows / lower bound", ms(big) / ms(scan[100000]), 8),
    ("data path 100,000 rows / 10,000 rows", ms(big) / ms(mid), 12),
    ("peak heap 100,000 rows / listing bytes",
     big["peak_heap_bytes"] / big["listing_bytes"], 5),
    ("idle cycle allocations beyond the snapshot",
     idle["allocs_beyond_snapshot"], 0),
    ("idle cycle heap growth, bytes", idle["heap_growth_per_cycle_bytes"], 0),
]
print()
print("goals (this run):")
for name, value, limit in goals:
    verdict = "met" if value <= limit else "MISSED"
    print("  %-46s %8.2f  (at most %g)  %s" % (name, value, limit, verdict))
print("  %-46s %8.2f  (not a goal)" % ("table release 100,000 rows / 10,000 rows",
      big["release_us"] / mid["release_us"]))
EOF

gnuplot <<EOF
set terminal pngcairo size 900,560 font "DejaVu Sans,11"
set output "$plot"
set title "Recovery data path against listing size (CPU time, median of $repetitions)"
set xlabel "rows in the netstat -ano listing"
set ylabel "milliseconds"
set logscale xy
set xrange [700:140000]
set format x "%.0f"
set grid
set key top left
plot "$results/rows.dat" using 1:2 with linespoints lw 2 pt 7 title "TrimToFirstTcp + BuildIndex + FindPids", \
     "" using 1:4 with linespoints lw 2 pt 5 title "release of the table", \
     "" using 1:3 with linespoints lw 2 pt 9 title "lower bound: one pass over the bytes"
EOF
echo "bench: results in $results, plot in $plot"
