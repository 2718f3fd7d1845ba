#!/usr/bin/env bash
# WAV to WAV: a 5-minute 44.1 kHz stereo file to 22.05 kHz mono 16-bit, against sox; a 40-file batch with 2 jobs
# against 1 job.
source "$(dirname "$0")/common.sh"

sox -n -r 44100 -c 2 -b 16 "$WORK/five.wav" synth 300 sine 440 sine 660 >/dev/null 2>&1
RUNS=${RUNS:-5}
OPTS=(-f wav -s AutoDestWAVEncodingParam=0 -s WAVSampleRate=22050 -s WAVChannelNum=1 -s WAVBitsPerSample=16
      -s TargetExistsOpt=22)
ours=$(best_of "$RUNS" "${PCLI[@]}" "${OPTS[@]}" -j 1 -o "$WORK/out" "$WORK/five.wav")
peer=$(best_of "$RUNS" sox "$WORK/five.wav" -r 22050 -c 1 -b 16 "$WORK/sox.wav")
compare "5 min 44.1k stereo -> 22.05k mono (vs sox)" "$ours" "$peer"
MIX=(-f wav -s AutoDestWAVEncodingParam=0 -s WAVSampleRate=44100 -s WAVChannelNum=1 -s TargetExistsOpt=22)
ours=$(best_of "$RUNS" "${PCLI[@]}" "${MIX[@]}" -j 1 -o "$WORK/out" "$WORK/five.wav")
peer=$(best_of "$RUNS" sox "$WORK/five.wav" -c 1 "$WORK/sox.wav")
compare "5 min 44.1k stereo -> 44.1k mono (vs sox)" "$ours" "$peer"

mkdir -p "$WORK/batch"
for i in $(seq 1 40); do
  sox -n -r 44100 -c 2 -b 16 "$WORK/batch/t$i.wav" synth 20 sine $((200 + i * 10)) >/dev/null 2>&1
done
one=$(best_of 3 "${PCLI[@]}" "${OPTS[@]}" -j 1 -o "$WORK/out1" "$WORK/batch")
two=$(best_of 3 "${PCLI[@]}" "${OPTS[@]}" -j 2 -o "$WORK/out2" "$WORK/batch")
compare "40 files, --jobs 2 (vs --jobs 1)" "$two" "$one"
