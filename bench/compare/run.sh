#!/usr/bin/env bash
# tandrel-join against the tools people join audio with today, side by side on one corpus:
# medians of wall time, CPU time (user + system) and peak resident memory over several rounds,
# the ratio of tandrel-join's wall time to each peer's, and each output's duration by ffprobe.
#   [JOBS=fast,encode,copy,cores] bench/compare/run.sh [BUILD_DIR] [ROUNDS] [ENCODE_ROUNDS]
# ENCODE_ROUNDS (default ROUNDS) applies to the jobs that encode MP3, which take minutes;
# ROUNDS 0 runs those alone (bench/compare/run.sh build 0 3). tandrel-join encodes MP3 with one
# worker per core, and is also timed with one worker ("tandrel-join 1 worker").
# JOBS (default all four) picks the groups: fast (WAV, MP3 decoding, mixed set), encode (the
# jobs that encode MP3) and copy (MP3 -> MP3 keeping frames: tandrel-join --mp3-copy on the CBR
# and the VBR MP3s beside cat, ffmpeg's concat with -c copy, mp3wrap and the re-encoding
# tandrel-join join of the same files, timed in ENCODE_ROUNDS; with encode in the same run, the
# CBR re-encoding row is the MP3 -> MP3 job's). The copy table adds each output's seam gap: its
# decoded sample count minus the sum of the inputs' decoded (gapless) counts, per seam, in ms;
# and the mean |shift_samples| of --mp3-copy's seams from its --json. Only the new job, 3 rounds:
#   JOBS=copy bench/compare/run.sh build 3
# cores: each job with --threads 1 and with the default (one worker per core) beside its peer
# (cat + sync -f for WAV -> WAV, on tmpfs and in the corpus' folder on the disk; ffmpeg for the
# others), whether the two outputs are the same bytes (cmp), a scaling table (1 and 2 workers
# measured; 4, 8 and 16 computed by Amdahl's law from them) and a memory check: MP3 -> WAV and
# mixed -> WAV of 1, 10, 100 and 1000 one-second inputs with 2 workers. The MP3 -> MP3 rows are
# timed in ENCODE_ROUNDS:   JOBS=cores bench/compare/run.sh build 3 1
# Needs sox, lame, ffmpeg/ffprobe, bc and GNU time (/usr/bin/time: apt-get install time).
# shntool, mpg123 and mp3wrap are measured when installed. The corpus is kept in bench/corpus/.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
rounds="${2:-5}"
encode_rounds="${3:-$rounds}"
tj="$build/bin/tandrel-join"
corpus="$root/bench/corpus"
work="$(mktemp -d "${TMPDIR:-/tmp}/tandrel-compare-XXXXXX")"
shm=""
trap 'rm -rf "$work" ${shm:+"$shm"}; rm -f "$corpus"/cores.*.wav' EXIT
jobs=" ${JOBS:-fast encode copy cores} "
jobs=${jobs//,/ }
for j in $jobs; do
    case $j in fast | encode | copy | cores) ;; *) echo "unknown job group: $j (fast, encode, copy, cores)" >&2; exit 1 ;; esac
done
want() { [[ $jobs == *" $1 "* ]]; }

for tool in sox lame ffmpeg ffprobe bc /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
cmake --build "$build" --target tandrel-join -j2 >/dev/null

# Corpus: ten 5-minute 44100 Hz stereo WAV files, the same as 128 kbps CBR and as VBR MP3,
# and a mixed set (22050 Hz mono 8-bit WAV, 44100 Hz stereo WAV, 48000 Hz MP3, WMA).
mkdir -p "$corpus"
wavs=() cbrs=() vbrs=()
for i in 0 1 2 3 4 5 6 7 8 9; do
    w="$corpus/in$i.wav"
    [ -s "$w" ] || sox -R -n -r 44100 -c 2 -b 16 -t wavpcm "$w" \
        synth 300 pinknoise synth 300 sine mix $((220 + 55 * i)) tremolo 3 40 vol 0.5 2>/dev/null
    [ -s "$corpus/cbr$i.mp3" ] || lame --quiet --noreplaygain -b 128 "$w" "$corpus/cbr$i.mp3"
    [ -s "$corpus/vbr$i.mp3" ] || lame --quiet --noreplaygain -V 4 "$w" "$corpus/vbr$i.mp3"
    wavs+=("$w") cbrs+=("$corpus/cbr$i.mp3") vbrs+=("$corpus/vbr$i.mp3")
done
m="$corpus/mixed"
mixed=("$m/a-22050-mono-8.wav" "$m/b-44100-stereo-16.wav" "$m/c-48000.mp3" "$m/d.wma")
if want fast || want encode || want cores; then
    mkdir -p "$m"
    [ -s "$m/a-22050-mono-8.wav" ] || sox "${wavs[0]}" -r 22050 -c 1 -b 8 -t wavpcm "$m/a-22050-mono-8.wav"
    [ -s "$m/b-44100-stereo-16.wav" ] || cp "${wavs[1]}" "$m/b-44100-stereo-16.wav"
    [ -s "$m/c-48000.mp3" ] || ffmpeg -v error -i "${wavs[2]}" -ar 48000 -c:a libmp3lame -b:a 192k "$m/c-48000.mp3"
    [ -s "$m/d.wma" ] || ffmpeg -v error -i "${wavs[3]}" -c:a wmav2 -b:a 128k "$m/d.wma"
    cat "${wavs[@]}" "${mixed[@]}" >/dev/null # warm the page cache
fi
cat "${cbrs[@]}" "${vbrs[@]}" >/dev/null

# For the memory check: 1000 one-second MP3s (44100 Hz stereo, 128 kbps), and 1000 one-second
# files of the mixed set's four kinds, 250 of each, taken in turn. One ffmpeg cuts each kind.
short="$corpus/short"
short_mp3=() short_mixed=()
if want cores; then
    if [ ! -e "$short/complete" ]; then
        echo "making the short inputs of the memory check" >&2
        rm -rf "$short"
        mkdir -p "$short"
        sox -R -n -r 44100 -c 2 -b 16 -t wavpcm "$work/long.wav" \
            synth 1040 pinknoise synth 1040 sine mix 330 tremolo 3 40 vol 0.5 2>/dev/null
        ffmpeg -v error -i "$work/long.wav" -f segment -segment_time 1 -c:a libmp3lame -b:a 128k "$short/m%04d.mp3"
        ffmpeg -v error -t 260 -i "$work/long.wav" -ar 22050 -ac 1 -c:a pcm_u8 -f segment -segment_time 1 "$short/a%04d.wav"
        ffmpeg -v error -t 260 -i "$work/long.wav" -c:a pcm_s16le -f segment -segment_time 1 "$short/b%04d.wav"
        ffmpeg -v error -t 260 -i "$work/long.wav" -ar 48000 -f segment -segment_time 1 -c:a libmp3lame -b:a 192k "$short/c%04d.mp3"
        # The ASF muxer cuts WMA into longer pieces: one output per second instead.
        wma_args=()
        for i in $(seq 0 249); do wma_args+=(-ss "$i" -t 1 -c:a wmav2 -b:a 128k "$(printf '%s/d%04d.wma' "$short" "$i")"); done
        ffmpeg -v error -t 260 -i "$work/long.wav" "${wma_args[@]}"
        rm -f "$work/long.wav"
        touch "$short/complete"
    fi
    for i in $(seq 0 999); do short_mp3+=("$(printf '%s/m%04d.mp3' "$short" "$i")"); done
    for i in $(seq 0 249); do
        for k in a b c d; do
            case $k in a | b) x=wav ;; c) x=mp3 ;; d) x=wma ;; esac
            short_mixed+=("$(printf '%s/%s%04d.%s' "$short" "$k" "$i" "$x")")
        done
    done
    for f in "${short_mp3[@]}" "${short_mixed[@]}"; do
        [ -s "$f" ] || { echo "missing short input $f (remove $short to make them again)" >&2; exit 1; }
    done
    cat "${short_mp3[@]}" "${short_mixed[@]}" >/dev/null
    # The WAV files once more on tmpfs, for the WAV -> WAV join there.
    shm_wavs=()
    if [ "$rounds" -gt 0 ]; then
        shm=$(mktemp -d /dev/shm/tandrel-cores-XXXXXX)
        cp "${wavs[@]}" "$shm/"
        for w in "${wavs[@]}"; do shm_wavs+=("$shm/$(basename "$w")"); done
    fi
fi

duration() { ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1" 2>/dev/null || echo 0; }
total() { local t=0; for f in "$@"; do t=$(echo "$t + $(duration "$f")" | bc); done; echo "$t"; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
for f in "${wavs[@]}"; do echo "file '$f'"; done >"$work/wavs.txt"
for f in "${cbrs[@]}"; do echo "file '$f'"; done >"$work/cbrs.txt"
for f in "${vbrs[@]}"; do echo "file '$f'"; done >"$work/vbrs.txt"

# One timed run: job, tool, output file, command. Each run starts without dirty pages.
run() {
    local job=$1 tool=$2 file=$3
    shift 3
    rm -f "$file"
    sync
    # Wall time to the millisecond (GNU time gives hundredths), CPU time and memory from time.
    local t0 t1
    t0=$(date +%s%N)
    if ! /usr/bin/time -f "%e %U %S %M" -o "$work/t" "$@" >"$work/out" 2>"$work/err"; then
        echo "$job / $tool failed:" >&2
        tail -3 "$work/err" >&2
        return
    fi
    t1=$(date +%s%N)
    read -r _ u s kb <"$work/t"
    echo "$(echo "scale=3; ($t1 - $t0) / 1000000000" | bc) $(echo "$u + $s" | bc) $kb" >>"$work/$job.$tool"
    echo "$file" >"$work/$job.$tool.file"
    mv "$work/out" "$work/$job.$tool.stdout"
}

# Mixed set through ffmpeg's concat filter, to the target tandrel-join computes.
mixed_filter="[0]aresample=48000,aformat=sample_fmts=s16:channel_layouts=stereo[a0];"
mixed_filter+="[1]aresample=48000,aformat=sample_fmts=s16:channel_layouts=stereo[a1];"
mixed_filter+="[2]aresample=48000,aformat=sample_fmts=s16:channel_layouts=stereo[a2];"
mixed_filter+="[3]aresample=48000,aformat=sample_fmts=s16:channel_layouts=stereo[a3];"
mixed_filter+="[a0][a1][a2][a3]concat=n=4:v=0:a=1"
ff_mixed=(ffmpeg -v error -y -i "${mixed[0]}" -i "${mixed[1]}" -i "${mixed[2]}" -i "${mixed[3]}" -filter_complex "$mixed_filter")
sox_pipe() { echo "|sox $1 -t wav -r 48000 -c 2 -b 16 -"; }

# The encoder floor: lame alone on the joined PCM, made once before the timing.
if want encode; then "$tj" -q --force -o "$work/joined.wav" "${wavs[@]}"; fi

jobs_fast() {
    run wav2wav tandrel-join "$work/wav2wav.wav" "$tj" -q --force -o "$work/wav2wav.wav" "${wavs[@]}"
    # cat's output is synced as tandrel-join syncs its own, so that both pay for the disk.
    run wav2wav cat "$work/wav2wav.cat.wav" bash -c 'f=$1; shift; cat "$@" >"$f" && sync -f "$f"' _ "$work/wav2wav.cat.wav" "${wavs[@]}"
    if command -v shntool >/dev/null; then
        run wav2wav shntool "$work/joined-shn.wav" shntool join -q -O always -d "$work" -a joined-shn "${wavs[@]}"
    fi
    run wav2wav ffmpeg "$work/wav2wav.ff.wav" ffmpeg -v error -f concat -safe 0 -i "$work/wavs.txt" -c copy "$work/wav2wav.ff.wav"
    run wav2wav sox "$work/wav2wav.sox.wav" sox "${wavs[@]}" "$work/wav2wav.sox.wav"

    for kind in cbr vbr; do
        local -n mp3s=${kind}s
        run "${kind}2wav" tandrel-join "$work/${kind}2wav.wav" "$tj" -q --force -o "$work/${kind}2wav.wav" "${mp3s[@]}"
        if command -v mpg123 >/dev/null; then
            run "${kind}2wav" mpg123 "$work/${kind}2wav.mpg.wav" mpg123 -q -w "$work/${kind}2wav.mpg.wav" "${mp3s[@]}"
        fi
        run "${kind}2wav" ffmpeg "$work/${kind}2wav.ff.wav" ffmpeg -v error -f concat -safe 0 -i "$work/${kind}s.txt" "$work/${kind}2wav.ff.wav"
        run "${kind}2wav" sox "$work/${kind}2wav.sox.wav" sox "${mp3s[@]}" "$work/${kind}2wav.sox.wav"
    done

    run mixed2wav tandrel-join "$work/mixed2wav.wav" "$tj" -q --force -o "$work/mixed2wav.wav" "${mixed[@]}"
    run mixed2wav ffmpeg "$work/mixed2wav.ff.wav" "${ff_mixed[@]}" "$work/mixed2wav.ff.wav"
    run mixed2wav sox "$work/mixed2wav.sox.wav" sox "$(sox_pipe "${mixed[0]}")" "$(sox_pipe "${mixed[1]}")" \
        "$(sox_pipe "${mixed[2]}")" -t s16 -r 48000 -c 2 "|ffmpeg -v error -i ${mixed[3]} -ar 48000 -ac 2 -f s16le -" \
        "$work/mixed2wav.sox.wav"

    run mixed2wma tandrel-join "$work/mixed2wma.wma" "$tj" -q --force --wma-bitrate 96 -o "$work/mixed2wma.wma" "${mixed[@]}"
    run mixed2wma ffmpeg "$work/mixed2wma.ff.wma" "${ff_mixed[@]}" -c:a wmav2 -b:a 96k "$work/mixed2wma.ff.wma"
    "$tj" -q --force -o "$work/mixed.wav" "${mixed[@]}"
    run mixed2wma "wmav2 alone" "$work/mixed2wma.enc.wma" ffmpeg -v error -i "$work/mixed.wav" -c:a wmav2 -b:a 96k "$work/mixed2wma.enc.wma"
}

jobs_encode() {
    run wav2mp3 tandrel-join "$work/wav2mp3.mp3" "$tj" -q --force --mp3-bitrate 128 -o "$work/wav2mp3.mp3" "${wavs[@]}"
    run wav2mp3 "lame alone" "$work/wav2mp3.lame.mp3" lame --quiet --noreplaygain -b 128 "$work/joined.wav" "$work/wav2mp3.lame.mp3"
    run wav2mp3 ffmpeg "$work/wav2mp3.ff.mp3" ffmpeg -v error -f concat -safe 0 -i "$work/wavs.txt" -c:a libmp3lame -b:a 128k "$work/wav2mp3.ff.mp3"
    run wav2mp3 sox "$work/wav2mp3.sox.mp3" sox "${wavs[@]}" -C 128 "$work/wav2mp3.sox.mp3"

    run wav2mp3 "tandrel-join 1 worker" "$work/wav2mp3.1.mp3" "$tj" -q --force --threads 1 --mp3-bitrate 128 -o "$work/wav2mp3.1.mp3" "${wavs[@]}"

    run mp32mp3 tandrel-join "$work/mp32mp3.mp3" "$tj" -q --force --mp3-bitrate 128 -o "$work/mp32mp3.mp3" "${cbrs[@]}"
    run mp32mp3 ffmpeg "$work/mp32mp3.ff.mp3" ffmpeg -v error -f concat -safe 0 -i "$work/cbrs.txt" -c:a libmp3lame -b:a 128k "$work/mp32mp3.ff.mp3"
    run mp32mp3 sox "$work/mp32mp3.sox.mp3" sox "${cbrs[@]}" -C 128 "$work/mp32mp3.sox.mp3"
    run mp32mp3 "tandrel-join 1 worker" "$work/mp32mp3.1.mp3" "$tj" -q --force --threads 1 --mp3-bitrate 128 -o "$work/mp32mp3.1.mp3" "${cbrs[@]}"

    run mixed2mp3 tandrel-join "$work/mixed2mp3.mp3" "$tj" -q --force --mp3-bitrate 128 -o "$work/mixed2mp3.mp3" "${mixed[@]}"
    run mixed2mp3 ffmpeg "$work/mixed2mp3.ff.mp3" "${ff_mixed[@]}" -c:a libmp3lame -b:a 128k "$work/mixed2mp3.ff.mp3"
    run mixed2mp3 "tandrel-join 1 worker" "$work/mixed2mp3.1.mp3" "$tj" -q --force --threads 1 --mp3-bitrate 128 -o "$work/mixed2mp3.1.mp3" "${mixed[@]}"
}

# MP3 -> MP3 keeping frames: the frames of each file copied into one, all in the same folder.
# mp3wrap names its output OUT_MP3WRAP.mp3.
jobs_copy() {
    for kind in cbr vbr; do
        local -n mp3s=${kind}s
        local j=${kind}copy
        run "$j" "tandrel-join --mp3-copy" "$work/$j.mp3" "$tj" -q --force --json --mp3-copy -o "$work/$j.mp3" "${mp3s[@]}"
        run "$j" cat "$work/$j.cat.mp3" bash -c 'f=$1; shift; cat "$@" >"$f"' _ "$work/$j.cat.mp3" "${mp3s[@]}"
        # tandrel-join syncs its output to the disk before it takes its name; cat does not.
        run "$j" "cat + sync" "$work/$j.cats.mp3" bash -c 'f=$1; shift; cat "$@" >"$f" && sync "$f"' _ "$work/$j.cats.mp3" "${mp3s[@]}"
        run "$j" ffmpeg "$work/$j.ff.mp3" ffmpeg -v error -f concat -safe 0 -i "$work/${kind}s.txt" -c copy "$work/$j.ff.mp3"
        if command -v mp3wrap >/dev/null; then
            run "$j" mp3wrap "$work/$j.wrap_MP3WRAP.mp3" mp3wrap "$work/$j.wrap.mp3" "${mp3s[@]}"
        fi
    done
}
# The re-encoding join of the same files, in the rounds that encode MP3; the CBR one is the
# MP3 -> MP3 job's own when that job runs too.
reencode="tandrel-join re-encoding"
jobs_copy_encode() {
    local kind
    for kind in cbr vbr; do
        local -n mp3s=${kind}s
        if [ "$kind" = cbr ] && want encode; then continue; fi
        run "${kind}copy" "$reencode" "$work/${kind}copy.re.mp3" "$tj" -q --force --mp3-bitrate 128 -o "$work/${kind}copy.re.mp3" "${mp3s[@]}"
    done
}

# cores: each job with one worker and with the default (one worker per core), beside its peer.
# Whether the two outputs are the same bytes is counted per round in $job.same (1 or 0).
one="tandrel-join --threads 1"
dflt="tandrel-join default ($(nproc) workers)"
same() {
    local job=$1 a=$2 b=$3
    if [ -s "$a" ] && [ -s "$b" ] && cmp -s "$a" "$b"; then echo 1; else echo 0; fi >>"$work/$job.same"
}
cat_sync() { run "$1" "cat + sync -f" "$2" bash -c 'f=$1; shift; cat "$@" >"$f" && sync -f "$f"' _ "$2" "${@:3}"; }
jobs_cores() {
    local n where d j
    for n in 6 10; do
        for where in tmpfs disk; do
            j=c.wav$n.$where
            if [ "$where" = tmpfs ]; then d=$shm; set -- "${shm_wavs[@]:0:n}"; else d=$corpus; set -- "${wavs[@]:0:n}"; fi
            run "$j" "$one" "$d/cores.1.wav" "$tj" -q --force --threads 1 -o "$d/cores.1.wav" "$@"
            run "$j" "$dflt" "$d/cores.d.wav" "$tj" -q --force -o "$d/cores.d.wav" "$@"
            cat_sync "$j" "$d/cores.cat.wav" "$@"
            same "$j" "$d/cores.1.wav" "$d/cores.d.wav"
            rm -f "$d/cores.1.wav" "$d/cores.d.wav" "$d/cores.cat.wav"
        done
    done
    j=c.cbr2wav
    run "$j" "$one" "$work/$j.1.wav" "$tj" -q --force --threads 1 -o "$work/$j.1.wav" "${cbrs[@]}"
    run "$j" "$dflt" "$work/$j.d.wav" "$tj" -q --force -o "$work/$j.d.wav" "${cbrs[@]}"
    run "$j" ffmpeg "$work/$j.ff.wav" ffmpeg -v error -f concat -safe 0 -i "$work/cbrs.txt" "$work/$j.ff.wav"
    same "$j" "$work/$j.1.wav" "$work/$j.d.wav"
    j=c.mixed2wav
    run "$j" "$one" "$work/$j.1.wav" "$tj" -q --force --threads 1 -o "$work/$j.1.wav" "${mixed[@]}"
    run "$j" "$dflt" "$work/$j.d.wav" "$tj" -q --force -o "$work/$j.d.wav" "${mixed[@]}"
    run "$j" ffmpeg "$work/$j.ff.wav" "${ff_mixed[@]}" "$work/$j.ff.wav"
    same "$j" "$work/$j.1.wav" "$work/$j.d.wav"
    j=c.mixed2wma
    run "$j" "$one" "$work/$j.1.wma" "$tj" -q --force --threads 1 --wma-bitrate 96 -o "$work/$j.1.wma" "${mixed[@]}"
    run "$j" "$dflt" "$work/$j.d.wma" "$tj" -q --force --wma-bitrate 96 -o "$work/$j.d.wma" "${mixed[@]}"
    run "$j" ffmpeg "$work/$j.ff.wma" "${ff_mixed[@]}" -c:a wmav2 -b:a 96k "$work/$j.ff.wma"
    same "$j" "$work/$j.1.wma" "$work/$j.d.wma"
    rm -f "$work"/c.*.wav "$work"/c.*.wma
}
# The memory check: the first 1, 10, 100 and 1000 short inputs, with 2 workers.
jobs_memory() {
    local n
    for n in 1 10 100 1000; do
        run "m.mp3.$n" tandrel-join "$work/mem.wav" "$tj" -q --force --threads 2 -o "$work/mem.wav" "${short_mp3[@]:0:n}"
        run "m.mixed.$n" tandrel-join "$work/mem.wav" "$tj" -q --force --threads 2 -o "$work/mem.wav" "${short_mixed[@]:0:n}"
    done
    rm -f "$work/mem.wav"
}
# MP3 -> MP3 re-encoding. LAME's frames at the seams between the workers' pieces differ by
# design from one worker's, so the bytes are compared for the record only, and the decoding
# is compared by joining the same inputs into WAV both ways (the MP3 -> WAV row's check).
jobs_cores_encode() {
    local j=c.mp32mp3
    run "$j" "$one" "$work/$j.1.mp3" "$tj" -q --force --threads 1 --mp3-bitrate 128 -o "$work/$j.1.mp3" "${cbrs[@]}"
    run "$j" "$dflt" "$work/$j.d.mp3" "$tj" -q --force --mp3-bitrate 128 -o "$work/$j.d.mp3" "${cbrs[@]}"
    run "$j" ffmpeg "$work/$j.ff.mp3" ffmpeg -v error -f concat -safe 0 -i "$work/cbrs.txt" -c:a libmp3lame -b:a 128k "$work/$j.ff.mp3"
    same "$j" "$work/$j.1.mp3" "$work/$j.d.mp3"
    rm -f "$work"/c.*.mp3
}

declare -A expect
expect[wav2wav]=$(total "${wavs[@]}")
expect[wav2mp3]=${expect[wav2wav]}
expect[cbr2wav]=$(total "${cbrs[@]}")
expect[mp32mp3]=${expect[cbr2wav]}
expect[vbr2wav]=$(total "${vbrs[@]}")
expect[mixed2wav]=$(total "${mixed[@]}")
expect[mixed2wma]=${expect[mixed2wav]}
expect[mixed2mp3]=${expect[mixed2wav]}

# The last round's output of each tool is kept for the duration check.
check() {
    local job=$1 tool=$2 file
    file=$(cat "$work/$job.$tool.file" 2>/dev/null) || return 0
    local d
    d=$(duration "$file")
    echo "$d" >"$work/$job.$tool.dur"
}

for r in $(seq "$rounds"); do
    if want fast; then
        echo "round $r of $rounds: WAV, MP3 decoding, mixed" >&2
        jobs_fast
    fi
    if want copy; then
        echo "round $r of $rounds: MP3 -> MP3 keeping frames" >&2
        jobs_copy
    fi
    if want cores; then
        echo "round $r of $rounds: one worker and the default, and the memory check" >&2
        jobs_cores
        jobs_memory
    fi
done
for job in wav2wav cbr2wav vbr2wav mixed2wav mixed2wma; do
    for f in "$work/$job".*.file; do
        t=${f#"$work/$job."}
        t=${t%.file}
        check "$job" "$t"
    done
done
for r in $(seq "$encode_rounds"); do
    if want encode; then
        echo "round $r of $encode_rounds: MP3 encoding" >&2
        jobs_encode
    fi
    if want copy; then
        echo "round $r of $encode_rounds: MP3 -> MP3 re-encoding, beside keeping frames" >&2
        jobs_copy_encode
    fi
    if want cores; then
        echo "round $r of $encode_rounds: MP3 -> MP3 re-encoding with one worker and the default" >&2
        jobs_cores_encode
    fi
done
# Without the MP3 -> WAV rows, the decoding behind the MP3 -> MP3 rows is compared once here.
if want cores && [ "$encode_rounds" -gt 0 ] && [ ! -s "$work/c.cbr2wav.same" ]; then
    "$tj" -q --force --threads 1 -o "$work/dec.1.wav" "${cbrs[@]}"
    "$tj" -q --force -o "$work/dec.d.wav" "${cbrs[@]}"
    same c.cbr2wav "$work/dec.1.wav" "$work/dec.d.wav"
    rm -f "$work/dec.1.wav" "$work/dec.d.wav"
fi
if want copy && want encode && [ -s "$work/mp32mp3.tandrel-join" ]; then
    cp "$work/mp32mp3.tandrel-join" "$work/cbrcopy.$reencode"
    cp "$work/mp32mp3.tandrel-join.file" "$work/cbrcopy.$reencode.file"
fi
for job in wav2mp3 mp32mp3 mixed2mp3; do
    for f in "$work/$job".*.file; do
        t=${f#"$work/$job."}
        t=${t%.file}
        check "$job" "$t"
    done
done

# The copy job's outputs, decoded once the timing is over: ffmpeg drops the encoder delay and
# padding that a LAME or Xing frame names, so each input decodes to its gapless length.
samples() {
    local b
    b=$({ ffmpeg -v quiet -i "$1" -map 0:a:0 -ac 2 -c:a pcm_s16le -f s16le - 2>/dev/null || true; } | wc -c)
    echo $((b / 4))
}
if want copy; then
    echo "decoding the MP3 -> MP3 outputs for their seam gaps" >&2
    rate=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of default=nw=1:nk=1 "${cbrs[0]}")
    for kind in cbr vbr; do
        if [ "$kind" = cbr ]; then set -- "${cbrs[@]}"; else set -- "${vbrs[@]}"; fi
        echo $(($# - 1)) >"$work/${kind}copy.seams"
        sum=0
        for f in "$@"; do sum=$((sum + $(samples "$f"))); done
        echo "$sum" >"$work/${kind}copy.insum"
        for f in "$work/${kind}copy".*.file; do
            [ -e "$f" ] || continue
            t=${f#"$work/${kind}copy."}
            t=${t%.file}
            samples "$(cat "$f")" >"$work/${kind}copy.$t.samples"
        done
    done
fi

titles=(
    "wav2wav|10 WAV -> WAV, same format"
    "wav2mp3|10 WAV -> MP3 128 kbps"
    "mp32mp3|10 MP3 (CBR 128) -> MP3 128 kbps"
    "cbr2wav|10 MP3 (CBR 128) -> WAV"
    "vbr2wav|10 MP3 (VBR -V4) -> WAV"
    "mixed2wav|mixed set -> WAV (48000 Hz stereo 16-bit)"
    "mixed2wma|mixed set -> WMA 96 kbps"
    "mixed2mp3|mixed set -> MP3 128 kbps"
)
echo
echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC'); machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(awk '/MemTotal/ {printf "%.0f GB RAM", $2 / 1048576}' /proc/meminfo)"
echo "Rounds: $rounds ($encode_rounds for the MP3-encoding jobs); medians; page cache warm; sync before each run."
want fast || want encode || titles=()
[ ${#titles[@]} -eq 0 ] || echo
[ ${#titles[@]} -eq 0 ] || echo "| job | tool | wall s | CPU s | peak RSS MB | tandrel-join / tool (wall) | duration s (expected) |"
[ ${#titles[@]} -eq 0 ] || echo "|---|---|---:|---:|---:|---:|---|"
for entry in "${titles[@]}"; do
    job=${entry%%|*}
    title=${entry#*|}
    [ -s "$work/$job.tandrel-join" ] || continue
    tj_wall=$(cut -d' ' -f1 "$work/$job.tandrel-join" | median)
    for f in "$work/$job".*.file; do
        t=${f#"$work/$job."}
        t=${t%.file}
        [ "$t" = tandrel-join ] && order=0 || order=1
        echo "$order $t"
    done | sort -k1,1n -s | while read -r _ t; do
        wall=$(cut -d' ' -f1 "$work/$job.$t" | median)
        cpu=$(cut -d' ' -f2 "$work/$job.$t" | median)
        rss=$(cut -d' ' -f3 "$work/$job.$t" | median)
        ratio="-"
        if [ "$t" != tandrel-join ] && [ "$(echo "$wall > 0" | bc)" = 1 ]; then
            ratio=$(printf '%.2fx' "$(echo "$tj_wall / $wall" | bc -l)")
        fi
        dur=$(cat "$work/$job.$t.dur" 2>/dev/null || echo "?")
        note=""
        [ "$t" = cat ] && note=" (floor; one header)"
        printf '| %s | %s | %.2f | %.2f | %.1f | %s | %.2f (%.2f)%s |\n' "$title" "$t" "$wall" "$cpu" \
            "$(echo "$rss / 1024" | bc -l)" "$ratio" "$dur" "${expect[$job]}" "$note"
    done
done

# cores: the tables.
fmt() { printf "%.${2:-2}f" "$1"; }
ge() { [ "$(echo "$1 >= $2" | bc -l)" = 1 ]; }
verdict() { if [ "$(echo "$1" | bc -l)" = 1 ]; then echo met; else echo missed; fi; }
med3() { cut -d' ' -f"$3" "$work/$1.$2" | median; } # job, tool, field (1 wall, 2 CPU, 3 RSS KB)
cores_titles=(
    "c.wav6.tmpfs|6 WAV -> WAV, same format, on tmpfs|cat + sync -f"
    "c.wav6.disk|6 WAV -> WAV, same format, on the disk|cat + sync -f"
    "c.wav10.tmpfs|10 WAV -> WAV, same format, on tmpfs|cat + sync -f"
    "c.wav10.disk|10 WAV -> WAV, same format, on the disk|cat + sync -f"
    "c.cbr2wav|10 MP3 (CBR 128) -> WAV|ffmpeg"
    "c.mixed2wav|mixed set -> WAV (48000 Hz stereo 16-bit)|ffmpeg"
    "c.mp32mp3|10 MP3 (CBR 128) -> MP3 128 kbps, re-encoding|ffmpeg"
    "c.mixed2wma|mixed set -> WMA 96 kbps|ffmpeg"
)
if want cores; then
    echo
    echo "One worker and the default, beside the peer: rounds $rounds ($encode_rounds for MP3 -> MP3); medians;"
    echo "this machine is shared with other work, so only ratios between runs of the same rounds count."
    echo "tmpfs: inputs and output in /dev/shm; the disk: the corpus' folder ($(df --output=fstype "$corpus" | tail -1))."
    echo "Same output: cmp of the --threads 1 output with the default one, rounds alike / rounds."
    echo
    echo "| job | tool | wall s | CPU s | peak RSS MB | / peer (wall) | same output, 1 vs default |"
    echo "|---|---|---:|---:|---:|---:|---|"
    for entry in "${cores_titles[@]}"; do
        IFS='|' read -r job title peer <<<"$entry"
        [ -s "$work/$job.$dflt" ] || continue
        peer_wall=$(med3 "$job" "$peer" 1 2>/dev/null || echo 0)
        for t in "$peer" "$one" "$dflt"; do
            [ -s "$work/$job.$t" ] || continue
            wall=$(med3 "$job" "$t" 1)
            ratio="-" cmpnote=""
            if [ "$t" != "$peer" ] && ge "$peer_wall" 0.001; then ratio="$(fmt "$(echo "$wall / $peer_wall" | bc -l)")x"; fi
            if [ "$t" = "$dflt" ]; then
                n=$(wc -l <"$work/$job.same") k=$(grep -c 1 "$work/$job.same" || true)
                cmpnote="$([ "$k" = "$n" ] && echo identical || echo DIFFERENT) ($k/$n)"
                if [ "$job" = c.mp32mp3 ]; then
                    dn=$(wc -l <"$work/c.cbr2wav.same") dk=$(grep -c 1 "$work/c.cbr2wav.same" || true)
                    cmpnote="decoding $([ "$dk" = "$dn" ] && echo identical || echo DIFFERENT) ($dk/$dn, MP3 -> WAV both ways); MP3 bytes $([ "$k" = "$n" ] && echo identical || echo differ, by design) ($k/$n)"
                fi
            fi
            printf '| %s | %s | %.2f | %.2f | %.1f | %s | %s |\n' "$title" "$t" "$wall" "$(med3 "$job" "$t" 2)" \
                "$(echo "$(med3 "$job" "$t" 3) / 1024" | bc -l)" "$ratio" "$cmpnote"
        done
    done

    echo
    ratio_of() { echo "$(med3 "$1" "$dflt" 1) / $(med3 "$1" ffmpeg 1)" | bc -l; }
    for job in c.cbr2wav c.mixed2wav; do
        [ -s "$work/$job.$dflt" ] || continue
        r=$(ratio_of "$job")
        [ "$job" = c.cbr2wav ] && title="MP3 -> WAV" || title="mixed -> WAV"
        echo "$title: the default takes $(fmt "$r")x ffmpeg's wall time (target <= 0.55x: $(verdict "$r <= 0.55"))."
    done
    if [ -s "$work/c.mp32mp3.$dflt" ]; then
        wall=$(med3 c.mp32mp3 "$dflt" 1) cpu=$(med3 c.mp32mp3 "$dflt" 2)
        r=$(echo "$wall / ($cpu / 2)" | bc -l)
        echo "MP3 -> MP3: the default's wall $(fmt "$wall") s against its two-core floor (its CPU $(fmt "$cpu") s / 2 = $(fmt "$(echo "$cpu / 2" | bc -l)") s): $(fmt "$r")x (target within 10 %, <= 1.10x: $(verdict "$r <= 1.10")); $(fmt "$(ratio_of c.mp32mp3)")x ffmpeg's wall time."
    fi
    if [ -s "$work/c.mixed2wma.$dflt" ]; then
        r=$(ratio_of c.mixed2wma)
        echo "mixed -> WMA: the default takes $(fmt "$r")x ffmpeg's wall time (target < 1.0x: $(verdict "$r < 1.0"))."
    fi

    echo
    echo "Scaling: 1 and 2 workers measured (medians above); 4, 8 and 16 workers COMPUTED, not measured:"
    echo "the parallel fraction p solves T2 = T1 ((1 - p) + p / 2), so p = 2 (1 - T2 / T1), taken within 0..1;"
    echo "then T_n = T1 ((1 - p) + p / n) (Amdahl's law, on a machine with n free cores)."
    echo "A WAV -> WAV join at the target format starts no workers (the kernel copies): its T1 / T2 is noise."
    echo
    echo "| job | T1 s (measured) | T2 s (measured) | T1 / T2 | peak RSS MB, 1 / 2 workers | p | T4 s (computed) | T8 s (computed) | T16 s (computed) | T1 / T16 (computed) |"
    echo "|---|---:|---:|---:|---|---:|---:|---:|---:|---:|"
    for entry in "${cores_titles[@]}"; do
        IFS='|' read -r job title peer <<<"$entry"
        [ -s "$work/$job.$one" ] && [ -s "$work/$job.$dflt" ] || continue
        t1=$(med3 "$job" "$one" 1) t2=$(med3 "$job" "$dflt" 1)
        ge "$t1" 0.005 && ge "$t2" 0.005 || continue
        p=$(echo "p = 2 * (1 - $t2 / $t1); if (p < 0) p = 0; if (p > 1) p = 1; p" | bc -l)
        tn() { echo "$t1 * ((1 - $p) + $p / $1)" | bc -l; }
        printf '| %s | %.2f | %.2f | %.2fx | %.1f / %.1f | %.2f | %.2f | %.2f | %.2f | %.2fx |\n' "$title" "$t1" "$t2" \
            "$(echo "$t1 / $t2" | bc -l)" "$(echo "$(med3 "$job" "$one" 3) / 1024" | bc -l)" \
            "$(echo "$(med3 "$job" "$dflt" 3) / 1024" | bc -l)" "$p" "$(tn 4)" "$(tn 8)" "$(tn 16)" "$(echo "$t1 / $(tn 16)" | bc -l)"
    done

    if [ -s "$work/m.mp3.1.tandrel-join" ]; then
        echo
        echo "Memory check: the first 1, 10, 100 and 1000 one-second inputs joined into WAV with --threads 2;"
        echo "peak RSS is the largest of the $rounds rounds, wall the median. Mixed: 22050 Hz mono 8-bit WAV,"
        echo "44100 Hz stereo WAV, 48000 Hz MP3 and WMA in turn, joined at 48000 Hz stereo 16-bit (so the one input"
        echo "of the mixed row is a WAV at its own format: copied, without loading FFmpeg). Roughly flat: the peak"
        echo "of 1000 inputs at most 1.25x that of 10."
        echo
        echo "| inputs | MP3 -> WAV wall s | MP3 -> WAV peak RSS MB | mixed -> WAV wall s | mixed -> WAV peak RSS MB |"
        echo "|---:|---:|---:|---:|---:|"
        for n in 1 10 100 1000; do
            printf '| %s | %.2f | %.1f | %.2f | %.1f |\n' "$n" "$(med3 "m.mp3.$n" tandrel-join 1)" \
                "$(echo "$(cut -d' ' -f3 "$work/m.mp3.$n.tandrel-join" | sort -n | tail -1) / 1024" | bc -l)" \
                "$(med3 "m.mixed.$n" tandrel-join 1)" \
                "$(echo "$(cut -d' ' -f3 "$work/m.mixed.$n.tandrel-join" | sort -n | tail -1) / 1024" | bc -l)"
        done
        echo
        for kind in mp3 mixed; do
            peaks=$(for n in 1 10 100 1000; do cut -d' ' -f3 "$work/m.$kind.$n.tandrel-join" | sort -n | tail -1; done | sort -n)
            lo=$(echo "$peaks" | head -1) hi=$(echo "$peaks" | tail -1)
            p10=$(cut -d' ' -f3 "$work/m.$kind.10.tandrel-join" | sort -n | tail -1)
            p1000=$(cut -d' ' -f3 "$work/m.$kind.1000.tandrel-join" | sort -n | tail -1)
            [ "$kind" = mp3 ] && title="MP3 -> WAV" || title="mixed -> WAV"
            echo "$title: peak RSS $(fmt "$(echo "$lo / 1024" | bc -l)" 1)-$(fmt "$(echo "$hi / 1024" | bc -l)" 1) MB (all <= 64 MB: $(verdict "$hi <= 65536")); 1000 inputs / 10: $(fmt "$(echo "$p1000 / $p10" | bc -l)")x (roughly flat, <= 1.25x: $(verdict "$p1000 <= 1.25 * $p10"))."
        done
    fi
fi

want copy || exit 0
copy="tandrel-join --mp3-copy"
echo
echo "MP3 -> MP3 keeping frames; rounds: $rounds, for the re-encoding join: $encode_rounds$(want encode && echo ' (the CBR one: the MP3 -> MP3 job'"'"'s)'); medians."
echo "Seam gap: the output's decoded samples minus the sum of the inputs' decoded (gapless) samples,"
echo "per seam, in ms (+ is a gap, - an overlap); shift: mean |shift_samples| of --mp3-copy's seams (--json)."
echo
echo "| MP3 inputs | tool | wall s | CPU s | peak RSS MB | --mp3-copy / tool (wall) | decoded s (inputs' sum) | seam gap ms | mean shift |"
echo "|---|---|---:|---:|---:|---:|---|---:|---|"
declare -A ratio_to
for kind in cbr vbr; do
    j=${kind}copy
    [ -s "$work/$j.$copy" ] || continue
    [ "$kind" = cbr ] && title="10 MP3 (CBR 128)" || title="10 MP3 (VBR -V4)"
    copy_wall=$(cut -d' ' -f1 "$work/$j.$copy" | median)
    seams=$(cat "$work/$j.seams")
    insum=$(cat "$work/$j.insum")
    for t in "$copy" cat "cat + sync" ffmpeg mp3wrap "$reencode"; do
        [ -s "$work/$j.$t" ] || continue
        wall=$(cut -d' ' -f1 "$work/$j.$t" | median)
        cpu=$(cut -d' ' -f2 "$work/$j.$t" | median)
        rss=$(cut -d' ' -f3 "$work/$j.$t" | median)
        ratio="-"
        if [ "$t" != "$copy" ] && [ "$(echo "$wall > 0" | bc)" = 1 ]; then
            ratio=$(printf '%.3fx' "$(echo "$copy_wall / $wall" | bc -l)")
            ratio_to[$kind.$t]=$(echo "$copy_wall / $wall" | bc -l)
        fi
        n=$(cat "$work/$j.$t.samples" 2>/dev/null || echo 0)
        gap=$(printf '%+.2f' "$(echo "($n - $insum) / $seams * 1000 / $rate" | bc -l)")
        shift_note="-"
        if [ "$t" = "$copy" ]; then
            out="$work/$j.$t.stdout"
            shift_note=$(grep -o '"shift_samples": *-\?[0-9.eE+]*' "$out" | sed 's/.*: *//' |
                awk -v r="$rate" '{a += ($1 < 0 ? -$1 : $1); s += $1; n++}
                    END {if (n) printf "%.1f samples = %.2f ms (signed mean %+.1f)", a / n, a / n * 1000 / r, s / n; else print "?"}')
            grep -q '"frames_kept": *true' "$out" || shift_note="frames not kept!"
            json_frames=$(grep '"duration_frames"' "$out" | tail -1 | grep -o '[0-9]*')
            [ "$json_frames" = "$n" ] || shift_note+="; --json duration_frames $json_frames"
        fi
        note=""
        [ "$t" = cat ] && note=" (floor; first file's header)"
        [ "$t" = "cat + sync" ] && note=" (first file's header)"
        printf '| %s | %s | %.3f | %.3f | %.1f | %s | %.3f (%.3f)%s | %s | %s |\n' "$title" "$t" "$wall" "$cpu" \
            "$(echo "$rss / 1024" | bc -l)" "$ratio" "$(echo "$n / $rate" | bc -l)" "$(echo "$insum / $rate" | bc -l)" \
            "$note" "$gap" "$shift_note"
    done
done
echo
for kind in cbr vbr; do
    [ "$kind" = cbr ] && title="CBR" || title="VBR"
    if [ -n "${ratio_to[$kind.cat]:-}" ]; then
        r=${ratio_to[$kind.cat]}
        printf '%s: --mp3-copy takes %.2fx the wall time of cat (target <= 1.5x: %s)' "$title" "$r" \
            "$([ "$(echo "$r <= 1.5" | bc)" = 1 ] && echo met || echo missed)"
        if [ -n "${ratio_to[$kind.cat + sync]:-}" ]; then
            r=${ratio_to[$kind.cat + sync]}
            printf ', %.2fx that of cat + sync, which also syncs its output (1.5x: %s)' "$r" \
                "$([ "$(echo "$r <= 1.5" | bc)" = 1 ] && echo met || echo missed)"
        fi
        if [ -n "${ratio_to[$kind.$reencode]:-}" ]; then
            r=$(echo "1 / ${ratio_to[$kind.$reencode]}" | bc -l)
            printf '; it is %.1fx faster than the re-encoding join (target >= 20x: %s)' "$r" \
                "$([ "$(echo "$r >= 20" | bc)" = 1 ] && echo met || echo missed)"
        fi
        echo .
    fi
done
