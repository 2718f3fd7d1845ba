#!/usr/bin/env bash
# AAC and WMA output, whole-process timings side by side against ffmpeg with the same encoder and bit rate:
#   a 5-minute 44.1 kHz stereo WAV to AAC (ADTS) at 128 kbit/s with libavcodec's AAC encoder, to M4A the same
#   way, and to WMA at 128 kbit/s with the wmav2 encoder; one job each, tags off.
# PELLORAN_CLI names the pelloran-cli to measure (default: build-release, built when missing). RUNS sets the runs.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=${PELLORAN_CLI:-$ROOT/build-release/pelloran-cli}
if [ ! -x "$CLI" ]; then
  cmake -S "$ROOT" -B "$ROOT/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLORAN_BUILD_TESTS=OFF \
    -DPELLORAN_BUILD_GUI=OFF >/dev/null
  cmake --build "$ROOT/build-release" --target pelloran-cli -j 1 >/dev/null
fi
for tool in sox ffmpeg; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps installs it)" >&2; exit 1; }
done
RUNS=${RUNS:-5}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
: > "$WORK/settings.conf"  # options of our own, never the user's
export XDG_CONFIG_HOME="$WORK/config"
PCLI=("$CLI" -q -j 1 --settings "$WORK/settings.conf" -s TargetExistsOpt=22 -o "$WORK/out")

# Music-like material: two tones over pink noise (silence would flatter every encoder).
sox -n -r 44100 -c 2 -b 16 "$WORK/five.wav" synth 300 pinknoise synth 300 sine mix 440 gain -6 >/dev/null 2>&1 ||
  sox -n -r 44100 -c 2 -b 16 "$WORK/five.wav" synth 300 sine 440 sine 660 >/dev/null 2>&1

AAC=(-f aac -s AutoDestAACEncodingParam=0 -s AACVBR=0 -s AACABRBitRate=128)
M4A=(-f m4a -s AutoDestM4AEncodingParam=0 -s M4AVBR=0 -s M4AABRBitRate=128 -s M4AID3TagType=2)
WMA=(-f wma -s AutoDestWMAEncodingParam=0 -s WMABitRate=128000 -s WMASampleRate=44100 -s WMAChannels=2
     -s WMAID3TagType=2)
# ffmpeg's own defaults for AAC enable TNS; the Pelloran options above keep it off, so the peer does too.
FF=(ffmpeg -v error -y -nostdin -i "$WORK/five.wav" -map_metadata -1)

# measure NAME CMD...: "WALL CPU", the mean wall and user+system times of RUNS runs (hyperfine when present,
# else a timing loop that gives the wall time only). On a busy machine the CPU times are the steadier
# comparison.
measure() {
  local name=$1; shift
  if command -v hyperfine >/dev/null; then
    local quoted
    quoted=$(printf '%q ' "$@")
    hyperfine -N --warmup 1 --runs "$RUNS" --export-json "$WORK/$name.json" "$quoted" >/dev/null 2>&1
    python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print("%.3f %.3f" % (r["mean"], r["user"] + r["system"]))' \
      "$WORK/$name.json"
  else
    "$@" >/dev/null 2>&1
    local start end
    start=$(date +%s.%N)
    for _ in $(seq "$RUNS"); do "$@" >/dev/null 2>&1; done
    end=$(date +%s.%N)
    echo "$(echo "scale=3; ($end - $start) / $RUNS" | bc -l) 0"
  fi
}

row() {
  local -a a b
  read -r -a a <<<"$2"
  read -r -a b <<<"$3"
  printf '%-50s %7ss %7ss  ratio %.2f   cpu %7ss %7ss  ratio %.2f\n' "$1" "${a[0]}" "${b[0]}" \
    "$(echo "${a[0]} / ${b[0]}" | bc -l)" "${a[1]}" "${b[1]}" "$(echo "${a[1]} / (${b[1]} + 0.000001)" | bc -l)"
}

printf '%-50s %8s %8s %13s %8s %8s\n' "" "pelloran" "ffmpeg" "" "pelloran" "ffmpeg"
row "5 min WAV -> AAC 128 kbit/s (vs ffmpeg aac)" \
  "$(measure aac "${PCLI[@]}" "${AAC[@]}" "$WORK/five.wav")" \
  "$(measure ffaac "${FF[@]}" -c:a aac -b:a 128k -aac_tns 0 "$WORK/peer.aac")"
row "5 min WAV -> M4A 128 kbit/s (vs ffmpeg aac, ipod)" \
  "$(measure m4a "${PCLI[@]}" "${M4A[@]}" "$WORK/five.wav")" \
  "$(measure ffm4a "${FF[@]}" -c:a aac -b:a 128k -aac_tns 0 -f ipod "$WORK/peer.m4a")"
row "5 min WAV -> WMA 128 kbit/s (vs ffmpeg wmav2)" \
  "$(measure wma "${PCLI[@]}" "${WMA[@]}" "$WORK/five.wav")" \
  "$(measure ffwma "${FF[@]}" -c:a wmav2 -b:a 128k "$WORK/peer.wma")"
