#!/usr/bin/env bash
# Same-format WAV join against cat: ten 5-minute 44100 Hz stereo files, page cache warm,
# five rounds side by side; medians of the wall times and the join's peak resident memory.
#   bench/join/run.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
rounds="${2:-5}"
bench="$build/bin/join_bench"
corpus="${TANDREL_BENCH_CORPUS:-/tmp/tandrel-bench-corpus}"
work="$(mktemp -d /tmp/tandrel-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target join_bench -j2 >/dev/null
mkdir -p "$corpus"
inputs=()
for i in 0 1 2 3 4 5 6 7 8 9; do
    f="$corpus/in$i.wav"
    [ -s "$f" ] || sox -n -r 44100 -c 2 -b 16 -t wavpcm "$f" synth 300 sine $((200 + 50 * i)) vol 0.5
    inputs+=("$f")
done
cat "${inputs[@]}" >/dev/null # warm the page cache

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
now() { date +%s.%N; }

: >"$work/cat.t"; : >"$work/join.t"; : >"$work/direct.t"; : >"$work/rss"; : >"$work/sox.t"; : >"$work/ffmpeg.t"
for f in "${inputs[@]}"; do echo "file '$f'"; done >"$work/list.txt"
for _ in $(seq "$rounds"); do
    # Each run starts with no dirty pages left over from the one before.
    rm -f "$work/cat.wav"; sync; t0=$(now); cat "${inputs[@]}" >"$work/cat.wav"; t1=$(now)
    echo "$t1 - $t0" | bc >>"$work/cat.t"
    rm -f "$work/join.wav"; sync
    read -r secs rss < <("$bench" "$work/join.wav" "$work" "${inputs[@]}")
    echo "$secs" >>"$work/join.t"; echo "$rss" >>"$work/rss"
    rm -f "$work/direct.wav"; sync
    read -r secs _ < <("$bench" --direct "$work/direct.wav" "$work" "${inputs[@]}")
    echo "$secs" >>"$work/direct.t"
    rm -f "$work/sox.wav"; sync; t0=$(now); sox "${inputs[@]}" "$work/sox.wav"; t1=$(now)
    echo "$t1 - $t0" | bc >>"$work/sox.t"
    rm -f "$work/ff.wav"; sync; t0=$(now)
    ffmpeg -v error -f concat -safe 0 -i "$work/list.txt" -c copy "$work/ff.wav"; t1=$(now)
    echo "$t1 - $t0" | bc >>"$work/ffmpeg.t"
done
cmp <(tail -c +45 "$work/join.wav") <(for f in "${inputs[@]}"; do tail -c +45 "$f"; done)
peak=$(/usr/bin/time -f %M "$bench" "$work/join.wav" "$work" "${inputs[@]}" 2>&1 >/dev/null)

cat_m=$(median <"$work/cat.t"); join_m=$(median <"$work/join.t"); direct_m=$(median <"$work/direct.t")
printf 'data: %s MB in 10 files, %s rounds\n' "$(( $(du -cm "${inputs[@]}" | tail -1 | cut -f1) ))" "$rounds"
printf 'cat                      %.3f s\n' "$cat_m"
printf 'join, temporary file     %.3f s  (%.2fx cat)\n' "$join_m" "$(echo "$join_m / $cat_m" | bc -l)"
printf 'join, one pass           %.3f s  (%.2fx cat)\n' "$direct_m" "$(echo "$direct_m / $cat_m" | bc -l)"
printf 'ffmpeg -f concat -c copy %.3f s\n' "$(median <"$work/ffmpeg.t")"
printf 'sox                      %.3f s\n' "$(median <"$work/sox.t")"
printf 'join peak RSS            %s MB (getrusage), %s KB (/usr/bin/time)\n' "$(median <"$work/rss")" "$peak"
