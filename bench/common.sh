# Shared part of the benchmark scripts (sourced): the pelloran-cli to measure, a scratch folder, inputs, timing.
# PELLORAN_CLI names the pelloran-cli to measure (default: build-release, brought up to date). RUNS sets the runs.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=${PELLORAN_CLI:-$ROOT/build-release/pelloran-cli}
if [ -z "${PELLORAN_CLI:-}" ]; then
  # Always brought up to date: a stale binary would measure old code.
  cmake -S "$ROOT" -B "$ROOT/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLORAN_BUILD_TESTS=OFF >/dev/null
  cmake --build "$ROOT/build-release" -j2 --target pelloran-cli >/dev/null
fi
RUNS=${RUNS:-5}
WORK=$(mktemp -d)
BUSY=
# The busy loop goes with the scratch folder, on an interrupt too (a background job ignores Ctrl-C).
trap '[ -z "$BUSY" ] || kill "$BUSY" 2>/dev/null; rm -rf "$WORK"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
: > "$WORK/settings.conf"  # options of our own, never the user's
export XDG_CONFIG_HOME="$WORK/config"
PCLI=("$CLI" -q --settings "$WORK/settings.conf" -s TargetExistsOpt=22)

# require TOOL...: stops when a peer or helper tool is missing.
require() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps installs it)" >&2; exit 1; }
  done
}
require sox bc python3

# music_wav PATH SECONDS: music-like 44.1 kHz stereo material, two tones over pink noise (silence would flatter
# every encoder).
music_wav() {
  sox -n -r 44100 -c 2 -b 16 "$1" synth "$2" pinknoise synth "$2" sine mix 440 gain -6 >/dev/null 2>&1 ||
    sox -n -r 44100 -c 2 -b 16 "$1" synth "$2" sine 440 sine 660 >/dev/null 2>&1
}

# chord_wav PATH SECONDS: 44.1 kHz stereo 16-bit plucked four-note chords, a new one every second or so, over quiet
# pink noise: decoders see transients, decays and the encoder's bit reservoir at work, as with real music.
chord_wav() {
  local n=0 chord
  local -a lens=(1.0 0.9 1.1 1.2 1.0 0.8 1.0 1.0) notes parts=()
  for chord in "C3 E3 G3 C4" "A2 E3 A3 C4" "F2 C3 F3 A3" "G2 D3 G3 B3" "E2 B2 E3 G3" "D3 A3 D4 F4" "G2 B2 D3 F3" \
               "C3 G3 C4 E4"; do
    read -r -a notes <<<"$chord"
    # Four strings, strummed 30 ms apart, spread over the two channels.
    sox -r 44100 -c 4 -n -c 2 -b 16 "$WORK/chord$n.wav" synth "${lens[n]}" pluck "${notes[0]}" pluck "${notes[1]}" \
      pluck "${notes[2]}" pluck "${notes[3]}" delay 0 0.03 0.06 0.09 remix 1,2,3 2,3,4 trim 0 "${lens[n]}" norm -3
    parts+=("$WORK/chord$n.wav")
    n=$((n + 1))
  done
  # The eight chords last 8 s.
  sox "${parts[@]}" "$WORK/chords-dry.wav" repeat "$(($2 / 8))" trim 0 "$2"
  sox -n -r 44100 -c 2 -b 16 "$WORK/chords-noise.wav" synth "$2" pinknoise gain -30
  sox -m -v 1 "$WORK/chords-dry.wav" -v 1 "$WORK/chords-noise.wav" "$1" gain -1
  rm -f "${parts[@]}" "$WORK/chords-dry.wav" "$WORK/chords-noise.wav"
}

# chord_inputs: 300 s of chords as $WORK/chords.{wav,mp3,ogg,flac}, each made by its reference encoder.
chord_inputs() {
  require lame oggenc flac
  chord_wav "$WORK/chords.wav" 300
  lame --quiet -b 128 --cbr "$WORK/chords.wav" "$WORK/chords.mp3"
  oggenc -Q -q 4 -o "$WORK/chords.ogg" "$WORK/chords.wav"
  flac -s -5 -o "$WORK/chords.flac" "$WORK/chords.wav"
}

# busy_start / busy_stop: one core kept busy by a spinning process between the two.
busy_start() {
  yes >/dev/null &
  BUSY=$!
}
busy_stop() {
  kill "$BUSY"
  wait "$BUSY" 2>/dev/null || true
  BUSY=
}

# measure NAME CMD...: "WALL CPU", the mean wall and user+system seconds of RUNS runs (hyperfine when present,
# else a timing loop that gives the wall time only). On a busy machine the CPU times are the steadier comparison.
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

# fastest_flac_decoder FLAC OUT: FLAC_PEER is the faster of flac -d and ffmpeg decoding FLAC to OUT on this machine,
# FLAC_PEER_NAME its name.
fastest_flac_decoder() {
  local -a a b
  read -r -a a <<<"$(measure flac-d flac -d -s -f -o "$2" "$1")"
  read -r -a b <<<"$(measure flac-ff ffmpeg -v error -y -nostdin -i "$1" -c:a pcm_s16le "$2")"
  if [ "$(echo "${a[0]} <= ${b[0]}" | bc -l)" = 1 ]; then
    FLAC_PEER=(flac -d -s -f -o "$2" "$1") FLAC_PEER_NAME="flac -d"
  else
    FLAC_PEER=(ffmpeg -v error -y -nostdin -i "$1" -c:a pcm_s16le "$2") FLAC_PEER_NAME=ffmpeg
  fi
}

header() { printf '%-52s %8s %8s %13s %8s %8s\n' "" "pelloran" "$1" "" "pelloran" "$1"; }

# row LABEL "WALL CPU" "WALL CPU": ours against the peer, wall and CPU ratios (below 1: Pelloran is faster).
row() {
  local -a a b
  read -r -a a <<<"$2"
  read -r -a b <<<"$3"
  printf '%-52s %7ss %7ss  ratio %.2f   cpu %7ss %7ss  ratio %.2f\n' "$1" "${a[0]}" "${b[0]}" \
    "$(echo "${a[0]} / ${b[0]}" | bc -l)" "${a[1]}" "${b[1]}" "$(echo "${a[1]} / (${b[1]} + 0.000001)" | bc -l)"
}

# speedup LABEL "WALL CPU" "WALL CPU": how much faster the first (parallel) run is than the second.
speedup() {
  local -a a b
  read -r -a a <<<"$2"
  read -r -a b <<<"$3"
  printf '%-52s %7ss %7ss  speed-up %.2f\n' "$1" "${a[0]}" "${b[0]}" "$(echo "${b[0]} / ${a[0]}" | bc -l)"
}
