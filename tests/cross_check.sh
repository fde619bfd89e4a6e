#!/usr/bin/env bash
# Runs the same inputs through the programs of two builds, one native and one
# cross-built for another processor (run through its emulator), and compares
# every output and report byte for byte: converted frames, y4m, and frame-snr's
# text, CSV and JSON reports.
#
#   tests/cross_check.sh NATIVE_BUILD CROSS_BUILD [EMULATOR]
set -euo pipefail
native=$(cd "$1" && pwd)
cross=$(cd "$2" && pwd)
emulator=${3:-qemu-aarch64}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

W=96 H=54 F=6
"$native/clip-tool" make rgb10 $W $H $F clip.rgb10
"$native/clip-tool" make rgb10 $W $H $F altered.rgb10 3
"$native/clip-tool" make yuv420 $W $H $F clip.yuv420
# Odd sizes too, and samples above 10 bits.
head -c $((6 * 37 * 23 * 2)) /dev/urandom > odd.rgb16

fail() { echo "FAIL: $*" >&2; exit 1; }
run_both() {  # NAME PROGRAM ARGS... (OUT stands for the output file)
  local name=$1 program=$2; shift 2
  "$native/$program" "${@//OUT/$name.native}" >"$name.native.out" 2>"$name.native.err"
  "$emulator" "$cross/$program" "${@//OUT/$name.cross}" >"$name.cross.out" 2>"$name.cross.err"
  cmp -s "$name.native.out" "$name.cross.out" || fail "$name: standard output differs"
  cmp -s "$name.native.err" "$name.cross.err" || fail "$name: standard error differs"
  if [ -e "$name.native" ]; then
    cmp -s "$name.native" "$name.cross" || fail "$name differs"
    cp "$name.native" "$name"
  fi
  echo "same: $name $(cat "$name.native" "$name.native.out" 2>/dev/null | sha256sum | cut -c1-16)"
}

run_both yuv10 rgb10_to_yuv10/rgb10-to-yuv10 clip.rgb10 OUT $W $H -1
run_both altered10 rgb10_to_yuv10/rgb10-to-yuv10 altered.rgb10 OUT $W $H -1
run_both odd10 rgb10_to_yuv10/rgb10-to-yuv10 odd.rgb16 OUT 37 23 -1
run_both yuv420 dovrak/dovrak clip.rgb10 OUT $W $H
run_both odd420 dovrak/dovrak odd.rgb16 OUT 37 23
run_both y4m dovrak/dovrak clip.rgb10 OUT $W $H --y4m
run_both rgb8 yuv420_to_rgb/yuv420-to-rgb clip.yuv420 OUT $W $H
run_both back8 yuv420_to_rgb/yuv420-to-rgb yuv420 OUT $W $H
run_both oddback8 yuv420_to_rgb/yuv420-to-rgb odd420 OUT 37 23
run_both yuv10y4m rgb10_to_yuv10/rgb10-to-yuv10 clip.rgb10 OUT $W $H -1 --y4m
run_both back10 yuv10_to_rgb10/yuv10-to-rgb10 altered10 OUT $W $H
run_both back10y4m yuv10_to_rgb10/yuv10-to-rgb10 yuv10y4m OUT $W $H
run_both report frame_snr/frame-snr altered10 yuv10 0 $H $W --csv OUT
run_both json frame_snr/frame-snr altered10 yuv10 1 $H $W --json -
run_both rgb10json frame_snr/frame-snr back10 clip.rgb10 0 $H $W --format rgb10 --json -
run_both rgb8csv frame_snr/frame-snr back8 rgb8 0 $H $W --format rgb8 --csv -
run_both yuv420json frame_snr/frame-snr yuv420 clip.yuv420 0 $H $W --format yuv420 --json -
# Every measure, in every report kind that gives all digits, on frames large
# enough for MS-SSIM too.
"$native/clip-tool" make rgb10 192 180 2 big.rgb10 >/dev/null
"$native/clip-tool" make rgb10 192 180 2 bigaltered.rgb10 3 >/dev/null
run_both measures frame_snr/frame-snr bigaltered.rgb10 big.rgb10 0 180 192 --format rgb10 \
  --measure ssim,ms-ssim,ciede2000 --json - --csv OUT
run_both big10 rgb10_to_yuv10/rgb10-to-yuv10 big.rgb10 OUT 192 180 -1
run_both bigaltered10 rgb10_to_yuv10/rgb10-to-yuv10 bigaltered.rgb10 OUT 192 180 -1
run_both measures10 frame_snr/frame-snr bigaltered10 big10 0 180 192 --measure ssim,ms-ssim --csv -
run_both measures8 frame_snr/frame-snr back8 rgb8 0 $H $W --format rgb8 --measure ciede2000,ssim --json -
run_both measures420 frame_snr/frame-snr yuv420 clip.yuv420 0 $H $W --format yuv420 --measure ssim --json -
# The Bjontegaard deltas of rd-curve, from reports of four alterations.
for k in 1 2 3 4; do
  "$native/clip-tool" make rgb10 $W $H 2 alt$k.rgb10 $k >/dev/null
  "$native/frame_snr/frame-snr" alt$k.rgb10 clip.rgb10 0 $H $W --format rgb10 --json rd$k.json >/dev/null 2>&1
done
for how in pchip cubic akima; do
  run_both rd$how rd_curve/rd-curve --quality snr_g --interpolation $how --json - --plot OUT \
    a 1000 rd1.json a 700 rd2.json a 500 rd3.json a 350 rd4.json \
    b 900 rd1.json b 650 rd2.json b 480 rd3.json b 300 rd4.json
done
echo "the native and cross-built programs agree byte for byte"
