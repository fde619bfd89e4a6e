#!/usr/bin/env bash
# The README's sharded run with GNU parallel, on a small clip: the pieces put
# together and the merged reports are the whole run's, byte for byte.
#   shard_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
command -v parallel >/dev/null || { echo "GNU parallel is not installed: skipped"; exit 77; }
export PATH="$build/rgb10_to_yuv10:$build/frame_snr:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
W=64 H=48
"$build/clip-tool" make rgb10 $W $H 10 clip.rgb10 >/dev/null
"$build/clip-tool" make rgb10 $W $H 10 altered.rgb10 3 >/dev/null
rgb10-to-yuv10 altered.rgb10 decoded.yuv10 $W $H -1
# The README's lines, at this size: 3 ranges of 4 frames over 10.
shards=3 per=4
seq 0 $((shards - 1)) | parallel -j2 \
  "rgb10-to-yuv10 clip.rgb10 part{}.yuv10 $W $H -1 --start \$(({} * $per)) --frames $per"
cat $(seq -f part%g.yuv10 0 $((shards - 1))) > clip.yuv10
seq 0 $((shards - 1)) | parallel -j2 \
  "frame-snr decoded.yuv10 clip.yuv10 0 $H $W --start \$(({} * $per)) --frames $per --json part{}.json >/dev/null"
frame-snr --merge $(seq -f part%g.json 0 $((shards - 1))) --csv snr.csv > merged.txt

rgb10-to-yuv10 clip.rgb10 whole.yuv10 $W $H -1
cmp clip.yuv10 whole.yuv10
frame-snr decoded.yuv10 whole.yuv10 0 $H $W --csv whole.csv > whole.txt
cmp snr.csv whole.csv
cmp merged.txt whole.txt
echo "3 shards: the converted clip, the CSV and the text report are the whole run's"
