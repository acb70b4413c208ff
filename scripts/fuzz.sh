#!/usr/bin/env bash
# Fuzzes every export with libFuzzer (clang, ASan + UBSan), then spihost's picture readers,
# then replays what it found.
#   scripts/fuzz.sh [SECONDS]   default 60: a bounded run of small inputs (stops at 1,000,000
#                               executions if that comes first), then a third as long on
#                               full-size inputs, then half as long on the picture readers.
#                               scripts/fuzz.sh 3600 is the long run.
# The corpus grows in build/fuzz/corpus, corpus-full and corpus-pictures; faults are written to
# build/fuzz/ as crash-* files: copy each into fuzz/regressions/ (fuzz/picture_regressions/
# for the picture readers), named after the fault.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh test
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
cd build/fuzz
/usr/bin/python3 ../../fuzz/make_seeds.py seeds/small seeds/full
mkdir -p corpus corpus-full
common=(-dict=../../fuzz/qlm.dict -timeout=5 -rss_limit_mb=2560 -print_final_stats=1)
echo "fuzzing small inputs for ${seconds} s"
./fuzz_exports corpus seeds/small ../../fuzz/regressions "${common[@]}" \
  -max_total_time="$seconds" -runs=1000000 2>&1 | tee small.log | grep -E "^#[0-9]+ +(INITED|DONE)|stat::|ERROR|SUMMARY" || true
full=$((seconds / 3 > 0 ? seconds / 3 : 1))
echo "fuzzing full-size inputs for ${full} s"
./fuzz_exports corpus-full seeds/full "${common[@]}" -max_len=524292 -len_control=0 \
  -max_total_time="$full" 2>&1 | tee full.log | grep -E "^#[0-9]+ +(INITED|DONE)|stat::|ERROR|SUMMARY" || true
pictures=$((seconds / 2 > 0 ? seconds / 2 : 1))
echo "fuzzing spihost's picture readers for ${pictures} s"
./write_picture_seeds seeds/pictures >/dev/null
mkdir -p corpus-pictures
./fuzz_pictures corpus-pictures seeds/pictures ../../fuzz/picture_regressions -dict=../../fuzz/pictures.dict -timeout=5 \
  -rss_limit_mb=2560 -print_final_stats=1 -max_len=65536 -max_total_time="$pictures" 2>&1 |
  tee pictures.log | grep -E "^#[0-9]+ +(INITED|DONE)|stat::|ERROR|SUMMARY" || true
# One pattern per kind: ls of several fails when any one of them matches nothing.
shopt -s nullglob
faults=(crash-* leak-* timeout-* oom-*)
if [[ ${#faults[@]} -gt 0 ]]; then
  echo "the fuzzer found faults: ${faults[*]}"
  exit 1
fi
# Everything found replays under the plain invariants too.
./fuzz_replay corpus corpus-full
./fuzz_pictures_replay corpus-pictures ../../fuzz/picture_regressions
