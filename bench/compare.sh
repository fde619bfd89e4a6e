#!/usr/bin/env bash
# End-to-end comparison of the four programs with the tools users would pick
# instead, on 1920 x 1080, 60-frame clips: each command's median wall time over
# several runs, the ratio ours / theirs, and our peak memory.
#
#   bash bench/compare.sh            (after cmake --build --preset default)
#   RUNS=9 BENCH_DIR=/some/dir bash bench/compare.sh
#
# Data goes to BENCH_DIR (default: a fresh folder in /dev/shm when it has room,
# so that disk write-back does not blur the figures) and is removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/default}
runs=${RUNS:-7}
W=1920 H=1080 F=60

for tool in ffmpeg /usr/bin/time; do
  if ! command -v "$tool" >/dev/null; then
    echo "installing ffmpeg and time from Debian's packages"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ffmpeg time >/dev/null
    break
  fi
done
for p in rgb10_to_yuv10/rgb10-to-yuv10 frame_snr/frame-snr dovrak/dovrak yuv420_to_rgb/yuv420-to-rgb clip-tool; do
  [ -x "$build/$p" ] || { echo "missing $build/$p: build first (cmake --build --preset default)"; exit 1; }
done

if [ -z "${BENCH_DIR:-}" ]; then
  if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR==2 {print $4}')" -gt $((8 * 1024 * 1024)) ]; then
    BENCH_DIR=$(mktemp -d /dev/shm/rawframes-bench.XXXXXX)
  else
    BENCH_DIR=$(mktemp -d "$root/build/bench-data.XXXXXX")
  fi
  trap 'rm -rf "$BENCH_DIR"' EXIT
fi
cd "$BENCH_DIR"

echo "making ${W}x${H}, $F-frame clips in $BENCH_DIR"
"$build/clip-tool" make rgb10 $W $H $F clip.rgb10
"$build/clip-tool" make rgb10 $W $H $F altered.rgb10 3
"$build/clip-tool" make yuv420 $W $H $F clip.yuv420
"$build/rgb10_to_yuv10/rgb10-to-yuv10" clip.rgb10 reference.yuv10 $W $H $F
"$build/rgb10_to_yuv10/rgb10-to-yuv10" altered.rgb10 target.yuv10 $W $H $F

# median_ms CMD...: runs CMD once to warm up, then $runs times; prints the median.
median_ms() {
  "$@" >/dev/null 2>&1 || true
  local times=() t0 t1
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}'
}
peak_mib() {
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1 | awk '{printf "%.1f", $1/1024}'
}

ff=(ffmpeg -nostdin -v error -y)
line() {  # name ours-ms theirs-ms theirs-name peak buffers
  awk -v n="$1" -v a="$2" -v b="$3" -v t="$4" -v m="$5" -v f="$6" \
    'BEGIN {printf "%-15s ours %8.1f ms  %-22s %8.1f ms  ratio %.3f  peak %6.1f MiB (frame buffers %.1f MiB)\n", n, a, t, b, a / b, m, f}'
}
buffers() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }

echo "median of $runs runs each; CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
a=$(median_ms "$build/rgb10_to_yuv10/rgb10-to-yuv10" clip.rgb10 out.yuv10 $W $H $F)
b=$(median_ms cp clip.rgb10 out.copy)
m=$(peak_mib "$build/rgb10_to_yuv10/rgb10-to-yuv10" clip.rgb10 out.yuv10 $W $H $F)
line rgb10-to-yuv10 "$a" "$b" "cp" "$m" "$(buffers $((6 * W * H)))"
rm -f out.yuv10 out.copy

a=$(median_ms "$build/dovrak/dovrak" clip.rgb10 out.yuv420 $W $H)
b=$(median_ms "${ff[@]}" -f rawvideo -pix_fmt gbrp10le -s ${W}x$H -i clip.rgb10 -pix_fmt yuv420p -f rawvideo out.ff.yuv420)
m=$(peak_mib "$build/dovrak/dovrak" clip.rgb10 out.yuv420 $W $H)
line dovrak "$a" "$b" "ffmpeg swscale" "$m" "$(buffers $((6 * W * H + 3 * W * H / 2)))"
rm -f out.yuv420 out.ff.yuv420

a=$(median_ms "$build/yuv420_to_rgb/yuv420-to-rgb" clip.yuv420 out.rgb8 $W $H)
b=$(median_ms "${ff[@]}" -f rawvideo -pix_fmt yuv420p -s ${W}x$H -i clip.yuv420 -pix_fmt gbrp -f rawvideo out.ff.rgb8)
m=$(peak_mib "$build/yuv420_to_rgb/yuv420-to-rgb" clip.yuv420 out.rgb8 $W $H)
line yuv420-to-rgb "$a" "$b" "ffmpeg swscale" "$m" "$(buffers $((3 * W * H + 3 * W * H / 2)))"
rm -f out.rgb8 out.ff.rgb8

a=$(median_ms "$build/frame_snr/frame-snr" target.yuv10 reference.yuv10 0 $H $W)
b=$(median_ms "${ff[@]}" -f rawvideo -pix_fmt yuv444p16le -s ${W}x$H -i target.yuv10 \
  -f rawvideo -pix_fmt yuv444p16le -s ${W}x$H -i reference.yuv10 -lavfi psnr -f null -)
m=$(peak_mib "$build/frame_snr/frame-snr" target.yuv10 reference.yuv10 0 $H $W)
line frame-snr "$a" "$b" "ffmpeg psnr filter" "$m" "$(buffers $((12 * W * H)))"
