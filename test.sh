#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each configuration in turn,
# and ends with one line "N passed, N failed" counting the stages. The run stops at the first
# stage that fails.
#
#   native    the module, host and all tests; memcheck over the conformance suite
#   asan      the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan      the concurrency test under ThreadSanitizer
#   integer   the suite with the module's code under clang's -fsanitize=integer
#   mingw32   spiQLM.spi: PE layout, then the DLL run by i386 Linux hosts under qemu-i386 on
#             each CPU model (conformance suite at every stack offset, kernel chosen, spihost);
#             the win32 archive
#   mingw64   the 64-bit Windows build under wine64: conformance suite on every path, host,
#             exceptions through the DLL; the win64 archive
#   fuzz      libFuzzer on every export (SPIQLM_FUZZ_SECONDS, default 60), then replay
#   coverage  100% of the module's lines and branches, or the stage fails
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

passed=0
stage() {
  local name=$1
  shift
  printf '\n=== %s ===\n' "$name"
  local start=$SECONDS
  "$@"
  passed=$((passed + 1))
  printf '=== %s passed in %d s ===\n' "$name" $((SECONDS - start))
}

stage native cmake --workflow --preset native
stage asan cmake --workflow --preset asan
stage tsan cmake --workflow --preset tsan
stage integer cmake --workflow --preset integer
stage mingw32 cmake --workflow --preset mingw32
stage mingw64 cmake --workflow --preset mingw64
# The path the 64-bit DLL and each of its capped test copies took, as the tests read it.
grep -h 'the module chose' build/mingw64/Testing/Temporary/LastTest.log || true
stage fuzz scripts/fuzz.sh "${SPIQLM_FUZZ_SECONDS:-60}"
stage coverage scripts/coverage.sh
printf '\nstages: %d passed, 0 failed\n' "$passed"
