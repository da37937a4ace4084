#!/usr/bin/env bash
# The VERSIONINFO follows the project's version in every build: a tree built
# once, its version raised, built again, stamps the new version (ninja used
# to find nothing to do, windres writing no dependency file). And the release
# check (scripts/pe_version.py --expect, as dist.sh runs it) takes a matching
# executable and refuses another.
#   version_resource.sh SOURCE_DIR WORK_DIR PRODUCT_EXE PRODUCT_VERSION NEXT_EXE NEXT_VERSION
set -euo pipefail
readonly kSource=$1 kWork=$2 kProduct=$3 kVersion=$4 kNext=$5 kNextVersion=$6
readonly kReader=$kSource/scripts/pe_version.py
fail() { echo "FAIL: $*" >&2; exit 1; }

tree=$kWork/version-probe
rm -rf "$tree"
build() {
  cmake -S "$kSource/tests/app/version_resource" -B "$tree" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$kSource/cmake/mingw-w64.cmake" \
    -DDIDUROZIR_SOURCE_DIR="$kSource" -DPROBE_VERSION="$1" >"$tree.log" 2>&1 ||
    fail "configure $1: $(tail -20 "$tree.log")"
  cmake --build "$tree" >>"$tree.log" 2>&1 || fail "build $1: $(tail -20 "$tree.log")"
}
for version in 1.0.0 1.0.1 1.2.0; do
  build "$version"
  got=$(python3 "$kReader" "$tree/probe.exe")
  [ "$got" = "$version.0" ] || fail "built as $version, stamped $got"
  echo "ok: built as $version in one tree, stamped $got"
done

python3 "$kReader" "$kProduct" --expect "$kVersion" ||
  fail "didurozir.exe is not stamped $kVersion"
python3 "$kReader" "$kNext" --expect "$kNextVersion" ||
  fail "the later didurozir.exe is not stamped $kNextVersion"
rc=0
message=$(python3 "$kReader" "$kNext" --expect "$kVersion" 2>&1) || rc=$?
[ "$rc" -eq 1 ] || fail "a mismatch gave exit code $rc"
[ "$message" = "$kNext: file version $kNextVersion.0, expected $kVersion.0" ] ||
  fail "mismatch message: $message"
rc=0
python3 "$kReader" "$kSource/tests/app/version_resource/probe.c" 2>/dev/null || rc=$?
[ "$rc" -eq 2 ] || fail "a file without a version gave exit code $rc"
echo "ok: the release check takes $kVersion, refuses $kNextVersion and a file without version"
rm -rf "$tree" "$tree.log"
