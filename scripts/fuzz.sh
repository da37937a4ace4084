#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while, one after
# the other, starting from its stored corpus:
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
# Targets: netstat_fuzz server_conf_fuzz command_line_fuzz (default: all).
# New inputs that widen coverage go to build/fuzz/corpus/<target>/ (the stored
# corpus under fuzz/corpus/ is only read); crashes land in build/fuzz/ as
# crash-*, to be added to fuzz/corpus/<target>/ once fixed.
# Each target mutates inputs of up to FUZZ_MAX_LEN bytes (default 4096, never
# more for command lines): larger stored seeds are cut to that while fuzzing
# and still replayed whole by ctest. fuzz/<target>.dict seeds the mutations
# with the tokens of its input. FUZZ_RUNS, when set, also ends each target
# after that many executions, when they come before the seconds are up.
# FUZZ_BUILD_DIR overrides the build folder; FUZZ_JOBS runs that many
# targets at once.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(netstat_fuzz server_conf_fuzz command_line_fuzz)
build=$(realpath -m "${FUZZ_BUILD_DIR:-build/fuzz}")
jobs=${FUZZ_JOBS:-1}
max_len_default=${FUZZ_MAX_LEN:-4096}
runs=${FUZZ_RUNS:--1}

"$root/scripts/setup.sh"

# The libraries get coverage instrumentation and the sanitizers too, so that
# libFuzzer is guided by the code under test and not only by the target.
# Pointer overflow stays recoverable so that fuzz/ubsan.supp can name the one
# known case in RapidJSON; halt_on_error stops at every other.
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
flags+=" -fsanitize-recover=pointer-overflow -fno-omit-frame-pointer -g -O1"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIDUROZIR_FUZZ=ON -DDIDUROZIR_TESTS=OFF \
  -DDIDUROZIR_WERROR=ON -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target "${targets[@]}"

run_one() {
  local target=$1
  local work="$build/corpus/$target"
  mkdir -p "$work"
  # Command lines are short; listings and configuration files get the
  # default bound, which keeps a mutation cheap.
  local max_len=$max_len_default
  [ "$target" != command_line_fuzz ] || max_len=$((max_len < 4096 ? max_len : 4096))
  local dict=()
  [ ! -f "$root/fuzz/$target.dict" ] || dict=(-dict="$root/fuzz/$target.dict")
  echo "=== $target for ${seconds}s, max_len $max_len ($(date +%T))"
  # The stored corpus comes second: only the first folder receives new inputs.
  (cd "$build" && ASAN_OPTIONS=detect_leaks=1 \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$root/fuzz/ubsan.supp" \
    "$build/fuzz/$target" -max_total_time="$seconds" -runs="$runs" \
    -rss_limit_mb=2048 -max_len="$max_len" "${dict[@]}" -timeout=30 \
    -print_final_stats=1 -artifact_prefix="$build/$target-" \
    "$work" "$root/fuzz/corpus/$target" \
    >"$build/$target.log" 2>&1) || { tail -40 "$build/$target.log"; return 1; }
  grep -E '^stat::number_of_executed_units|^stat::average_exec_per_sec|^stat::peak_rss_mb|^#[0-9]+ *DONE' \
    "$build/$target.log" | sed "s/^/$target: /"
}

status=0
running=0
for target in "${targets[@]}"; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
