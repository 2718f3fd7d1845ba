#!/usr/bin/env bash
# Peak memory (maximum resident set) of conversions that stress the block path: a 1 Hz source resampled to
# 48 kHz, and a 2-hour source. Measured with /usr/bin/time -v; the bound is 64 MiB each.
source "$(dirname "$0")/common.sh"
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (package time)" >&2; exit 1; }

# peak_kib CMD...: the maximum resident set of one run, in KiB.
peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}'
}

# A 1 Hz mono WAV of 20 samples (20 seconds), written byte by byte.
python3 - "$WORK/one-hz.wav" <<'PY'
import struct, sys
samples = [int(12000 * ((-1) ** i)) for i in range(20)]
data = b"".join(struct.pack("<h", s) for s in samples)
hdr = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 1, 1, 2, 2, 16)
open(sys.argv[1], "wb").write(hdr + b"data" + struct.pack("<I", len(data)) + data)
PY
sox -n -r 44100 -c 2 -b 16 "$WORK/two-hours.wav" synth 7200 sine 440 >/dev/null 2>&1

printf '%-52s %10s\n' "conversion" "peak MiB"
check() {
  local label=$1; shift
  local kib
  kib=$(peak_kib "$@")
  printf '%-52s %10.1f%s\n' "$label" "$(echo "$kib / 1024" | bc -l)" "$([ "$kib" -le 65536 ] && echo "" || echo "  OVER 64 MiB")"
}
check "1 Hz -> 48 kHz, Ogg" "${PCLI[@]}" -f ogg -o "$WORK/out" -s AutoDestOGGEncodingParam=0 \
  -s OGGSampleRate=48000 "$WORK/one-hz.wav"
check "1 Hz -> 48 kHz, WAV" "${PCLI[@]}" -f wav -o "$WORK/out" -s AutoDestWAVEncodingParam=0 \
  -s WAVSampleRate=48000 "$WORK/one-hz.wav"
check "2-hour 44.1 kHz stereo -> MP3 128" "${PCLI[@]}" -f mp3 -o "$WORK/out" "$WORK/two-hours.wav"
check "2-hour 44.1 kHz stereo -> WAV 22.05 kHz mono" "${PCLI[@]}" -f wav -o "$WORK/out" \
  -s AutoDestWAVEncodingParam=0 -s WAVSampleRate=22050 -s WAVChannelNum=1 "$WORK/two-hours.wav"
