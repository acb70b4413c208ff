#!/usr/bin/env bash
# Runs every benchmark beside its floor and writes build/bench/results.json (Google Benchmark's
# JSON) and build/bench/summary.md (the ratios, as the README quotes them). Medians of 5
# repetitions; the native build is baseline x86-64, no -march=native: the fast paths come from
# run-time selection.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake --preset native >/dev/null
cmake --build build/native --target spiqlm_bench -j"$(nproc)"
mkdir -p build/bench
build/native/spiqlm_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out=build/bench/results.json --benchmark_out_format=json \
  --summary=build/bench/summary.md "$@"
echo
echo "wrote build/bench/results.json and build/bench/summary.md"
