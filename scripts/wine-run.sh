#!/usr/bin/env bash
# Runs a Windows program under wine64 in a throwaway prefix of the build's own.
#   scripts/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
export WINEPREFIX=$1
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers
mkdir -p "$WINEPREFIX"
exec /usr/lib/wine/wine64 "$@"
