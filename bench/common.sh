# Shared helpers of the benchmark scripts (sourced).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI="$ROOT/build-release/pelloran-cli"
if [ ! -x "$CLI" ]; then
  cmake -S "$ROOT" -B "$ROOT/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLORAN_BUILD_TESTS=OFF >/dev/null
  cmake --build "$ROOT/build-release" --target pelloran-cli >/dev/null
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# Settings of our own, never the user's.
: > "$WORK/settings.conf"
export XDG_CONFIG_HOME="$WORK/config"
PCLI=("$CLI" -q --settings "$WORK/settings.conf")

# best_of N CMD...: the best wall time in seconds of N runs.
best_of() {
  local n=$1; shift
  local best=""
  for _ in $(seq "$n"); do
    local start end t
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
  done
  printf '%.3f' "$best"
}

# compare LABEL OURS PEER: prints both times and the ratio.
compare() {
  printf '%-48s %8ss %8ss  ratio %.2f\n' "$1" "$2" "$3" "$(echo "$2 / $3" | bc -l)"
}
