#!/usr/bin/env bash
# Does all set-up on a Debian 12 machine, then builds and runs every test:
# native, native under AddressSanitizer/UBSan, native under ThreadSanitizer,
# and the Windows build under Wine (unit, platform and
# end-to-end tests). Tiers can be named to run only those:
#   scripts/test.sh [native] [asan] [tsan] [windows] [e2e]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tiers=("$@")
[ ${#tiers[@]} -gt 0 ] || tiers=(native asan tsan windows e2e)

scripts/setup.sh

jobs=$(nproc)
step() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

run_preset() {  # preset
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}

for tier in "${tiers[@]}"; do
  case "$tier" in
    native) step "native build and unit tests"; run_preset native ;;
    asan) step "native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_preset native-asan ;;
    tsan) step "native tests under ThreadSanitizer"
      TSAN_OPTIONS=halt_on_error=1 run_preset native-tsan ;;
    windows)
      step "Windows build (mingw-w64) and its tests under Wine"
      scripts/build-win-boost.sh build/_deps/boost-win
      cmake --preset windows >/dev/null
      cmake --build --preset windows -j "$jobs"
      export WINEPREFIX="$root/build/windows/wineprefix"
      scripts/wine-prefix.sh "$WINEPREFIX" --serve
      trap 'scripts/wine-prefix.sh "$WINEPREFIX" --stop' EXIT
      ctest --preset windows -j "$jobs" -LE e2e
      scripts/wine-prefix.sh "$WINEPREFIX" --stop
      trap - EXIT
      ;;
    e2e)
      # Each scenario makes its own fresh prefix and wineserver.
      step "end-to-end tests of didurozir.exe under Wine"
      scripts/build-win-boost.sh build/_deps/boost-win
      cmake --preset windows >/dev/null
      cmake --build --preset windows -j "$jobs"
      ctest --preset windows -L e2e
      ;;
    *) echo "unknown tier: $tier" >&2; exit 2 ;;
  esac
done
step "all tests passed"
