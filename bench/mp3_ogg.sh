#!/usr/bin/env bash
# MP3 and Ogg Vorbis output, whole-process timings side by side:
#   a 5-minute 44.1 kHz stereo WAV to MP3 128 kbit/s CBR against the lame command line (same bit rate, LAME's
#   default quality, no tag frames), to Ogg Vorbis against oggenc at the same nominal bit rate, and the 40-file
#   batch with --jobs 2 against --jobs 1.
source "$(dirname "$0")/common.sh"
require lame oggenc
PCLI+=(-o "$WORK/out")

music_wav "$WORK/five.wav" 300
mkdir -p "$WORK/batch"
sox "$WORK/five.wav" "$WORK/seed.wav" trim 0 15
for i in $(seq 1 40); do cp "$WORK/seed.wav" "$WORK/batch/f$i.wav"; done

MP3=(-f mp3 -s AutoDestMP3EncodingParam=0 -s MP3BitRate=128 -s MP3SampleRate=44100 -s MP3ChannelMode=1
     -s MP3ID3TagType=2)
OGG=(-f ogg -s AutoDestOGGEncodingParam=0 -s OGGBitRate=128 -s OGGSampleRate=44100 -s OGGChannels=2
     -s OGGID3TagType=2)

header peer
row "5 min WAV -> MP3 128 kbit/s CBR (vs lame)" \
  "$(measure mp3 "${PCLI[@]}" -j 1 "${MP3[@]}" "$WORK/five.wav")" \
  "$(measure lame lame --quiet -t -b 128 --cbr -m j "$WORK/five.wav" "$WORK/lame.mp3")"
row "5 min WAV -> Ogg Vorbis 128 kbit/s nominal (vs oggenc)" \
  "$(measure ogg "${PCLI[@]}" -j 1 "${OGG[@]}" "$WORK/five.wav")" \
  "$(measure oggenc oggenc -Q -b 128 -o "$WORK/oggenc.ogg" "$WORK/five.wav")"

# What the machine gives two processes at once: the ceiling for the --jobs 2 rows.
sequential() { lame --quiet -b 128 "$WORK/seed.wav" "$WORK/l1.mp3"; lame --quiet -b 128 "$WORK/seed.wav" "$WORK/l2.mp3"; }
parallel() {
  lame --quiet -b 128 "$WORK/seed.wav" "$WORK/l1.mp3" & lame --quiet -b 128 "$WORK/seed.wav" "$WORK/l2.mp3" & wait
}
export -f sequential parallel
export WORK
speedup "machine: two lame processes at once (vs one by one)" \
  "$(measure par bash -c parallel)" "$(measure seq bash -c sequential)"
speedup "40 x 15 s WAV -> MP3, --jobs 2 (vs --jobs 1)" \
  "$(measure batch2 "${PCLI[@]}" -j 2 "${MP3[@]}" "$WORK/batch")" \
  "$(measure batch1 "${PCLI[@]}" -j 1 "${MP3[@]}" "$WORK/batch")"
speedup "40 x 15 s WAV -> Ogg, --jobs 2 (vs --jobs 1)" \
  "$(measure obatch2 "${PCLI[@]}" -j 2 "${OGG[@]}" "$WORK/batch")" \
  "$(measure obatch1 "${PCLI[@]}" -j 1 "${OGG[@]}" "$WORK/batch")"
