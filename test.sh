#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each configuration in turn.
# Each stage prints its own results; the run stops at the first stage that fails.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

stage() { printf '\n=== %s ===\n' "$1"; }

stage "native build and tests"
cmake --workflow --preset native

stage "32-bit Windows DLL: PE layout and the emulated i386 host"
cmake --workflow --preset mingw32

stage "64-bit Windows build under wine64"
cmake --workflow --preset mingw64
