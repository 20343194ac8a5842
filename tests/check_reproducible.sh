#!/bin/sh
# Builds the release files twice, from copies of the source tree in two
# directories of different names, a while apart, and fails when any differs
# byte for byte, naming it (and showing how, where diffoscope is installed).
# An installer (.msi) cannot be: wixl writes a new package code, the time
# it ran and the files' times into each; its tables but for those (entries
# 9, 12 and 13 of the summary) and the files it holds must be the same.
# A tree without git history needs SOURCE_DATE_EPOCH from its builder.
# usage: check_reproducible.sh SOURCE_DIR linux|windows-x86_64|windows-i686
set -eu
src=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
git -C "$src" rev-parse --git-dir >/dev/null 2>&1 ||
  export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-0}"
options=-DCMAKE_BUILD_TYPE=RelWithDebInfo
case "$2" in
windows-x86_64) options="-DCMAKE_BUILD_TYPE=Release --toolchain cmake/mingw-w64.cmake" ;;
windows-i686) options="-DCMAKE_BUILD_TYPE=Release --toolchain cmake/mingw-w64-i686.cmake" ;;
esac

for tree in "$scratch/first" "$scratch/second-tree-elsewhere"; do
  sleep 1
  mkdir -p "$tree"
  tar -C "$src" --exclude='./build*' --exclude='./dist' -cf - . | tar -C "$tree" -xf -
  # shellcheck disable=SC2086
  { cd "$tree" && cmake -S . -B build -G Ninja -DBUILD_TESTING=OFF $options &&
    cmake --build build && cpack --config build/CPackConfig.cmake -B out; } \
    >"$tree.log" 2>&1 || { cat "$tree.log"; exit 1; }
  rm -rf "$tree/out/_CPack_Packages"
  cp "$tree/build/tolmex"* "$tree/out/"
done
msi_content() {  # of installer $1 into $2
  mkdir -p "$2/tables" "$2/files"
  msidump -d "$2/tables" "$1" >/dev/null
  sed -i '/^\(9\|12\|13\)\t/d' "$2/tables/_SummaryInformation.idt"
  msiextract -C "$2/files" "$1" >/dev/null
}
status=0
for file in $(ls "$scratch/first/out"); do
  a="$scratch/first/out/$file" b="$scratch/second-tree-elsewhere/out/$file"
  cmp -s "$a" "$b" && continue
  case "$file" in *.msi) msi_content "$a" "$scratch/a" &&
    msi_content "$b" "$scratch/b" && diff -r "$scratch/a" "$scratch/b" &&
    continue ;;
  esac
  echo "$file differs between two builds of the same source"
  command -v diffoscope >/dev/null 2>&1 && { diffoscope "$a" "$b" | head -40 || true; }
  status=1
done
[ "$status" = 1 ] || echo "identical: $(ls "$scratch/first/out" | tr '\n' ' ')"
exit "$status"
