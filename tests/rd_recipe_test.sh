#!/usr/bin/env bash
# The README's rate-distortion recipe, as written there, on a small clip made
# from ffmpeg's test source: two routes through x265 over a CRF ladder, each
# decode measured in RGB, and rd-curve's table, deltas, JSON and plot.
#   rd_recipe_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed: skipped"; exit 77; }
encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null)  # read whole: grep -q would cut it short
grep -q libx265 <<<"$encoders" || { echo "ffmpeg has no libx265: skipped"; exit 77; }
export PATH="$build/rgb10_to_yuv10:$build/yuv10_to_rgb10:$build/frame_snr:$build/rd_curve:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The recipe: the README's indented lines from "W=" to the rd-curve command,
# at a small size.
awk '/^## The answer/ { on = 1 } on && /^    W=/ { go = 1 } go && /^    / { sub(/^    /, ""); print }
     go && /--plot rd.svg --json rd.json/ { exit }' "$source/README.md" > recipe.sh
grep -q '^W=1920 H=1080 FPS=25$' recipe.sh || { echo "the README's recipe has changed its first line"; exit 1; }
sed -i 's/^W=1920 H=1080 FPS=25$/W=160 H=96 FPS=25/' recipe.sh
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=160x96:rate=25 -frames:v 6 \
  -vf format=gbrp10le,shuffleplanes=2:0:1 -pix_fmt gbrp10le -f rawvideo clip.rgb10
bash -euo pipefail recipe.sh > table.txt 2> warnings.txt || { cat table.txt warnings.txt; exit 1; }
cat table.txt
grep -q '^ycocg	' table.txt
/usr/bin/python3 - <<'PY'
import json, math
rd = json.load(open("rd.json"))
assert rd["anchor"] == "bt709" and len(rd["points"]) == 8, rd
(delta,) = rd["bd"]
assert delta["route"] == "ycocg" and math.isfinite(delta["bd_rate"]) and 0 < delta["overlap"] <= 1, delta
PY
if command -v xmllint >/dev/null; then xmllint --noout rd.svg; fi
if command -v rsvg-convert >/dev/null; then rsvg-convert rd.svg -o rd.png && [ -s rd.png ]; fi
echo "the README's rate-distortion recipe gave the table, the deltas, the JSON and the plot"
