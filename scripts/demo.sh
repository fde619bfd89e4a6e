#!/usr/bin/env bash
# Demonstration on built-in data: makes a short 10-bit clip and a slightly
# altered copy, converts both with rgb10-to-yuv10 and measures them with
# frame-snr; then runs the 4:2:0 round trip dovrak -> yuv420-to-rgb and writes
# the first frames as PPM pictures. Everything goes to demo/ in the project.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/default
if [ ! -x "$build/dovrak/dovrak" ] || [ ! -x "$build/clip-tool" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default >/dev/null
fi
out=$root/demo
mkdir -p "$out"
cd "$out"
W=320 H=180 F=10

"$build/clip-tool" make rgb10 $W $H $F clip.rgb10
"$build/clip-tool" make rgb10 $W $H $F altered.rgb10 3
"$build/rgb10_to_yuv10/rgb10-to-yuv10" clip.rgb10 clip.yuv10 $W $H $F
"$build/rgb10_to_yuv10/rgb10-to-yuv10" altered.rgb10 altered.yuv10 $W $H $F
echo "== frame-snr altered.yuv10 against clip.yuv10 ($W x $H, $F frames)"
"$build/frame_snr/frame-snr" altered.yuv10 clip.yuv10 0 $H $W

echo
echo "== round trip: clip.rgb10 -> dovrak -> clip.yuv420 -> yuv420-to-rgb -> clip.rgb8"
"$build/dovrak/dovrak" clip.rgb10 clip.yuv420 $W $H
"$build/yuv420_to_rgb/yuv420-to-rgb" clip.yuv420 clip.rgb8 $W $H
"$build/clip-tool" ppm $W $H 0 clip.rgb8 frame0.ppm
ls -l clip.rgb10 clip.yuv420 clip.rgb8 frame0.ppm
echo "first output frame as a picture: $out/frame0.ppm"
