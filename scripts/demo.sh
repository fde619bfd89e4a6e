#!/usr/bin/env bash
# Demonstration on built-in data: installs what the build needs and this
# machine lacks, builds, makes a short 10-bit clip and a slightly altered copy,
# converts both with rgb10-to-yuv10, checks that yuv10-to-rgb10 gives the clip
# back exactly, and measures the copy with frame-snr (as YCoCg-R and as RGB);
# then runs the 4:2:0 round trip dovrak -> yuv420-to-rgb and writes the first
# frame as a PPM picture. Everything goes to demo/ in the project.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/default
bash "$root/scripts/install-packages.sh" build
echo "== building the six programs and the clip maker (about 20 s on 2 cores)"
cmake --preset default >/dev/null
cmake --build --preset default --target rgb10-to-yuv10 yuv10-to-rgb10 frame-snr dovrak \
  yuv420-to-rgb clip-tool
out=$root/demo
mkdir -p "$out"
cd "$out"
W=320 H=180 F=10

"$build/clip-tool" make rgb10 $W $H $F clip.rgb10
"$build/clip-tool" make rgb10 $W $H $F altered.rgb10 3
"$build/rgb10_to_yuv10/rgb10-to-yuv10" clip.rgb10 clip.yuv10 $W $H $F
"$build/rgb10_to_yuv10/rgb10-to-yuv10" altered.rgb10 altered.yuv10 $W $H $F
echo "== yuv10-to-rgb10 gives the clip back exactly"
"$build/yuv10_to_rgb10/yuv10-to-rgb10" clip.yuv10 back.rgb10 $W $H
cmp back.rgb10 clip.rgb10 && echo "back.rgb10 and clip.rgb10 are the same"
echo
echo "== frame-snr altered.yuv10 against clip.yuv10 ($W x $H, $F frames)"
"$build/frame_snr/frame-snr" altered.yuv10 clip.yuv10 0 $H $W
echo
echo "== the same in RGB: frame-snr --format rgb10 altered.rgb10 against clip.rgb10"
"$build/frame_snr/frame-snr" altered.rgb10 clip.rgb10 0 $H $W --format rgb10 | tail -n 4

echo
echo "== round trip: clip.rgb10 -> dovrak -> clip.yuv420 -> yuv420-to-rgb -> clip.rgb8"
"$build/dovrak/dovrak" clip.rgb10 clip.yuv420 $W $H
"$build/yuv420_to_rgb/yuv420-to-rgb" clip.yuv420 clip.rgb8 $W $H
"$build/clip-tool" ppm $W $H 0 clip.rgb8 frame0.ppm
ls -l clip.rgb10 clip.yuv420 clip.rgb8 frame0.ppm
echo "first output frame as a picture: $out/frame0.ppm"
