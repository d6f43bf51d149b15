#!/usr/bin/env bash
# Renders the SVG sources under resources/images/src to the PNGs embedded in the program.
# Run after editing an SVG; the PNGs are committed so a build needs no SVG tooling.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
src="$here/resources/images/src"
out="$here/resources/images"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing: apt-get install librsvg2-bin" >&2; exit 1; }
for svg in "$src"/*.svg; do
  name="$(basename "$svg" .svg)"
  rsvg-convert --format=png --output="$out/$name.png" "$svg"
  echo "rendered $name.png"
done
