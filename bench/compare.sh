#!/usr/bin/env bash
# End-to-end comparison of the programs with the tools users would pick
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
"$build/dovrak/dovrak" clip.rgb10 reference.yuv420 $W $H
"$build/dovrak/dovrak" altered.rgb10 target.yuv420 $W $H

# medians_ms CMD...: runs each command (a shell command line) once to warm up,
# then all of them in turn, $runs rounds, each round starting one command
# further on, so that a drift of the machine's speed and what a command leaves
# behind for the next touch them alike; prints their median times, one per line.
medians_ms() {
  local cmds=("$@") i k r t0 t1
  declare -A times
  for c in "${cmds[@]}"; do sh -c "$c" >/dev/null 2>&1 || true; done
  for r in $(seq "$runs"); do
    for k in "${!cmds[@]}"; do
      i=$(( (k + r) % ${#cmds[@]} ))
      t0=$(date +%s%N)
      sh -c "${cmds[$i]}" >/dev/null 2>&1 || true
      t1=$(date +%s%N)
      times[$i]+="$(( (t1 - t0) / 1000 )) "
    done
  done
  for i in "${!cmds[@]}"; do
    printf '%s\n' ${times[$i]} | sort -n | awk '{a[NR]=$1} END {printf "%.1f\n", a[int((NR+1)/2)]/1000}'
  done
}
peak_mib() {
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1 | awk '{printf "%.1f", $1/1024}'
}

ff=(ffmpeg -nostdin -v error -y)
buffers() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# io_floor OUT_BYTES INPUT...: the command that reads the inputs and writes the
# output's size over an existing file, the least any program doing this work
# can take.
io_floor() {
  local bytes=$1; shift
  : > floor.out
  printf 'cat %s > /dev/null && dd if=/dev/zero of=floor.out bs=4M count=%s iflag=count_bytes status=none' "$*" "$bytes"
}

echo "median of $runs runs each, all commands of a row in turn; CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(nproc) processors"
printf '%-15s %7s %7s %5s %7s %8s %8s %6s  %-18s %7s %5s  %7s %5s %7s  %8s %-22s %s\n' program ours-ms t1-ms /t1 t2-ms plain-ms floor-ms /floor \
  alternative alt-ms /alt pipe-ms /file cat3-ms peak-MiB "(frame buffers MiB)" "goals missed"

# over GOAL: prints NAME when VALUE > LIMIT.
over() { awk -v v="$1" -v l="$2" -v n="$3" 'BEGIN { if (v > l) printf "%s ", n }'; }

# bench NAME OUT_BYTES BUFFER_BYTES ALT_NAME "ALT COMMAND" ALT_GOAL FLOOR_GOAL INPUTS -- PROGRAM ARGS...
# (PROGRAM ARGS use IN, OUT for the file positions; the pipe run replaces them with -)
bench() {
  local name=$1 out_bytes=$2 buffer_bytes=$3 alt_name=$4 alt_cmd=$5 alt_goal=$6 floor_goal=$7; shift 7
  local inputs=(); while [ "$1" != -- ]; do inputs+=("$1"); shift; done; shift
  local cmd=("$@")
  local ours t1 t2 plain floor alt pipe plumbing peak piped
  # The same run from a pipe to a pipe: first input and output replaced by -.
  piped=("${cmd[@]}")
  for i in "${!piped[@]}"; do
    [ "${piped[$i]}" = "${inputs[0]}" ] && piped[$i]=- && break
  done
  [[ "$name" != frame-snr* ]] && piped[2]=-
  local times
  mapfile -t times < <(medians_ms "${cmd[*]}" "${cmd[*]} --threads 1" "${cmd[*]} --threads 2" \
    "RAWFRAMES_ISA=plain ${cmd[*]}" "$(io_floor "$out_bytes" "${inputs[@]}")" "$alt_cmd" \
    "cat ${inputs[0]} | ${piped[*]} | cat > /dev/null" \
    "cat ${inputs[0]} | cat | cat > /dev/null")  # the pipes alone, with cat in the program's place
  ours=${times[0]} t1=${times[1]} t2=${times[2]} plain=${times[3]} floor=${times[4]}
  alt=${times[5]} pipe=${times[6]} plumbing=${times[7]}
  peak=$(peak_mib "${cmd[@]}")
  local missed
  missed="$(over "$(ratio "$ours" "$t1")" 1.05 default/t1)$(over "$(ratio "$ours" "$floor")" "$floor_goal" floor)"
  missed+="$(over "$(ratio "$ours" "$alt")" "$alt_goal" alt)$(over "$(ratio "$pipe" "$ours")" 1.5 pipe)"
  printf '%-15s %7.1f %7.1f %5s %7.1f %8.1f %8.1f %6s  %-18s %7.1f %5s  %7.1f %5s %7.1f  %8s %-22s %s\n' "$name" "$ours" "$t1" \
    "$(ratio "$ours" "$t1")" "$t2" "$plain" "$floor" "$(ratio "$ours" "$floor")" "$alt_name" "$alt" "$(ratio "$ours" "$alt")" \
    "$pipe" "$(ratio "$pipe" "$ours")" "$plumbing" "$peak" "($(buffers "$buffer_bytes"))" "${missed:-none}"
}

rgb=$((6 * W * H)) yuv=$((3 * W * H / 2)) rgb8=$((3 * W * H))
bench rgb10-to-yuv10 $((F * rgb)) "$rgb" "cp" "cp clip.rgb10 out.copy" 1.0 1.1 clip.rgb10 -- \
  "$build/rgb10_to_yuv10/rgb10-to-yuv10" clip.rgb10 out.yuv10 $W $H $F
bench yuv10-to-rgb10 $((F * rgb)) "$rgb" "cp" "cp reference.yuv10 out.copy" 1.0 1.1 reference.yuv10 -- \
  "$build/yuv10_to_rgb10/yuv10-to-rgb10" reference.yuv10 out.rgb10 $W $H
bench dovrak $((F * yuv)) $((rgb + yuv)) "ffmpeg swscale" \
  "${ff[*]} -f rawvideo -pix_fmt gbrp10le -s ${W}x$H -i clip.rgb10 -pix_fmt yuv420p -f rawvideo out.ff" \
  0.30 1.1 clip.rgb10 -- "$build/dovrak/dovrak" clip.rgb10 out.yuv420 $W $H
bench yuv420-to-rgb $((F * rgb8)) $((yuv + rgb8)) "ffmpeg swscale" \
  "${ff[*]} -f rawvideo -pix_fmt yuv420p -s ${W}x$H -i clip.yuv420 -pix_fmt gbrp -f rawvideo out.ff" \
  0.35 1.1 clip.yuv420 -- "$build/yuv420_to_rgb/yuv420-to-rgb" clip.yuv420 out.rgb8 $W $H
bench frame-snr 0 $((2 * rgb)) "ffmpeg psnr filter" \
  "${ff[*]} -f rawvideo -pix_fmt yuv444p16le -s ${W}x$H -i target.yuv10 -f rawvideo -pix_fmt yuv444p16le -s ${W}x$H -i reference.yuv10 -lavfi psnr -f null -" \
  0.20 0.8 target.yuv10 reference.yuv10 -- "$build/frame_snr/frame-snr" target.yuv10 reference.yuv10 0 $H $W
# The measures beyond SNR: SSIM and MS-SSIM on 4:2:0 against ffmpeg's ssim
# filter (a cheaper 8 x 8 box SSIM), the colour difference against SNR alone.
ffssim="${ff[*]} -f rawvideo -pix_fmt yuv420p -s ${W}x$H -i target.yuv420 -f rawvideo -pix_fmt yuv420p -s ${W}x$H -i reference.yuv420 -lavfi ssim -f null -"
bench frame-snr:ssim 0 $((2 * yuv)) "ffmpeg ssim filter" "$ffssim" 0.5 100 target.yuv420 reference.yuv420 -- \
  "$build/frame_snr/frame-snr" target.yuv420 reference.yuv420 0 $H $W --format yuv420 --measure ssim
bench frame-snr:ms-ssim 0 $((2 * yuv)) "ffmpeg ssim filter" "$ffssim" 1.0 100 target.yuv420 reference.yuv420 -- \
  "$build/frame_snr/frame-snr" target.yuv420 reference.yuv420 0 $H $W --format yuv420 --measure ms-ssim
snr_only="$build/frame_snr/frame-snr altered.rgb10 clip.rgb10 0 $H $W --format rgb10"
bench frame-snr:ciede2000 0 $((2 * rgb)) "frame-snr, SNR only" "$snr_only" 100 100 altered.rgb10 clip.rgb10 -- \
  "$build/frame_snr/frame-snr" altered.rgb10 clip.rgb10 0 $H $W --format rgb10 --measure ciede2000
ms=$(medians_ms "$snr_only --measure ciede2000")
awk -v ms="$ms" -v px=$((F * W * H)) 'BEGIN {printf "ciede2000: %.1f Mpixel/s with the default threads (goal: at least 40)\n", px / ms / 1000}'
echo "t1/t2: --threads 1 and 2; plain: RAWFRAMES_ISA=plain (no vector kernels); floor: cat of the inputs to /dev/null plus writing the output's size"
echo "over an existing file; pipe: cat input | program - - | cat > /dev/null (frame-snr: target from a pipe);"
echo "cat3: cat input | cat | cat > /dev/null, the pipes alone;"
echo "peak: peak resident memory with the default thread count, frame buffers: one set."
echo "goals: default threads <= 1.05 x --threads 1; /floor <= 1.1 (frame-snr 0.8); /alt <= 1.0 x cp, 0.30 and 0.35 x"
echo "ffmpeg swscale for dovrak and yuv420-to-rgb, 0.20 x the psnr filter, 0.5 x the ssim filter for --measure ssim"
echo "and 1.0 x for --measure ms-ssim; pipe/file <= 1.5."
