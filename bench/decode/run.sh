#!/bin/bash
# MP3 to WAV: ten 5-minute 128 kbps MP3 files joined with one thread (serial decoding), with
# the decoding pool (the default thread count), and by ffmpeg's concat demuxer, side by side in
# rounds; the medians of wall time and peak memory. The pool's output must equal the serial one.
# Usage: bench/decode/run.sh [build folder] [rounds]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
rounds=${2:-5}
bin=$build/bin/tandrel-join
corpus=${TMPDIR:-/tmp}/tandrel-decode-bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for tool in sox lame ffmpeg /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
mkdir -p "$corpus"
mp3s=()
for i in 0 1 2 3 4 5 6 7 8 9; do
    m="$corpus/cbr$i.mp3"
    if [ ! -s "$m" ]; then
        sox -R -n -r 44100 -c 2 -b 16 -t wavpcm "$work/in.wav" \
            synth 300 pinknoise synth 300 sine mix $((220 + 55 * i)) tremolo 3 40 vol 0.5 2>/dev/null
        lame --quiet --noreplaygain -b 128 "$work/in.wav" "$m"
    fi
    mp3s+=("$m")
    echo "file '$m'" >>"$work/list.txt"
done
cat "${mp3s[@]}" >/dev/null # warm the page cache

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
run() { # name, output, command...
    local name=$1 out=$2
    shift 2
    rm -f "$out"
    /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
    echo "$(cat "$work/t")" >>"$work/$name"
}
for r in $(seq "$rounds"); do
    run serial "$work/serial.wav" "$bin" -q --force --threads 1 -o "$work/serial.wav" "${mp3s[@]}"
    run pool "$work/pool.wav" "$bin" -q --force -o "$work/pool.wav" "${mp3s[@]}"
    run ffmpeg "$work/ffmpeg.wav" ffmpeg -v error -y -f concat -safe 0 -i "$work/list.txt" "$work/ffmpeg.wav"
    cmp -s "$work/serial.wav" "$work/pool.wav" || { echo "the pool's output differs" >&2; exit 1; }
done
printf '%-8s %10s %12s   (%s rounds, %s cores)\n' job "wall s" "peak MB" "$rounds" "$(nproc)"
for name in serial pool ffmpeg; do
    wall=$(cut -d' ' -f1 "$work/$name" | median)
    peak=$(cut -d' ' -f2 "$work/$name" | median)
    printf '%-8s %10s %12.1f\n' "$name" "$wall" "$(echo "$peak / 1024" | bc -l)"
done
