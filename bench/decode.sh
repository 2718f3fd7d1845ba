#!/usr/bin/env bash
# Decoding: MP3 and FLAC to WAV through pelloran-cli against ffmpeg doing the same; --probe of 500 files against
# ffprobe on the same files.
source "$(dirname "$0")/common.sh"

RUNS=${RUNS:-5}
sox -n -r 44100 -c 2 -b 16 "$WORK/five.wav" synth 300 sine 440 sine 660 >/dev/null 2>&1
ffmpeg -v error -i "$WORK/five.wav" -c:a libmp3lame -b:a 192k "$WORK/five.mp3"
ffmpeg -v error -i "$WORK/five.wav" -c:a flac "$WORK/five.flac"

for src in five.mp3 five.flac; do
  ours=$(best_of "$RUNS" "${PCLI[@]}" -j 1 -f wav -s TargetExistsOpt=22 -o "$WORK/out" "$WORK/$src")
  peer=$(best_of "$RUNS" ffmpeg -v error -y -i "$WORK/$src" -c:a pcm_s16le "$WORK/peer.wav")
  compare "5 min $src to WAV (vs ffmpeg)" "$ours" "$peer"
done

# 500 short files of mixed kinds.
mkdir -p "$WORK/many"
sox -n -r 44100 -c 2 -b 16 "$WORK/seed.wav" synth 3 sine 440 >/dev/null 2>&1
ffmpeg -v error -i "$WORK/seed.wav" -c:a libmp3lame -b:a 128k "$WORK/seed.mp3"
ffmpeg -v error -i "$WORK/seed.wav" -c:a flac "$WORK/seed.flac"
for i in $(seq 1 500); do
  case $((i % 3)) in
    0) cp "$WORK/seed.wav" "$WORK/many/f$i.wav" ;;
    1) cp "$WORK/seed.mp3" "$WORK/many/f$i.mp3" ;;
    2) cp "$WORK/seed.flac" "$WORK/many/f$i.flac" ;;
  esac
done
probe_all() { for f in "$WORK"/many/*; do ffprobe -v error -show_streams "$f"; done; }
ours=$(best_of 3 "${PCLI[@]}" -j 1 --probe "$WORK/many")
peer=$(best_of 3 probe_all)
compare "--probe 500 files, one job (vs ffprobe per file)" "$ours" "$peer"
ours=$(best_of 3 "${PCLI[@]}" --probe "$WORK/many")
compare "--probe 500 files, all processors (vs ffprobe)" "$ours" "$peer"
