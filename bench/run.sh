#!/bin/sh
# Builds tolmex in release mode (build-release/) and runs the benchmark.
# usage: bench/run.sh [RUNS]
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-release -j2 --target tolmex bench_noop_client bench_runner bench_floor bench_floor_static sample_client >/dev/null
exec python3 bench/measure.py build-release/bench_runner build-release/tolmex \
  build-release/bench_noop_client bench/handmade.sh \
  build-release/bench_floor build-release/sample_client \
  "${TMPDIR:-/tmp}/tolmex-bench" "${1:-300}"
