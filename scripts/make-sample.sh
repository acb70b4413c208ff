#!/usr/bin/env bash
# Makes samples/logo.qlm, the bundled sample picture: ImageMagick's built-in "logo:" picture
# (640 x 480), scaled to 512 x 384, written as a binary PPM and encoded with our own writer.
# Needs Debian's imagemagick and a native build (cmake --workflow --preset demo).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert logo: -resize 512x512 -depth 8 "$work/logo.ppm"
build/demo/spihost encode -f -o samples/logo.qlm "$work/logo.ppm"
