#!/usr/bin/env bash
# Line and branch coverage of the module's code (format/, plugin/, winapi/) under the whole test
# suite plus a replay of the fuzz corpus (build/fuzz/corpus*, if scripts/fuzz.sh has run).
# Writes build/coverage/index.html and build/coverage/summary.txt; fails below 100%.
# Exclusions are marked in the code (GCOVR_EXCL_...) with their reason, and listed in the README.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j"$(nproc)"
find build/coverage -name '*.gcda' -delete
ctest --preset coverage
corpora=()
for dir in build/fuzz/corpus build/fuzz/corpus-full; do [[ -d $dir ]] && corpora+=("$dir"); done
if [[ ${#corpora[@]} -gt 0 ]]; then build/coverage/fuzz_replay "${corpora[@]}"; fi
mkdir -p build/coverage/report
# Searched from build/coverage alone: from the root, gcovr would follow the Windows stages' wine
# prefix (its z: drive links to /) over the whole machine and other checkouts' data files.
gcovr --root . --object-directory build/coverage build/coverage \
  --exclude-directories 'build/coverage/CMakeFiles/[0-9.]+' \
  --filter 'format/' --filter 'plugin/' --filter 'winapi/' \
  --exclude-unreachable-branches --exclude-throw-branches \
  --html-details build/coverage/report/index.html --txt build/coverage/summary.txt \
  --print-summary --fail-under-line 100 --fail-under-branch 100
cat build/coverage/summary.txt
