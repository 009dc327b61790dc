#!/bin/sh
# instructions.sh: instructions per second of audio that quor's frame
# decoder and libmad spend on each stream, counted by callgrind (stable on a
# busy machine, unlike times). Each FILE is repeated to a minute of audio as
# in bench-layer3; only the decoding calls are counted.
#
# Usage: tools/bench_layer3/instructions.sh BUILD_DIR FILE...
set -eu
if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR FILE..." >&2
    exit 2
fi
bench="$1/tools/bench_layer3/bench-layer3"
if [ ! -x "$bench" ]; then
    echo "$0: no benchmark at '$bench'; build the bench_layer3 target" >&2
    exit 1
fi
shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# Instructions callgrind collects in the named functions while one decoder
# of the benchmark runs a single round on FILE.
count() { # DECODER FILE FUNCTION...
    decoder=$1
    file=$2
    shift 2
    toggles=""
    for function in "$@"; do
        toggles="$toggles --toggle-collect=$function"
    done
    # shellcheck disable=SC2086
    valgrind --tool=callgrind --callgrind-out-file=/dev/null $toggles \
        "$bench" --only "$decoder" 1 "$file" >"$out" 2>&1
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$out"
}

printf '%-36s %12s %12s %8s\n' stream "quor M/s" "libmad M/s" ratio
for file in "$@"; do
    quor=$(count quor "$file" 'tesk::quor::decode_frame(*')
    seconds=$(sed -n 's/.* \([0-9.]*\) s  quor .*/\1/p' "$out")
    mad=$(count mad "$file" mad_frame_decode mad_synth_frame)
    if [ -z "$quor" ] || [ -z "$mad" ] || [ -z "$seconds" ]; then
        echo "$0: callgrind gave no count for '$file':" >&2
        cat "$out" >&2
        exit 1
    fi
    awk -v name="$(basename "$file")" -v q="$quor" -v m="$mad" -v s="$seconds" \
        'BEGIN { printf "%-36s %12.2f %12.2f %8.2f\n", name, q / s / 1e6, m / s / 1e6, q / m }'
done
