#!/usr/bin/env bash
# MP3 and Ogg Vorbis output, whole-process timings side by side:
#   a 5-minute 44.1 kHz stereo WAV to MP3 128 kbit/s CBR against the lame command line (same bit rate, LAME's
#   default quality, no tag frames), to Ogg Vorbis against oggenc at the same nominal bit rate, and the 40-file
#   batch with --jobs 2 against --jobs 1.
# PELLORAN_CLI names the pelloran-cli to measure (default: build-release, built when missing). RUNS sets the runs.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=${PELLORAN_CLI:-$ROOT/build-release/pelloran-cli}
if [ ! -x "$CLI" ]; then
  cmake -S "$ROOT" -B "$ROOT/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLORAN_BUILD_TESTS=OFF \
    -DPELLORAN_BUILD_GUI=OFF >/dev/null
  cmake --build "$ROOT/build-release" --target pelloran-cli -j 1 >/dev/null
fi
for tool in sox lame oggenc; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps installs it)" >&2; exit 1; }
done
RUNS=${RUNS:-5}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
: > "$WORK/settings.conf"  # options of our own, never the user's
export XDG_CONFIG_HOME="$WORK/config"
PCLI=("$CLI" -q --settings "$WORK/settings.conf" -s TargetExistsOpt=22 -o "$WORK/out")

# Music-like material: two tones over pink noise (silence would flatter every encoder).
sox -n -r 44100 -c 2 -b 16 "$WORK/five.wav" synth 300 pinknoise synth 300 sine mix 440 gain -6 >/dev/null 2>&1 ||
  sox -n -r 44100 -c 2 -b 16 "$WORK/five.wav" synth 300 sine 440 sine 660 >/dev/null 2>&1
mkdir -p "$WORK/batch"
sox "$WORK/five.wav" "$WORK/seed.wav" trim 0 15
for i in $(seq 1 40); do cp "$WORK/seed.wav" "$WORK/batch/f$i.wav"; done

MP3=(-f mp3 -s AutoDestMP3EncodingParam=0 -s MP3BitRate=128 -s MP3SampleRate=44100 -s MP3ChannelMode=1
     -s MP3ID3TagType=2)
OGG=(-f ogg -s AutoDestOGGEncodingParam=0 -s OGGBitRate=128 -s OGGSampleRate=44100 -s OGGChannels=2
     -s OGGID3TagType=2)

# mean_seconds NAME CMD...: mean wall time of RUNS runs (hyperfine when present, else a timing loop).
mean_seconds() {
  local name=$1; shift
  if command -v hyperfine >/dev/null; then
    local quoted
    quoted=$(printf '%q ' "$@")
    hyperfine -N --warmup 1 --runs "$RUNS" --export-json "$WORK/$name.json" "$quoted" >/dev/null 2>&1
    python3 -c 'import json,sys; print("%.3f" % json.load(open(sys.argv[1]))["results"][0]["mean"])' \
      "$WORK/$name.json"
  else
    "$@" >/dev/null 2>&1
    local start end
    start=$(date +%s.%N)
    for _ in $(seq "$RUNS"); do "$@" >/dev/null 2>&1; done
    end=$(date +%s.%N)
    echo "scale=3; ($end - $start) / $RUNS" | bc -l
  fi
}

row() { printf '%-52s %8ss %8ss  ratio %.2f\n' "$1" "$2" "$3" "$(echo "$2 / $3" | bc -l)"; }

printf '%-52s %9s %9s\n' "" "pelloran" "peer"
ours=$(mean_seconds mp3 "${PCLI[@]}" -j 1 "${MP3[@]}" "$WORK/five.wav")
peer=$(mean_seconds lame lame --quiet -t -b 128 --cbr -m j "$WORK/five.wav" "$WORK/lame.mp3")
row "5 min WAV -> MP3 128 kbit/s CBR (vs lame)" "$ours" "$peer"
ours=$(mean_seconds ogg "${PCLI[@]}" -j 1 "${OGG[@]}" "$WORK/five.wav")
peer=$(mean_seconds oggenc oggenc -Q -b 128 -o "$WORK/oggenc.ogg" "$WORK/five.wav")
row "5 min WAV -> Ogg Vorbis 128 kbit/s nominal (vs oggenc)" "$ours" "$peer"

# What the machine gives two processes at once: the ceiling for the --jobs 2 rows.
sequential() { lame --quiet -b 128 "$WORK/seed.wav" "$WORK/l1.mp3"; lame --quiet -b 128 "$WORK/seed.wav" "$WORK/l2.mp3"; }
parallel() {
  lame --quiet -b 128 "$WORK/seed.wav" "$WORK/l1.mp3" & lame --quiet -b 128 "$WORK/seed.wav" "$WORK/l2.mp3" & wait
}
export -f sequential parallel
export WORK
one=$(mean_seconds seq bash -c sequential)
two=$(mean_seconds par bash -c parallel)
printf '%-52s %8ss %8ss  speed-up %.2f\n' "machine: two lame processes at once (vs one by one)" "$two" "$one" \
  "$(echo "$one / $two" | bc -l)"
one=$(mean_seconds batch1 "${PCLI[@]}" -j 1 "${MP3[@]}" "$WORK/batch")
two=$(mean_seconds batch2 "${PCLI[@]}" -j 2 "${MP3[@]}" "$WORK/batch")
printf '%-52s %8ss %8ss  speed-up %.2f\n' "40 x 15 s WAV -> MP3, --jobs 2 (vs --jobs 1)" "$two" "$one" \
  "$(echo "$one / $two" | bc -l)"
one=$(mean_seconds obatch1 "${PCLI[@]}" -j 1 "${OGG[@]}" "$WORK/batch")
two=$(mean_seconds obatch2 "${PCLI[@]}" -j 2 "${OGG[@]}" "$WORK/batch")
printf '%-52s %8ss %8ss  speed-up %.2f\n' "40 x 15 s WAV -> Ogg, --jobs 2 (vs --jobs 1)" "$two" "$one" \
  "$(echo "$one / $two" | bc -l)"
