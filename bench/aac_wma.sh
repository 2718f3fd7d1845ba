#!/usr/bin/env bash
# AAC and WMA output, whole-process timings side by side against ffmpeg with the same encoder and bit rate:
#   a 5-minute 44.1 kHz stereo WAV to AAC (ADTS) at 128 kbit/s with libavcodec's AAC encoder, to M4A the same
#   way, and to WMA at 128 kbit/s with the wmav2 encoder; one job each, tags off.
source "$(dirname "$0")/common.sh"
require ffmpeg
PCLI+=(-j 1 -o "$WORK/out")

music_wav "$WORK/five.wav" 300

AAC=(-f aac -s AutoDestAACEncodingParam=0 -s AACVBR=0 -s AACABRBitRate=128)
M4A=(-f m4a -s AutoDestM4AEncodingParam=0 -s M4AVBR=0 -s M4AABRBitRate=128 -s M4AID3TagType=2)
WMA=(-f wma -s AutoDestWMAEncodingParam=0 -s WMABitRate=128000 -s WMASampleRate=44100 -s WMAChannels=2
     -s WMAID3TagType=2)
# ffmpeg's own defaults for AAC enable TNS; the Pelloran options above keep it off, so the peer does too.
FF=(ffmpeg -v error -y -nostdin -i "$WORK/five.wav" -map_metadata -1)

header ffmpeg
row "5 min WAV -> AAC 128 kbit/s (vs ffmpeg aac)" \
  "$(measure aac "${PCLI[@]}" "${AAC[@]}" "$WORK/five.wav")" \
  "$(measure ffaac "${FF[@]}" -c:a aac -b:a 128k -aac_tns 0 "$WORK/peer.aac")"
row "5 min WAV -> M4A 128 kbit/s (vs ffmpeg aac, ipod)" \
  "$(measure m4a "${PCLI[@]}" "${M4A[@]}" "$WORK/five.wav")" \
  "$(measure ffm4a "${FF[@]}" -c:a aac -b:a 128k -aac_tns 0 -f ipod "$WORK/peer.m4a")"
row "5 min WAV -> WMA 128 kbit/s (vs ffmpeg wmav2)" \
  "$(measure wma "${PCLI[@]}" "${WMA[@]}" "$WORK/five.wav")" \
  "$(measure ffwma "${FF[@]}" -c:a wmav2 -b:a 128k "$WORK/peer.wma")"
