#!/usr/bin/env bash
# End-to-end comparison of the five programs with the tools users would pick
# instead, on 1920 x 1080, 60-frame clips: each command's median wall time over
# several runs (all measured in the same run), with 1 and 2 threads, against
# the I/O floor (only reading the input and writing the output), against the
# usual alternative, and from a pipe to a pipe; and our peak memory.
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
for p in rgb10_to_yuv10/rgb10-to-yuv10 yuv10_to_rgb10/yuv10-to-rgb10 frame_snr/frame-snr dovrak/dovrak yuv420_to_rgb/yuv420-to-rgb clip-tool; do
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
buffers() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# io_floor OUT_BYTES INPUT...: reading the inputs and writing the output's
# size over an existing file, the least any program doing this work can take.
io_floor() {
  local bytes=$1; shift
  : > floor.out
  median_ms sh -c 'cat "$@" > /dev/null && dd if=/dev/zero of=floor.out bs=4M count='"$bytes"' iflag=count_bytes status=none' sh "$@"
}

echo "median of $runs runs each; CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(nproc) processors"
printf '%-15s %7s %7s %7s %8s %8s %6s  %-18s %7s %5s  %7s %5s %7s  %8s %s\n' program ours-ms t1-ms t2-ms plain-ms floor-ms /floor \
  alternative alt-ms /alt pipe-ms /file cat3-ms peak-MiB "(frame buffers MiB)"

# bench NAME OUT_BYTES BUFFER_BYTES ALT_NAME "ALT COMMAND" INPUTS -- PROGRAM ARGS...
# (PROGRAM ARGS use IN, OUT for the file positions; the pipe run replaces them with -)
bench() {
  local name=$1 out_bytes=$2 buffer_bytes=$3 alt_name=$4 alt_cmd=$5; shift 5
  local inputs=(); while [ "$1" != -- ]; do inputs+=("$1"); shift; done; shift
  local cmd=("$@")
  local ours t1 t2 plain floor alt pipe plumbing peak piped
  ours=$(median_ms "${cmd[@]}")
  t1=$(median_ms "${cmd[@]}" --threads 1)
  t2=$(median_ms "${cmd[@]}" --threads 2)
  plain=$(median_ms env RAWFRAMES_ISA=plain "${cmd[@]}")
  floor=$(io_floor "$out_bytes" "${inputs[@]}")
  alt=$(median_ms sh -c "$alt_cmd")
  # The same run from a pipe to a pipe: first input and output replaced by -.
  piped=("${cmd[@]}")
  for i in "${!piped[@]}"; do
    [ "${piped[$i]}" = "${inputs[0]}" ] && piped[$i]=- && break
  done
  [ "$name" != frame-snr ] && piped[2]=-
  pipe=$(median_ms sh -c 'cat "$0" | "$@" | cat > /dev/null' "${inputs[0]}" "${piped[@]}")
  # The pipes alone, with cat in the program's place.
  plumbing=$(median_ms sh -c 'cat "$0" | cat | cat > /dev/null' "${inputs[0]}")
  peak=$(peak_mib "${cmd[@]}")
  printf '%-15s %7.1f %7.1f %7.1f %8.1f %8.1f %6s  %-18s %7.1f %5s  %7.1f %5s %7.1f  %8s (%s)\n' "$name" "$ours" "$t1" "$t2" "$plain" \
    "$floor" "$(ratio "$ours" "$floor")" "$alt_name" "$alt" "$(ratio "$ours" "$alt")" \
    "$pipe" "$(ratio "$pipe" "$ours")" "$plumbing" "$peak" "$(buffers "$buffer_bytes")"
}

rgb=$((6 * W * H)) yuv=$((3 * W * H / 2)) rgb8=$((3 * W * H))
bench rgb10-to-yuv10 $((F * rgb)) "$rgb" "cp" "cp clip.rgb10 out.copy" clip.rgb10 -- \
  "$build/rgb10_to_yuv10/rgb10-to-yuv10" clip.rgb10 out.yuv10 $W $H $F
bench yuv10-to-rgb10 $((F * rgb)) "$rgb" "cp" "cp reference.yuv10 out.copy" reference.yuv10 -- \
  "$build/yuv10_to_rgb10/yuv10-to-rgb10" reference.yuv10 out.rgb10 $W $H
bench dovrak $((F * yuv)) $((rgb + yuv)) "ffmpeg swscale" \
  "${ff[*]} -f rawvideo -pix_fmt gbrp10le -s ${W}x$H -i clip.rgb10 -pix_fmt yuv420p -f rawvideo out.ff" \
  clip.rgb10 -- "$build/dovrak/dovrak" clip.rgb10 out.yuv420 $W $H
bench yuv420-to-rgb $((F * rgb8)) $((yuv + rgb8)) "ffmpeg swscale" \
  "${ff[*]} -f rawvideo -pix_fmt yuv420p -s ${W}x$H -i clip.yuv420 -pix_fmt gbrp -f rawvideo out.ff" \
  clip.yuv420 -- "$build/yuv420_to_rgb/yuv420-to-rgb" clip.yuv420 out.rgb8 $W $H
bench frame-snr 0 $((2 * rgb)) "ffmpeg psnr filter" \
  "${ff[*]} -f rawvideo -pix_fmt yuv444p16le -s ${W}x$H -i target.yuv10 -f rawvideo -pix_fmt yuv444p16le -s ${W}x$H -i reference.yuv10 -lavfi psnr -f null -" \
  target.yuv10 reference.yuv10 -- "$build/frame_snr/frame-snr" target.yuv10 reference.yuv10 0 $H $W
echo "t1/t2: --threads 1 and 2; plain: RAWFRAMES_ISA=plain (no vector kernels); floor: cat of the inputs to /dev/null plus writing the output's size"
echo "over an existing file; pipe: cat input | program - - | cat > /dev/null (frame-snr: target from a pipe);"
echo "cat3: cat input | cat | cat > /dev/null, the pipes alone;"
echo "peak: peak resident memory with the default thread count ($(nproc)), frame buffers: one set."
