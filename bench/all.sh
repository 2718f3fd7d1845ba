#!/usr/bin/env bash
# Every path against its peer in one run, side by side as ratios (Pelloran time / peer time, wall and CPU; below 1
# Pelloran is faster), then writes docs/benchmarks.md and its chart docs/benchmarks.png. The decode rows on chord
# material run twice: on the quiet machine, then with one core kept busy. Run on a quiet machine.
source "$(dirname "$0")/common.sh"
require ffmpeg oggenc oggdec gnuplot lame flac
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (package time)" >&2; exit 1; }

music_wav "$WORK/five.wav" 300
sox -n -r 48000 -c 2 -b 24 "$WORK/hires.wav" synth 120 pinknoise synth 120 sine mix 440 gain -6 >/dev/null 2>&1
ffmpeg -v error -i "$WORK/five.wav" -c:a libmp3lame -b:a 192k "$WORK/five.mp3"
ffmpeg -v error -i "$WORK/five.wav" -c:a flac "$WORK/five.flac"
oggenc -Q -b 128 -o "$WORK/five.ogg" "$WORK/five.wav"
sox "$WORK/five.wav" "$WORK/tenth.wav" trim 0 0.1
chord_inputs
fastest_flac_decoder "$WORK/chords.flac" "$WORK/peer.wav"
load=$(cut -d ' ' -f 1 /proc/loadavg)

ROWS="$WORK/rows.tsv"
: > "$ROWS"
: > "$WORK/busy.tsv"
header peer
# bench LABEL GOAL PEER-NAME -- OURS... -- PEER...
bench() {
  local label=$1 goal=$2 peer=$3
  shift 3
  local ours=() theirs=()
  [ "$1" = "--" ] && shift
  while [ "$1" != "--" ]; do ours+=("$1"); shift; done
  shift
  theirs=("$@")
  local a b
  a=$(measure "o$RANDOM" "${ours[@]}")
  b=$(measure "p$RANDOM" "${theirs[@]}")
  row "$label (vs $peer)" "$a" "$b"
  read -r aw ac <<<"$a"
  read -r bw bc <<<"$b"
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$label" "$peer" "$aw" "$bw" "$(echo "$aw / $bw" | bc -l)" "$goal" >>"$ROWS"
}

bench "resample 48 kHz/24 to 44.1 kHz/16 stereo, 120 s" 0.9 sox \
  -- "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" --rate 44100 -s WAVBitsPerSample=16 "$WORK/hires.wav" \
  -- sox "$WORK/hires.wav" -b 16 "$WORK/peer.wav" rate -v 44100
# sox's amr-nb writer (libsox-fmt-base) on the same encoder library, both at mode 6 (10.2 kbit/s), no DTX.
bench "AMR-NB encode 10.2 kbit/s (mix, resample to 8 kHz)" 1.0 sox \
  -- "${PCLI[@]}" -j 1 -f amr -s AMRMode=6 -s AMRDTX=0 -o "$WORK/out" "$WORK/five.wav" \
  -- sox "$WORK/five.wav" -r 8000 -c 1 -C 6 -t amr-nb "$WORK/peer.amr"
bench "FLAC to WAV" 1.0 ffmpeg \
  -- "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/five.flac" \
  -- ffmpeg -v error -y -nostdin -i "$WORK/five.flac" -c:a pcm_s16le "$WORK/peer.wav"
bench "MP3 to WAV" 1.0 ffmpeg \
  -- "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/five.mp3" \
  -- ffmpeg -v error -y -nostdin -i "$WORK/five.mp3" -c:a pcm_s16le "$WORK/peer.wav"
bench "Ogg to WAV" 1.0 oggdec \
  -- "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/five.ogg" \
  -- oggdec -Q -o "$WORK/peer.wav" "$WORK/five.ogg"
bench "Ogg encode 128 kbit/s" 1.0 oggenc \
  -- "${PCLI[@]}" -j 1 -f ogg -b 128 -o "$WORK/out" "$WORK/five.wav" \
  -- oggenc -Q -b 128 -o "$WORK/peer.ogg" "$WORK/five.wav"
bench "WAV to WAV, no change" 1.0 ffmpeg \
  -- "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/five.wav" \
  -- ffmpeg -v error -y -nostdin -i "$WORK/five.wav" -c:a pcm_s16le "$WORK/peer.wav"

# chord_decodes: the decode paths on the chord material, one job each.
chord_decodes() {
  bench "MP3 128 kbit/s CBR to WAV, chords" 0.9 ffmpeg \
    -- "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/chords.mp3" \
    -- ffmpeg -v error -y -nostdin -i "$WORK/chords.mp3" -c:a pcm_s16le "$WORK/peer.wav"
  bench "Ogg q4 to WAV, chords" 0.9 oggdec \
    -- "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/chords.ogg" \
    -- oggdec -Q -o "$WORK/peer.wav" "$WORK/chords.ogg"
  bench "FLAC -5 to WAV, chords" 0.9 "$FLAC_PEER_NAME" \
    -- "${PCLI[@]}" -j 1 -f wav -o "$WORK/out" "$WORK/chords.flac" \
    -- "${FLAC_PEER[@]}"
}
chord_decodes

echo "one core busy (yes > /dev/null):"
ROWS="$WORK/busy.tsv"
busy_start
chord_decodes
busy_stop

# Start: whole-process time and peak memory of the smallest jobs.
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
version=$(measure version "$CLI" --version)
tenth=$(measure tenth "${PCLI[@]}" -f wav -o "$WORK/out" "$WORK/tenth.wav")
version_kib=$(peak "$CLI" --version)
tenth_kib=$(peak "${PCLI[@]}" -f wav -o "$WORK/out" "$WORK/tenth.wav")
printf '%-52s %7ss %8s KiB\n' "start: --version" "${version%% *}" "$version_kib"
printf '%-52s %7ss %8s KiB\n' "start: a 0.1 s WAV to WAV" "${tenth%% *}" "$tenth_kib"

# docs/benchmarks.md and its chart.
DOCS="$ROOT/docs"
python3 - "$WORK/rows.tsv" "$DOCS/benchmarks.md" "${version%% *}" "$version_kib" "${tenth%% *}" "$tenth_kib" \
  "$([ -n "${PELLORAN_CLI:-}" ] && echo "as given in PELLORAN_CLI" || echo Release)" "$RUNS" \
  "$WORK/busy.tsv" "$load" "$WORK/chart.dat" <<'PY'
import os, sys, datetime
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
busy = [line.rstrip("\n").split("\t") for line in open(sys.argv[9])]
out = open(sys.argv[2], "w")
out.write("# Benchmarks\n\n")
out.write("Whole processes side by side in one run of `bench/all.sh` (mean of %s runs each), %s. Ratio = Pelloran's "
          "wall time / the peer's; below 1 Pelloran is faster.\n\n" % (sys.argv[8], datetime.date.today()))
out.write("![Pelloran against its peers](benchmarks.png)\n\n")
out.write("This run: %d cores, load average %s as it began, pelloran-cli built %s. Pelloran decodes and encodes on "
          "two threads, so its CPU time can exceed its wall time; FFmpeg is loaded only by jobs that need it (not by "
          "`--version`, nor by a plain PCM WAV source).\n\n" % (os.cpu_count(), sys.argv[10], sys.argv[7]))
out.write("Material: 300 s of 44.1 kHz stereo 16-bit audio (the resampling row: 120 s at 48 kHz, 24-bit). Most rows "
          "use pink noise with a 440 Hz tone (MP3 by FFmpeg's libmp3lame at 192 kbit/s, Ogg by `oggenc -b 128`, FLAC "
          "by FFmpeg); the rows marked *chords* use plucked four-note chords, a new one every second or so, over quiet "
          "pink noise (MP3 by `lame -b 128 --cbr`, Ogg by `oggenc -q 4`, FLAC by `flac -5`). Every decode runs as one "
          "job (`-j 1`) and writes a 16-bit WAV; the FLAC peer on chords is whichever of `flac -d` and FFmpeg was "
          "faster here.\n\n")
def table(title, rows):
    out.write("%s\n\n| path | peer | Pelloran s | peer s | ratio | goal |\n|---|---|---|---|---|---|\n" % title)
    for label, peer, ours, theirs, ratio, goal in rows:
        mark = "" if float(ratio) <= float(goal) else " (above goal)"
        out.write("| %s | %s | %.3f | %.3f | %.2f%s | <= %s |\n"
                  % (label, peer, float(ours), float(theirs), float(ratio), mark, goal))
    out.write("\n")
table("## Idle machine", rows)
table("## One core busy\n\nThe decode rows on chords again while `yes > /dev/null` keeps one core busy: Pelloran's "
      "second thread has to share a core.", busy)
out.write("Start-up: `pelloran-cli --version` %.3f s, %s KiB peak; a 0.1 s WAV to WAV %.3f s, %s KiB peak "
          "(goal: half of the 40 ms and 41 MiB both took before FFmpeg was loaded on demand).\n"
          % (float(sys.argv[3]), sys.argv[4], float(sys.argv[5]), sys.argv[6]))
# Chart: each row's idle ratio and, for the rows that ran twice, its ratio with one core busy.
busy_ratio = {label: ratio for label, _, _, _, ratio, _ in busy}
with open(sys.argv[11], "w") as chart:
    for label, _, _, _, ratio, goal in rows:
        chart.write('"%s" %s %s %s\n' % (label, ratio, busy_ratio.get(label, "?"), goal))
PY
gnuplot <<GP
set terminal png size 1000,460 font ",10"
set output "$DOCS/benchmarks.png"
set title "Pelloran time / peer time (below 1: Pelloran is faster)"
set style data histograms
set style histogram clustered gap 1
set datafile missing "?"
set style fill solid 0.8 border -1
set boxwidth 0.7
set yrange [0:*]
set xtics rotate by -25 left
set grid ytics
set key outside top center horizontal
plot "$WORK/chart.dat" using 2:xtic(1) title "ratio, idle" lc rgb "#4a78b0", \
     "" using 3 title "ratio, one core busy" lc rgb "#e0a030", \
     "" using (\$0 - 0.4):4:(0.8):(0) with vectors nohead lw 2 lc rgb "#c03030" title "goal"
GP
echo "wrote $DOCS/benchmarks.md and $DOCS/benchmarks.png"
