#!/usr/bin/env bash
# Decoding: MP3 and FLAC to WAV through pelloran-cli against ffmpeg doing the same; MP3, Ogg and FLAC of chords to WAV
# against the fastest peer, on the quiet machine and with one core busy; --probe of 500 files against ffprobe on the
# same files.
source "$(dirname "$0")/common.sh"
require ffmpeg ffprobe oggdec

music_wav "$WORK/five.wav" 300
ffmpeg -v error -i "$WORK/five.wav" -c:a libmp3lame -b:a 192k "$WORK/five.mp3"
ffmpeg -v error -i "$WORK/five.wav" -c:a flac "$WORK/five.flac"

header ffmpeg
for src in five.mp3 five.flac; do
  row "5 min ${src#five.} to WAV (vs ffmpeg)" \
    "$(measure "ours-$src" "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/$src")" \
    "$(measure "ff-$src" ffmpeg -v error -y -nostdin -i "$WORK/$src" -c:a pcm_s16le "$WORK/peer.wav")"
done

chord_inputs
fastest_flac_decoder "$WORK/chords.flac" "$WORK/peer.wav"
for pass in idle busy; do
  if [ "$pass" = busy ]; then busy_start; fi
  row "5 min chords MP3 to WAV, $pass (vs ffmpeg)" \
    "$(measure "ours-mp3-$pass" "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/chords.mp3")" \
    "$(measure "ff-mp3-$pass" ffmpeg -v error -y -nostdin -i "$WORK/chords.mp3" -c:a pcm_s16le "$WORK/peer.wav")"
  row "5 min chords Ogg to WAV, $pass (vs oggdec)" \
    "$(measure "ours-ogg-$pass" "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/chords.ogg")" \
    "$(measure "oggdec-$pass" oggdec -Q -o "$WORK/peer.wav" "$WORK/chords.ogg")"
  row "5 min chords FLAC to WAV, $pass (vs $FLAC_PEER_NAME)" \
    "$(measure "ours-flac-$pass" "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/chords.flac")" \
    "$(measure "peer-flac-$pass" "${FLAC_PEER[@]}")"
  if [ "$pass" = busy ]; then busy_stop; fi
done

# 500 short files of mixed kinds.
mkdir -p "$WORK/many"
sox "$WORK/five.wav" "$WORK/seed.wav" trim 0 3
ffmpeg -v error -i "$WORK/seed.wav" -c:a libmp3lame -b:a 128k "$WORK/seed.mp3"
ffmpeg -v error -i "$WORK/seed.wav" -c:a flac "$WORK/seed.flac"
for i in $(seq 1 500); do
  case $((i % 3)) in
    0) cp "$WORK/seed.wav" "$WORK/many/f$i.wav" ;;
    1) cp "$WORK/seed.mp3" "$WORK/many/f$i.mp3" ;;
    2) cp "$WORK/seed.flac" "$WORK/many/f$i.flac" ;;
  esac
done
cat > "$WORK/probe_all.sh" <<'EOS'
for f in "$1"/*; do ffprobe -v error -show_streams "$f"; done
EOS
RUNS=3
peer=$(measure ffprobe bash "$WORK/probe_all.sh" "$WORK/many")
row "--probe 500 files, one job (vs ffprobe per file)" "$(measure probe1 "${PCLI[@]}" -j 1 --probe "$WORK/many")" "$peer"
row "--probe 500 files, all processors (vs ffprobe)" "$(measure probe "${PCLI[@]}" --probe "$WORK/many")" "$peer"
