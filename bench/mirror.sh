#!/usr/bin/env bash
# The library mirror (--mirror): 2,000 short files into Opus, the first run, a re-run with nothing to do, a re-run
# with 10 changed, 5 new and 5 deleted files (--prune); then a re-run over 10,000 unchanged files (goal: 2 s).
# Writes the figures into the "Library mirror" section of docs/benchmarks.md.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
FILES=${FILES:-2000}
BIG=${BIG:-10000}

# library DIR COUNT SECONDS: COUNT files in albums of 20 tracks, copies of 20 different plucked chords.
library() {
  local dir=$1 count=$2 seconds=$3 notes=(C3 D3 E3 F3 G3 A3 B3 C4 D4 E4 F4 G4 A4 B4 C5 D5 E5 F5 G5 A5)
  mkdir -p "$WORK/chords-$seconds"
  for i in $(seq 0 19); do
    [ -f "$WORK/chords-$seconds/$i.flac" ] ||
      sox -n -r 44100 -c 2 -b 16 "$WORK/chords-$seconds/$i.flac" synth "$seconds" pluck "${notes[$i]}" \
        pluck "${notes[$(((i + 4) % 20))]}" pluck "${notes[$(((i + 7) % 20))]}" fade 0 "$seconds" 0.05
  done
  for n in $(seq 0 $((count - 1))); do
    local album="$dir/Artist $((n / 200))/Album $((n / 20))"
    mkdir -p "$album"
    cp "$WORK/chords-$seconds/$((n % 20)).flac" "$album/$(printf %02d $((n % 20 + 1))).flac"
  done
}

seconds_of() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  printf '%.2f\n' "$(echo "$end - $start" | bc -l)"
}

MIRROR=("${PCLI[@]}" -f opus -j 2)
library "$WORK/lib" "$FILES" 1.0
first=$(seconds_of "${MIRROR[@]}" --mirror "$WORK/lib" -o "$WORK/phone")
again=$(seconds_of "${MIRROR[@]}" --mirror "$WORK/lib" -o "$WORK/phone")
# 10 changed (new content, new mtime), 5 new, 5 deleted.
for n in $(seq 0 9); do cp "$WORK/chords-1.0/$(((n + 5) % 20)).flac" "$WORK/lib/Artist 0/Album $n/01.flac"; done
for n in $(seq 0 4); do cp "$WORK/chords-1.0/$n.flac" "$WORK/lib/Artist 1/Album 1$n/new.flac"; done
for n in $(seq 0 4); do rm "$WORK/lib/Artist 2/Album 2$n/02.flac"; done
changed=$(seconds_of "${MIRROR[@]}" --mirror "$WORK/lib" -o "$WORK/phone" --prune)
summary=$("${MIRROR[@]}" --json --mirror "$WORK/lib" -o "$WORK/phone" --prune | tail -1)
targets=$(find "$WORK/phone" -type f ! -name '.*' | wc -l)

# 10,000 unchanged files: the cost is one stat of each source and target, nothing is decoded.
library "$WORK/big" "$BIG" 0.1
"${PCLI[@]}" -f wav -j 2 --mirror "$WORK/big" -o "$WORK/big-out" >/dev/null 2>&1
big=$(measure big "${PCLI[@]}" -f wav --mirror "$WORK/big" -o "$WORK/big-out")
big=${big%% *}
verdict=$(echo "$big <= 2" | bc -l)

cpus=$(nproc)
python3 - "$ROOT/docs/benchmarks.md" <<EOF
import re, sys
path = sys.argv[1]
text = open(path).read()
section = """## Library mirror

bench/mirror.sh: \`pelloran-cli -f opus -j 2 --mirror LIB -o PHONE\` over $FILES FLAC files of 1 s (44.1 kHz stereo
plucked chords in albums of 20), on $cpus cores.

| run | seconds |
|---|---|
| first run: $FILES converted | $first |
| re-run, nothing changed | $again |
| re-run with 10 changed, 5 new, 5 deleted, \`--prune\` | $changed |
| re-run over $BIG unchanged files (mean of $RUNS) | $big ($( [ "$verdict" = 1 ] && echo "goal met" || echo "above goal"): <= 2) |

After the changes the mirror holds $targets targets, and one more run does nothing: \`$summary\`.
"""
pattern = re.compile(r"## Library mirror\n.*?(?=\n## |\Z)", re.S)
text = pattern.sub(lambda m: section.rstrip("\n"), text) if pattern.search(text) else text.rstrip("\n") + "\n\n" + section
open(path, "w").write(text.rstrip("\n") + "\n")
EOF
echo "first $first s, again $again s, changed $changed s, $BIG unchanged $big s; wrote docs/benchmarks.md"
