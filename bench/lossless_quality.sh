#!/usr/bin/env bash
# FLAC, Opus and MP3 VBR output, whole-process timings side by side on the same 5-minute 44.1 kHz stereo WAV:
#   FLAC level 5 against flac -5, Opus 128 kbit/s VBR against opusenc --bitrate 128, MP3 V2 against lame -V2
#   (no tags on either side), then a 24-bit 96 kHz FLAC to FLAC (the wide path) against flac re-encoding it.
source "$(dirname "$0")/common.sh"
require flac opusenc lame
PCLI+=(-o "$WORK/out")

music_wav "$WORK/five.wav" 300
sox -n -r 96000 -c 2 -b 24 "$WORK/hires.flac" synth 60 pinknoise synth 60 sine mix 440 gain -6 >/dev/null 2>&1

header peer
row "5 min WAV -> FLAC level 5 (vs flac -5)" \
  "$(measure flac "${PCLI[@]}" -j 1 -f flac --quality 5 -s FLACID3TagType=2 "$WORK/five.wav")" \
  "$(measure flacpeer flac -s -f -5 -o "$WORK/peer.flac" "$WORK/five.wav")"
row "5 min WAV -> Opus 128 kbit/s VBR (vs opusenc)" \
  "$(measure opus "${PCLI[@]}" -j 1 -f opus -b 128 -s OpusID3TagType=2 "$WORK/five.wav")" \
  "$(measure opuspeer opusenc --quiet --bitrate 128 "$WORK/five.wav" "$WORK/peer.opus")"
row "5 min WAV -> MP3 V2 (vs lame -V2)" \
  "$(measure mp3 "${PCLI[@]}" -j 1 -f mp3 --quality 2 -s MP3ID3TagType=2 "$WORK/five.wav")" \
  "$(measure lame lame --quiet -V2 "$WORK/five.wav" "$WORK/peer.mp3")"
row "60 s 24-bit 96 kHz FLAC -> FLAC level 5 (vs flac -5)" \
  "$(measure hires "${PCLI[@]}" -j 1 -f flac -s FLACID3TagType=2 "$WORK/hires.flac")" \
  "$(measure hirespeer flac -s -f -5 -o "$WORK/peer24.flac" "$WORK/hires.flac")"

# The outputs side by side: sizes, and the lossless ones decode to the source's samples.
ls -l "$WORK/out/five.flac" "$WORK/peer.flac" "$WORK/out/five.opus" "$WORK/peer.opus" "$WORK/out/five.mp3" \
  "$WORK/peer.mp3" | awk '{printf "%-40s %10d bytes\n", $NF, $5}' | sed "s|$WORK/||"
for f in five.flac hires.flac; do
  source=$WORK/${f%.flac}.wav
  [ "$f" = hires.flac ] && source=$WORK/hires.flac
  [ "$(ffmpeg -v error -i "$WORK/out/$f" -f md5 -c:a pcm_s32le - 2>/dev/null)" = \
    "$(ffmpeg -v error -i "$source" -f md5 -c:a pcm_s32le - 2>/dev/null)" ] && echo "out/$f: bit-exact"
done
