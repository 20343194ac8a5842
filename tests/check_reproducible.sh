#!/bin/sh
# Builds the release files twice, from copies of the source tree in two
# directories of different names, a while apart, and fails when any differs
# byte for byte; it says which (and how, where diffoscope is installed).
# usage: check_reproducible.sh SOURCE_DIR linux|windows
set -eu
src=$1 platform=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

build() {  # build TREE: the release files of one build, under TREE/out
  mkdir -p "$1"
  tar -C "$src" --exclude='./build*' --exclude='./dist' -cf - . |
    tar -C "$1" -xf -
  if [ "$platform" = windows ]; then
    set -- "$1" --toolchain "$1/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release
  else
    set -- "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  tree=$1
  shift
  {
    cmake -S "$tree" -B "$tree/build" -G Ninja -DBUILD_TESTING=OFF "$@" &&
      cmake --build "$tree/build" &&
      cpack --config "$tree/build/CPackConfig.cmake" -B "$tree/out"
  } >"$tree.log" 2>&1 || { cat "$tree.log"; exit 1; }
  rm -rf "$tree/out/_CPack_Packages"
  cp "$tree/build/tolmex"* "$tree/out/"
}

# The packages' times come from the last commit; a tree without its history
# needs them from the builder.
if ! git -C "$src" rev-parse --git-dir >/dev/null 2>&1; then
  export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-0}"
fi
build "$scratch/first"
sleep 2
build "$scratch/second-tree-elsewhere"
differ=0
for file in $(cd "$scratch/first/out" && ls); do
  a="$scratch/first/out/$file" b="$scratch/second-tree-elsewhere/out/$file"
  if ! cmp -s "$a" "$b"; then
    echo "$file differs between two builds of the same source"
    if command -v diffoscope >/dev/null 2>&1; then
      diffoscope "$a" "$b" | head -40 || true
    fi
    differ=1
  fi
done
[ "$differ" = 0 ] && echo "identical: $(cd "$scratch/first/out" && ls | tr '\n' ' ')"
exit "$differ"
