#!/usr/bin/env bash
# Times the tools on a large generated recording against the speed of the disk.
#
#   bench/run.sh [SIZE_MB] [RUNS]          one size (default 1500 MB, 5 runs): every tool
#   bench/run.sh --scaling MB MB MB...     listing and filter at several sizes: time per GB and
#                                           peak memory, to show linear time and flat memory
#
# Each figure is the median of RUNS warm-cache runs, printed with its ratio to
# `cat in.ts >/dev/null` (the read limit) and `cat in.ts > copy.ts` (the read and write limit),
# and the peak resident memory of one run. The recording and the outputs live in
# $PIDSIFT_BENCH_DIR (default /tmp/pidsift-bench); they are removed at the end unless
# PIDSIFT_BENCH_KEEP=1.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PIDSIFT_BENCH_BUILD:-$root/build-bench}
work=${PIDSIFT_BENCH_DIR:-/tmp/pidsift-bench}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIDSIFT_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target pidsift pidsift-dump pidsift-split pidsift-check make_recording bench_decode >/dev/null
mkdir -p "$work"
cleanup() { [ "${PIDSIFT_BENCH_KEEP:-0}" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT

# make_input MB: the recording of that size, made once.
make_input() {
    local file="$work/in_$1.ts"
    [ -f "$file" ] || "$build/make_recording" "$file" "$1"
    echo "$file"
}

# measure RUNS COMMAND: prints "median_seconds peak_kb". Outputs in $work/out are removed and
# dirty pages written back before every run, so that no run pays for an earlier one.
measure() {
    local runs=$1
    shift
    local times=() peak=0
    for ((i = 0; i < runs; i++)); do
        rm -rf "$work/out" && mkdir -p "$work/out"
        sync
        local start end
        start=$(date +%s%N)
        /usr/bin/time -f '%M' -o "$work/rss" bash -c "$*" >/dev/null 2>&1
        end=$(date +%s%N)
        times+=("$(( (end - start) / 1000 ))")
        local rss
        rss=$(tail -n 1 "$work/rss")
        (( rss > peak )) && peak=$rss
    done
    local median
    median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1e6 }')
    echo "$median $peak"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

single_size() {
    local megabytes=${1:-1500} runs=${2:-5}
    local input
    input=$(make_input "$megabytes")
    local bytes
    bytes=$(stat -c %s "$input")
    cat "$input" >/dev/null
    cat "$input" >/dev/null
    echo "recording: $input, $bytes bytes ($((bytes / 188)) packets), median of $runs warm-cache runs"
    local read_limit copy_limit read_peak copy_peak
    read -r read_limit read_peak < <(measure "$runs" "cat '$input' >/dev/null")
    read -r copy_limit copy_peak < <(measure "$runs" "cat '$input' > '$work/out/copy.ts'")
    printf '%-44s %9s %10s %10s %10s\n' command seconds "x read" "x copy" "peak MiB"
    row() {
        printf '%-44s %9.3f %10s %10s %10.1f\n' "$1" "$2" "$(ratio "$2" "$read_limit")" \
            "$(ratio "$2" "$copy_limit")" "$(awk -v k="$3" 'BEGIN { print k / 1024 }')"
    }
    report() {
        local name=$1
        shift
        local seconds peak
        read -r seconds peak < <(measure "$runs" "$@")
        row "$name" "$seconds" "$peak"
    }
    row "cat in.ts >/dev/null (read limit)" "$read_limit" "$read_peak"
    row "cat in.ts > copy.ts (read+write limit)" "$copy_limit" "$copy_peak"
    # cat copies file to file inside the kernel (copy_file_range); a tool that looks at the
    # packets must bring them through user space, as dd does.
    report "dd bs=128K (copy through user space)" "dd if='$input' of='$work/out/copy.ts' bs=128K status=none"
    report "pidsift in.ts (listing)" "'$build/pidsift' '$input'"
    report "pidsift in.ts 1f0 out.ts (filter)" "'$build/pidsift' '$input' 1f0 '$work/out/out.ts'"
    report "pidsift-dump in.ts (PAT, CAT, PMT, PIDs)" "'$build/pidsift-dump' '$input'"
    report "pidsift-dump --pids in.ts" "'$build/pidsift-dump' --pids '$input'"
    report "pidsift-split programs in.ts" "cp -s '$input' '$work/out/in.ts' && '$build/pidsift-split' programs '$work/out/in.ts'"
    # Exit status 1 says the recording has errors (the generated clock runs slower than the PSI
    # repeats): a finished check all the same.
    report "pidsift-check in.ts (report)" "'$build/pidsift-check' '$input'; [ \$? -le 1 ]"
    if command -v ffmpeg >/dev/null; then
        report "ffmpeg -map 0:p:1024 -c copy" "ffmpeg -loglevel error -i '$input' -map 0:p:1024 -c copy -f mpegts '$work/out/ff.ts'"
    fi
    local written
    "$build/pidsift" "$input" 1f0 "$work/out/share.ts" 2>/dev/null
    written=$(stat -c %s "$work/out/share.ts")
    echo "the filtered program holds $(ratio "$((written * 100))" "$bytes") % of the recording"
    echo
    echo "micro-benchmarks (ns per packet or section):"
    "$build/bench_decode" --benchmark_min_time=0.2 2>/dev/null | grep -E '^(BM_|Benchmark|-)'
}

scaling() {
    printf '%-8s %-10s %9s %12s %10s\n' MB command seconds "s per GB" "peak MiB"
    for megabytes in "$@"; do
        local input
        input=$(make_input "$megabytes")
        cat "$input" >/dev/null
        for mode in listing filter; do
            local command="'$build/pidsift' '$input'"
            [ "$mode" = filter ] && command="$command 1f0 '$work/out/out.ts'"
            local seconds peak
            read -r seconds peak < <(measure 3 "$command")
            printf '%-8s %-10s %9.3f %12.3f %10.1f\n' "$megabytes" "$mode" "$seconds" \
                "$(awk -v s="$seconds" -v m="$megabytes" 'BEGIN { print s * 1000 / m }')" \
                "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')"
        done
        rm -f "$input"
    done
}

if [ "${1:-}" = --scaling ]; then
    shift
    [ $# -gt 0 ] || set -- 250 1000 4000
    scaling "$@"
else
    single_size "$@"
fi
