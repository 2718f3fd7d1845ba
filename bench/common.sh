# Shared part of the benchmark scripts (sourced): the pelloran-cli to measure, a scratch folder, inputs, timing.
# PELLORAN_CLI names the pelloran-cli to measure (default: build-release, brought up to date). RUNS sets the runs.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=${PELLORAN_CLI:-$ROOT/build-release/pelloran-cli}
if [ -z "${PELLORAN_CLI:-}" ]; then
  # Always brought up to date: a stale binary would measure old code.
  cmake -S "$ROOT" -B "$ROOT/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLORAN_BUILD_TESTS=OFF >/dev/null
  cmake --build "$ROOT/build-release" --target pelloran-cli >/dev/null
fi
RUNS=${RUNS:-5}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
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
