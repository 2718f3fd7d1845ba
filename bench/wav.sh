#!/usr/bin/env bash
# WAV to WAV: a 5-minute 44.1 kHz stereo file to 22.05 kHz mono 16-bit (and to 44.1 kHz mono) against sox; a
# 40-file batch with --jobs 2 against --jobs 1.
source "$(dirname "$0")/common.sh"

music_wav "$WORK/five.wav" 300
mkdir -p "$WORK/batch"
sox "$WORK/five.wav" "$WORK/seed.wav" trim 0 20
for i in $(seq 1 40); do cp "$WORK/seed.wav" "$WORK/batch/t$i.wav"; done

HALF=(-f wav -o "$WORK/out" -s AutoDestWAVEncodingParam=0 -s WAVSampleRate=22050 -s WAVChannelNum=1
      -s WAVBitsPerSample=16)
MIX=(-f wav -o "$WORK/out" -s AutoDestWAVEncodingParam=0 -s WAVSampleRate=44100 -s WAVChannelNum=1)

header sox
row "5 min 44.1k stereo -> 22.05k mono (vs sox)" \
  "$(measure half "${PCLI[@]}" -j 1 "${HALF[@]}" "$WORK/five.wav")" \
  "$(measure soxhalf sox "$WORK/five.wav" -r 22050 -c 1 -b 16 "$WORK/sox.wav")"
row "5 min 44.1k stereo -> 44.1k mono (vs sox)" \
  "$(measure mix "${PCLI[@]}" -j 1 "${MIX[@]}" "$WORK/five.wav")" \
  "$(measure soxmix sox "$WORK/five.wav" -c 1 "$WORK/sox.wav")"
speedup "40 x 20 s, --jobs 2 (vs --jobs 1)" \
  "$(measure jobs2 "${PCLI[@]}" -j 2 "${HALF[@]}" "$WORK/batch")" \
  "$(measure jobs1 "${PCLI[@]}" -j 1 "${HALF[@]}" "$WORK/batch")"
