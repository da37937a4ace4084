#!/usr/bin/env bash
# Builds the release and writes into dist/: didurozir.exe (stripped; its debug
# information in didurozir.exe.debug beside it, linked by .gnu_debuglink),
# didurozir-messages.dll, the MSI package didurozir-<version>-x64.msi, and
# SHA256SUMS of them. Refuses an executable whose file version is not the
# project's or that lacks ASLR, DEP or stack protection (pe_hardening.py), and
# a package whose tables break what docs/package.md promises (msi_tables.py).
# Does its own set-up on a fresh Debian 12 machine.
# With a certificate (SIGN_PKCS12 or SIGN_PKCS11_*, see scripts/sign.sh) the
# executable, the DLL and the MSI built from them are signed with Authenticode.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
readonly kMaxExeBytes=$((1536 * 1024))

scripts/setup.sh
# Unusable signing settings fail here, before anything is built or written.
signing=$(scripts/sign.sh --check)
scripts/build-win-boost.sh build/_deps/boost-win
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release -j "$(nproc)" --target didurozir didurozir_messages

build=$root/build/windows-release
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "dist: no project version in $build" >&2; exit 1; }
# An executable stamped with another version would not replace the installed
# one in an upgrade (Windows Installer keeps a file of equal version).
python3 scripts/pe_version.py "$build/src/app/didurozir.exe" --expect "$version" || {
  echo "dist: didurozir.exe is not stamped with the project version $version: not packaged" >&2
  exit 1
}
# The hardening the release promises, read from the linked executable (its
# symbols show the stack protector at work; stripping changes no flag).
python3 scripts/pe_hardening.py "$build/src/app/didurozir.exe" || {
  echo "dist: didurozir.exe lacks the hardening above: not packaged" >&2
  exit 1
}
dist=$root/dist
rm -rf "$dist"
mkdir -p "$dist"

# sign_release FILE...: signs in place (after stripping: a change after
# signing would break the signature). A failed signing leaves no release
# behind that could pass for a signed one.
sign_release() {
  scripts/sign.sh "$@" || { rm -rf "$dist"; echo "dist: signing failed; dist/ removed" >&2; exit 1; }
}

# The debug information goes beside the executable, for post-mortem
# debugging of a dump with the shipped build.
objcopy=x86_64-w64-mingw32-objcopy
"$objcopy" --only-keep-debug "$build/src/app/didurozir.exe" "$dist/didurozir.exe.debug"
x86_64-w64-mingw32-strip --strip-all -o "$dist/didurozir.exe" "$build/src/app/didurozir.exe"
(cd "$dist" && "$objcopy" --add-gnu-debuglink=didurozir.exe.debug didurozir.exe)
cp "$build/src/app/didurozir-messages.dll" "$dist/"
sign_release "$dist/didurozir.exe" "$dist/didurozir-messages.dll"
size=$(stat -c %s "$dist/didurozir.exe")
if [ "$size" -gt "$kMaxExeBytes" ]; then
  echo "dist: didurozir.exe is $size bytes, more than $kMaxExeBytes" >&2
  exit 1
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$dist/didurozir.exe" "$dist/didurozir-messages.dll" "$stage/"
msi=didurozir-$version-x64.msi
# The package's tables are checked before it is signed: what Windows
# Installer executes is what counts, not what the source says.
scripts/package.sh "$stage" "$version" "$dist/$msi" || { rm -rf "$dist"; exit 1; }
sign_release "$dist/$msi"

(cd "$dist" && sha256sum didurozir.exe didurozir-messages.dll "$msi" >SHA256SUMS)
echo "dist: version $version, didurozir.exe $size bytes"
echo "dist: $signing"
ls -l "$dist"
