#!/usr/bin/env bash
# Renders data/icons/tidewell.svg to the 16 and 32 pixel PNGs beside it (committed, so that a
# build needs no renderer). Run after editing the SVG; needs rsvg-convert (Debian librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 32; do
    rsvg-convert --width "$size" --height "$size" --output "tidewell-$size.png" tidewell.svg
done
