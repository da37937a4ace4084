#!/usr/bin/env bash
# Builds static Boost.Thread and Boost.Filesystem for the Windows target from
# Debian's boost1.74 source package, matching the installed 1.74 headers.
# Output: $1/lib/libboost_thread.a, $1/lib/libboost_filesystem.a and
# $1/include/boost (a link to the system's Boost headers). Done once; a stamp
# file makes later runs return at once.
set -euo pipefail

out=$(realpath -m "${1:?usage: build-win-boost.sh OUTPUT_DIR}")
cxx=${CXX_MINGW:-x86_64-w64-mingw32-g++-posix}
ar=${AR_MINGW:-x86_64-w64-mingw32-ar}
stamp="$out/.built"
mkdir -p "$out"

exec 9>"$out/.lock"
flock 9
[ -f "$stamp" ] && exit 0

work="$out/work"
rm -rf "$work" && mkdir -p "$work"/{apt/lists/partial,apt/archives/partial,apt/sources.list.d}

# A private apt configuration whose source list is the system's own Debian
# sources with their type turned into deb-src; the system's apt state is left alone.
: > "$work/apt/sources.list"
if [ -f /etc/apt/sources.list ]; then
  sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' /etc/apt/sources.list > "$work/apt/sources.list"
fi
for f in /etc/apt/sources.list.d/*.sources; do
  [ -e "$f" ] || continue
  sed -E 's/^Types:.*/Types: deb-src/' "$f" > "$work/apt/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list.d/*.list; do
  [ -e "$f" ] || continue
  sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" > "$work/apt/sources.list.d/$(basename "$f")"
done
cat > "$work/apt/apt.conf" <<CONF
Dir::Etc::SourceList "$work/apt/sources.list";
Dir::Etc::SourceParts "$work/apt/sources.list.d";
Dir::State::Lists "$work/apt/lists";
Dir::Cache::Archives "$work/apt/archives";
CONF
echo "boost-win: fetching the boost1.74 source package"
(cd "$work" && APT_CONFIG="$work/apt/apt.conf" apt-get update -qq &&
  APT_CONFIG="$work/apt/apt.conf" apt-get source --download-only -qq boost1.74) 2>&1 |
  grep -v -e 'unsandboxed' -e '^$' || true
tarball=$(ls "$work"/boost1.74_*.orig.tar.* | head -n 1)

echo "boost-win: extracting thread and filesystem sources"
tar -xf "$tarball" -C "$work" --wildcards 'boost/libs/thread/src/*' 'boost/libs/filesystem/src/*'
src="$work/boost/libs"

# Only the boost headers, never the whole system include folder.
mkdir -p "$out/include" "$out/lib" "$work/obj"
ln -sfn /usr/include/boost "$out/include/boost"

compile() {  # name defines... -- sources...
  local name=$1; shift
  local defs=() srcs=()
  while [ "$1" != "--" ]; do defs+=("-D$1"); shift; done; shift
  srcs=("$@")
  local objs=() pids=()
  for s in "${srcs[@]}"; do
    local o="$work/obj/$name-$(basename "${s%.cpp}").o"
    "$cxx" -std=c++17 -O2 -w -I"$out/include" -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601 \
      "${defs[@]}" -c "$s" -o "$o" &
    pids+=($!)
    objs+=("$o")
  done
  for p in "${pids[@]}"; do wait "$p"; done
  rm -f "$out/lib/lib$name.a"
  "$ar" rcs "$out/lib/lib$name.a" "${objs[@]}"
}

echo "boost-win: compiling Boost.Thread"
compile boost_thread BOOST_THREAD_BUILD_LIB BOOST_THREAD_USE_LIB BOOST_THREAD_WIN32 -- \
  "$src"/thread/src/win32/{thread.cpp,tss_dll.cpp,tss_pe.cpp,thread_primitives.cpp} "$src"/thread/src/future.cpp
echo "boost-win: compiling Boost.Filesystem"
compile boost_filesystem BOOST_FILESYSTEM_STATIC_LINK BOOST_FILESYSTEM_SOURCE -- "$src"/filesystem/src/*.cpp

rm -rf "$work"
touch "$stamp"
echo "boost-win: done"
