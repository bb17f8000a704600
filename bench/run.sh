#!/usr/bin/env bash
# Times the tools on a large four-program recording against the speed of the disk and against
# general-purpose peers (ffmpeg/ffprobe and Debian's tstools) where they are installed.
#
#   bench/run.sh [SIZE_MB] [RUNS]          one size (default 1500 MB, 5 runs): every tool, one table
#   bench/run.sh --scaling MB MB MB...     listing and filter at several sizes: time per GB and
#                                           peak memory, to show linear time and flat memory
#
# Each figure is the median of RUNS warm-cache runs, printed with its ratio to
# `cat in.ts >/dev/null` (the read limit) and `cat in.ts > copy.ts` (the read and write limit),
# and the peak resident memory of one run; a row with a target says whether it was met.
#
# The recording: with ffmpeg installed, four programs of encoded test pictures and tones (so that
# the peers, which look into the streams, take it), encoded once for a few seconds and looped
# without re-encoding to the size asked, then given the programme guide and the clock that
# broadcasts carry (the EIT present/following of every program ten times a second and a TOT every
# 5 s, in its null packets: bench/make_recording --add-guide); without ffmpeg, the synthetic
# recording of bench/make_recording, whose payloads are not decodable audio or video.
#
# Environment:
#   PIDSIFT_BENCH_DIR        work folder (default /tmp/pidsift-bench): recordings and outputs
#   PIDSIFT_BENCH_KEEP=1     keep the work folder, so that the next run reuses its recordings
#   PIDSIFT_BENCH_BUILD      Release build tree (default build-bench/)
#   PIDSIFT_BENCH_NO_PEERS=1 act as if neither ffmpeg/ffprobe nor tstools were installed
#   PIDSIFT_BENCH_RECORDING  lavfi (needs ffmpeg) or synthetic; default lavfi when ffmpeg exists
#
# A missing peer is skipped and a failing one is reported with its exit status: neither stops
# the script.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PIDSIFT_BENCH_BUILD:-$root/build-bench}
work=${PIDSIFT_BENCH_DIR:-/tmp/pidsift-bench}

# The program that the filter job copies, by its PMT PID: in both recordings the program that
# holds about a third of the packets.
filter_pmt_pid=0x01F0

# Targets, as the largest ratio allowed to `cat in.ts >/dev/null` (split: to the dd copy).
target_filter=1.35
target_listing=1.05
target_dump=1.20
target_split=1.00
target_check=1.30

# build_tools: the Release tree, quietly (its log is shown only when the build fails).
build_tools() {
    mkdir -p "$work"
    if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIDSIFT_BENCH=ON &&
        cmake --build "$build" -j2 --target pidsift pidsift-dump pidsift-split pidsift-check \
            make_recording bench_decode; } >"$work/build.log" 2>&1; then
        cat "$work/build.log" >&2
        exit 1
    fi
}

cleanup() { [ "${PIDSIFT_BENCH_KEEP:-0}" = 1 ] || rm -rf "$work"; }

# ---------------------------------------------------------------------------------------------
# Peers

# find_peers: sets the peer commands (empty when absent) and prints one line per peer skipped.
# Debian installs tstools' filter as tsfilter.tstools (another package owns the name tsfilter).
find_peers() {
    ffmpeg_cmd='' ffprobe_cmd='' tsinfo_cmd='' tsfilter_cmd='' tsreport_cmd=''
    if [ "${PIDSIFT_BENCH_NO_PEERS:-0}" = 1 ]; then
        echo "peers: PIDSIFT_BENCH_NO_PEERS=1, ffmpeg/ffprobe and tstools skipped"
        return
    fi
    ffmpeg_cmd=$(command -v ffmpeg || true)
    ffprobe_cmd=$(command -v ffprobe || true)
    tsinfo_cmd=$(command -v tsinfo || true)
    tsreport_cmd=$(command -v tsreport || true)
    tsfilter_cmd=$(command -v tsfilter.tstools || true)
    if [ -z "$tsfilter_cmd" ] && tsfilter -h </dev/null 2>&1 | grep -q 'TS tools'; then
        tsfilter_cmd=$(command -v tsfilter)
    fi
    [ -n "$ffmpeg_cmd" ] || echo "peer ffmpeg: not installed, skipped (apt-get install ffmpeg)"
    [ -n "$ffprobe_cmd" ] || echo "peer ffprobe: not installed, skipped (apt-get install ffmpeg)"
    [ -n "$tsinfo_cmd" ] || echo "peer tsinfo: not installed, skipped (apt-get install tstools)"
    [ -n "$tsfilter_cmd" ] || echo "peer tsfilter: not installed, skipped (apt-get install tstools)"
    [ -n "$tsreport_cmd" ] || echo "peer tsreport: not installed, skipped (apt-get install tstools)"
    return 0
}

# ---------------------------------------------------------------------------------------------
# The recording

# The encoded recording's programs: program number and video bitrate. Unequal rates, so that
# the first (PMT PID 0x01F0) holds about 31 % of the packets and the four together about 91 %
# of the bytes; the multiplex is padded to a constant rate with null packets, as broadcasts are.
lavfi_programs=("1024 5800k" "1025 4600k" "1026 3600k" "1032 2600k")
lavfi_muxrate=20400k
lavfi_seconds=6
# Changing the recipe above: change this too, so that cached recordings are not reused.
lavfi_recipe=lavfi2

# program_options: the -program options that put stream pairs (video, audio) into programs;
# needed again when looping, since a copy without them makes a single program.
program_options() {
    local i=0 program
    for program in "${lavfi_programs[@]}"; do
        printf '%s\n' -program "program_num=${program% *}:title=P${program% *}:st=$((2 * i)):st=$((2 * i + 1))"
        i=$((i + 1))
    done
}

# make_segment: the few encoded seconds that every lavfi recording loops, made once. MPEG-2
# video at a constant bitrate (testsrc2 moves, so the rate holds) and MP2 audio (sine tones).
make_segment() {
    local segment="$work/segment_$lavfi_recipe.ts"
    if [ ! -f "$segment" ]; then
        local inputs=() maps=() i=0 program rate programs
        for program in "${lavfi_programs[@]}"; do
            rate=${program#* }
            inputs+=(-f lavfi -i "testsrc2=size=720x576:rate=25:duration=$lavfi_seconds"
                -f lavfi -i "sine=frequency=$((440 + 110 * i)):sample_rate=48000:duration=$lavfi_seconds")
            maps+=(-map "$((2 * i)):v" -map "$((2 * i + 1)):a" "-b:v:$i" "$rate" "-minrate:v:$i" "$rate"
                "-maxrate:v:$i" "$rate" "-bufsize:v:$i" 1835k)
            i=$((i + 1))
        done
        mapfile -t programs < <(program_options)
        "$ffmpeg_cmd" -nostdin -y -loglevel error "${inputs[@]}" "${maps[@]}" "${programs[@]}" \
            -c:v mpeg2video -g 12 -c:a mp2 -b:a 192k -f mpegts -muxrate "$lavfi_muxrate" \
            -mpegts_pmt_start_pid 0x1f0 "$segment.part" || return 1
        mv "$segment.part" "$segment"
    fi
    echo "$segment"
}

# loop_segment SEGMENT FILE MB: the segment copied over and over (-c copy, timestamps running
# on) until FILE holds MB megabytes.
loop_segment() {
    local programs
    mapfile -t programs < <(program_options)
    "$ffmpeg_cmd" -nostdin -y -loglevel error -stream_loop -1 -i "$1" -map 0 -c copy "${programs[@]}" \
        -f mpegts -muxrate "$lavfi_muxrate" -mpegts_pmt_start_pid 0x1f0 -fs "$(($3 * 1000000))" "$2.part" ||
        return 1
    mv "$2.part" "$2"
}

# add_guide LOOPED FILE: LOOPED with the EIT present/following of every program and a TOT in
# null packets, as FILE (LOOPED removed): what the encoder leaves out of a broadcast.
add_guide() {
    "$build/make_recording" --add-guide "$1" "$2.part" "$lavfi_muxrate" || return 1
    rm -f "$1"
    mv "$2.part" "$2"
}

# choose_recording: sets recording to lavfi or synthetic and says why.
choose_recording() {
    recording=${PIDSIFT_BENCH_RECORDING:-}
    if [ -z "$recording" ]; then
        recording=synthetic
        [ -n "$ffmpeg_cmd" ] && recording=lavfi
    fi
    if [ "$recording" = lavfi ] && [ -z "$ffmpeg_cmd" ]; then
        echo "recording: lavfi asked for but ffmpeg is not there, synthetic instead"
        recording=synthetic
    fi
    case $recording in
    lavfi) echo "recording: ffmpeg test sources, 4 programs of MPEG-2 video + MP2 audio, ${lavfi_seconds} s looped with -c copy, EIT p/f and TOT in its padding" ;;
    synthetic) echo "recording: bench/make_recording (synthetic, payloads not decodable; ffmpeg not used)" ;;
    *)
        echo "PIDSIFT_BENCH_RECORDING must be lavfi or synthetic" >&2
        exit 2
        ;;
    esac
}

# make_input MB: sets input to the recording of that size, made once. An encoded recording that
# cannot be made (an ffmpeg without the encoders) falls back to the synthetic one, for good.
make_input() {
    if [ "$recording" = lavfi ]; then
        input="$work/in_${lavfi_recipe}_$1.ts"
        [ -f "$input" ] && return
        local segment
        if segment=$(make_segment) && loop_segment "$segment" "$input.looped" "$1" &&
            add_guide "$input.looped" "$input"; then
            return
        fi
        rm -f "$input.looped"
        echo "recording: ffmpeg could not make it, synthetic instead"
        recording=synthetic
    fi
    input="$work/in_synthetic_$1.ts"
    [ -f "$input" ] || "$build/make_recording" "$input" "$1"
}

# program_pids FILE PMT_PID: "program_number pid pid..." of the program whose PMT is on PMT_PID,
# from its first PMT: the PMT, PCR, ECM and stream PIDs, which the tstools filter must be given.
# The whole dump is read (no early exit), so that pidsift-dump never meets a closed pipe.
program_pids() {
    "$build/pidsift-dump" --pmt "$1" | awk -v header="$(printf 'PID:0x%04X(' "$2")" '
        done { next }
        /^========/ { if (found) done = 1; on = 0; next }
        index($0, header) { on = 1; pids = substr(header, 5, 6); next }
        on && /^\[PMT\]/ { found = 1 }
        on && found {
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^TSI:/) number = substr($i, 5)
                if ($i ~ /^(PCRPID|EPID|CAPID):/) {
                    split($i, kv, ":")
                    if (index(pids, kv[2]) == 0) pids = pids " " kv[2]
                }
            }
        }
        END { print number, pids }'
}

# ---------------------------------------------------------------------------------------------
# Timing

# measure RUNS COMMAND: prints "median_seconds peak_kb status". Outputs in $work/out are removed
# and dirty pages written back before every run, so that no run pays for an earlier one. The
# harness's own cost (harness_us) is taken off each time. A command that fails stops the runs:
# "- - STATUS", with its standard error kept in $work/err.
measure() {
    local runs=$1
    shift
    local times=() peak=0 i
    for ((i = 0; i < runs; i++)); do
        rm -rf "$work/out" && mkdir -p "$work/out"
        sync
        local start end status=0
        start=$(date +%s%N)
        /usr/bin/time -f '%M' -o "$work/rss" bash -c "$*" >/dev/null 2>"$work/err" || status=$?
        end=$(date +%s%N)
        if [ "$status" != 0 ]; then
            echo "- - $status"
            return
        fi
        times+=("$(((end - start) / 1000 - harness_us))")
        local rss
        rss=$(tail -n 1 "$work/rss")
        ((rss > peak)) && peak=$rss
    done
    local median
    median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1e6 }')
    echo "$median $peak 0"
}

# measure_harness: sets harness_us to what starting bash under GNU time costs (some 8 ms), a
# third of `cat` on 100 MB: left in, it would draw every ratio towards 1 on small recordings
# and make time per GB fall with the size.
harness_us=0
measure_harness() {
    local seconds
    read -r seconds _ < <(measure 11 true)
    harness_us=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 1e6 }')
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# peer NAME PROGRAM ARGUMENTS: the measurement of PROGRAM ARGUMENTS, or "skipped" when PROGRAM is
# empty (the peer is not installed). A failure is noted, with the peer's first line of standard
# error, for the notes under the table.
peer() {
    local name=$1 program=$2 arguments=$3
    if [ -z "$program" ]; then
        echo "skipped"
        return
    fi
    local result
    result=$(measure "$runs" "'$program' $arguments")
    if [ "${result%% *}" = - ]; then
        echo "peer $name failed on in.ts with exit status ${result##* }: $(head -n 1 "$work/err")" >>"$work/notes"
    fi
    echo "$result"
}

# ---------------------------------------------------------------------------------------------
# The single-size table

# cell "SECONDS PEAK STATUS" | skipped | -: a peer's seconds, ratio to the read limit and peak.
cell() {
    local seconds peak status
    read -r seconds peak status <<<"$1"
    case $seconds in
    -)
        if [ -n "${status:-}" ]; then
            printf ' %-25s' "failed (exit $status)"
        else
            printf ' %8s %6s %9s' - - -
        fi
        ;;
    skipped) printf ' %8s %6s %9s' skipped - - ;;
    *) printf ' %8.3f %6s %9s' "$seconds" "$(ratio "$seconds" "$read_limit")" "$(mib "$peak")" ;;
    esac
}

# row JOB "SECONDS PEAK STATUS" TARGET BASE TSTOOLS FFMPEG: one line of the table. TARGET is the
# largest ratio allowed to BASE (the read limit or the dd copy), or - when the job has none.
row() {
    local job=$1 seconds peak status target=$3 base=${4:-} tstools=${5:--} ffmpeg=${6:--}
    read -r seconds peak status <<<"$2"
    local result=''
    if [ "$seconds" = - ]; then
        printf '%-42s %-33s' "$job" "failed (exit $status): $(head -n 1 "$work/err")"
        missed=$((missed + 1))
    else
        printf '%-42s %8.3f %6s %6s %9s' "$job" "$seconds" "$(ratio "$seconds" "$read_limit")" \
            "$(ratio "$seconds" "$copy_limit")" "$(mib "$peak")"
        if [ "$target" != - ]; then
            local base_seconds=$read_limit base_name=read
            [ "$base" = dd ] && base_seconds=$dd_copy base_name=dd
            local achieved
            achieved=$(ratio "$seconds" "$base_seconds")
            if awk -v a="$achieved" -v t="$target" 'BEGIN { exit !(a <= t) }'; then
                result=met
            else
                result=missed
                missed=$((missed + 1))
            fi
            [ "$base" = dd ] && result="$result ($achieved x dd)"
            target="<= $target x $base_name"
        fi
    fi
    printf ' | %-14s %-18s |%s |%s\n' "$target" "$result" "$(cell "$tstools")" "$(cell "$ffmpeg")"
}

header() {
    printf '%-42s %8s %6s %6s %9s | %-14s %-18s | %-25s | %-25s\n' '' pidsift '' '' '' '' '' \
        'tstools' 'ffmpeg / ffprobe'
    printf '%-42s %8s %6s %6s %9s | %-14s %-18s | %8s %6s %9s | %8s %6s %9s\n' job seconds \
        'x read' 'x copy' 'peak MiB' target result seconds 'x read' 'peak MiB' seconds 'x read' 'peak MiB'
}

# peer_commands PIDS PROGRAM_NUMBER PACKETS: what each peer was asked to do.
peer_commands() {
    echo "peer commands (in.ts and out.ts stand for the files above):"
    echo "  filter   tsfilter -i in.ts -o out.ts $1 (the program's PIDs given by hand);"
    echo "           ffmpeg -i in.ts -map 0:p:$2 -c copy -f mpegts out.ts"
    echo "  listing  tsinfo -max $3 in.ts (every packet: by default it reads 10000);"
    echo "           ffprobe -count_packets -show_programs in.ts (every packet: by default it reads the head)"
    echo "  dump     tsreport -v in.ts (a line per packet, the PAT and PMTs decoded at each repeat: like"
    echo "           pidsift-dump --packets --pat --cat --pmt, more than the tables alone)"
    echo "  --pids   tsreport in.ts (the packets counted)"
}

single_size() {
    local megabytes=${1:-1500}
    runs=${2:-5}
    make_input "$megabytes"
    local bytes packets
    bytes=$(stat -c %s "$input")
    packets=$((bytes / 188))
    cat "$input" >/dev/null
    cat "$input" >/dev/null

    # What the filter copies: the program's number and PIDs, its share of the packets, and the
    # programs listed, so that the table says what it measured.
    local listed pids number share
    listed=$("$build/pidsift" "$input" 2>&1 | grep -c '^ProgramNumber' || true)
    read -r number pids <<<"$(program_pids "$input" "$filter_pmt_pid")"
    "$build/pidsift" "$input" "$filter_pmt_pid" "$work/share.ts" 2>/dev/null
    share=$(ratio "$(($(stat -c %s "$work/share.ts") * 100))" "$bytes")
    rm -f "$work/share.ts"
    echo "input: $input, $bytes bytes ($packets packets), median of $runs warm-cache runs," \
        "less $((harness_us / 1000)) ms of harness each"
    echo "pidsift lists $listed programs$([ "$listed" = 4 ] || echo ' (4 expected: look at the recording)');" \
        "the filter copies program $number (PMT PID $filter_pmt_pid, PIDs $pids): $share % of the packets"
    : >"$work/notes"

    local read_limit copy_limit dd_copy read_result copy_result dd_result missed=0
    read_result=$(measure "$runs" "cat '$input' >/dev/null")
    copy_result=$(measure "$runs" "cat '$input' > '$work/out/copy.ts'")
    # cat copies file to file inside the kernel (copy_file_range); a tool that looks at the
    # packets must bring them through user space, as dd does.
    dd_result=$(measure "$runs" "dd if='$input' of='$work/out/copy.ts' bs=128K status=none")
    read_limit=${read_result%% *} copy_limit=${copy_result%% *} dd_copy=${dd_result%% *}

    # The peers, each measured once (tsreport -v serves two rows). tsinfo reads only its first
    # 10000 packets unless told, and ffprobe only the head of the file: both are made to read
    # all of it, as the listing of the last PAT must.
    local tsinfo_result ffprobe_result tsfilter_result ffmpeg_result tsreport_result tsreport_v_result
    tsinfo_result=$(peer tsinfo "$tsinfo_cmd" "-max $packets '$input'")
    ffprobe_result=$(peer ffprobe "$ffprobe_cmd" "-v error -count_packets -show_programs '$input'")
    tsfilter_result=$(peer tsfilter "$tsfilter_cmd" "-i '$input' -o '$work/out/tsfilter.ts' $pids")
    ffmpeg_result=$(peer ffmpeg "$ffmpeg_cmd" \
        "-nostdin -loglevel error -i '$input' -map 0:p:$number -c copy -f mpegts '$work/out/ffmpeg.ts'")
    tsreport_v_result=$(peer "tsreport -v" "$tsreport_cmd" "-v '$input'")
    tsreport_result=$(peer tsreport "$tsreport_cmd" "'$input'")

    header
    row "cat in.ts >/dev/null (read limit)" "$read_result" -
    row "cat in.ts > copy.ts (read+write limit)" "$copy_result" -
    row "dd bs=128K (copy through user space)" "$dd_result" -
    row "pidsift in.ts $filter_pmt_pid out.ts (filter)" \
        "$(measure "$runs" "'$build/pidsift' '$input' $filter_pmt_pid '$work/out/out.ts'")" \
        "$target_filter" read "$tsfilter_result" "$ffmpeg_result"
    row "pidsift in.ts (listing)" "$(measure "$runs" "'$build/pidsift' '$input'")" \
        "$target_listing" read "$tsinfo_result" "$ffprobe_result"
    row "pidsift-dump in.ts (PAT, CAT, PMT, PIDs)" "$(measure "$runs" "'$build/pidsift-dump' '$input'")" \
        "$target_dump" read "$tsreport_v_result"
    row "pidsift-dump --packets --pat --cat --pmt" \
        "$(measure "$runs" "'$build/pidsift-dump' --packets --pat --cat --pmt '$input'")" - '' "$tsreport_v_result"
    row "pidsift-dump --pids in.ts" "$(measure "$runs" "'$build/pidsift-dump' --pids '$input'")" - '' \
        "$tsreport_result"
    row "pidsift-split programs in.ts -d out" \
        "$(measure "$runs" "'$build/pidsift-split' programs '$input' -d '$work/out'")" "$target_split" dd
    local split_bytes
    split_bytes=$(find "$work/out" -name '*.ts' -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }')
    # Exit status 1 says the recording has errors (the synthetic clock runs slower than the PSI
    # repeats): a finished check all the same.
    row "pidsift-check in.ts (report)" "$(measure "$runs" "'$build/pidsift-check' '$input'; [ \$? -le 1 ]")" \
        "$target_check" read
    echo
    echo "targets: $missed missed; split wrote $(ratio "$((split_bytes * 100))" "$bytes") % of the bytes"
    if [ -z "$ffmpeg_cmd$ffprobe_cmd$tsinfo_cmd$tsfilter_cmd$tsreport_cmd" ]; then
        echo "peer commands: no peer installed"
    else
        peer_commands "$pids" "$number" "$packets"
    fi
    cat "$work/notes"
    echo
    echo "micro-benchmarks (ns per packet or section):"
    "$build/bench_decode" --benchmark_min_time=0.2 2>/dev/null | grep -E '^(BM_|Benchmark|-)'
}

# ---------------------------------------------------------------------------------------------
# Scaling

# flat LABEL VALUES...: says whether the values stay within 15 % of the smallest.
flat() {
    local label=$1
    shift
    printf '%s\n' "$@" | awk -v label="$label" '
        NR == 1 || $1 < low { low = $1 } NR == 1 || $1 > high { high = $1 }
        END { printf "%s %s within 15 %% (%.3f to %.3f, +%.0f %%)\n", label,
            (high <= low * 1.15 ? "flat" : "NOT flat"), low, high, (high / low - 1) * 100 }'
}

scaling() {
    local per_gb_listing=() per_gb_filter=() peak_listing=() peak_filter=()
    echo "median of 3 warm-cache runs, less $((harness_us / 1000)) ms of harness each"
    printf '%-8s %-10s %9s %12s %10s\n' MB command seconds "s per GB" "peak MiB"
    for megabytes in "$@"; do
        make_input "$megabytes"
        cat "$input" >/dev/null
        for mode in listing filter; do
            local command="'$build/pidsift' '$input'"
            [ "$mode" = filter ] && command="$command $filter_pmt_pid '$work/out/out.ts'"
            local seconds peak status per_gb
            read -r seconds peak status < <(measure 3 "$command")
            if [ "$seconds" = - ]; then
                echo "$megabytes $mode failed (exit $status): $(head -n 1 "$work/err")"
                continue
            fi
            per_gb=$(awk -v s="$seconds" -v m="$megabytes" 'BEGIN { printf "%.3f", s * 1000 / m }')
            printf '%-8s %-10s %9.3f %12.3f %10s\n' "$megabytes" "$mode" "$seconds" "$per_gb" "$(mib "$peak")"
            if [ "$mode" = listing ]; then
                per_gb_listing+=("$per_gb") peak_listing+=("$(mib "$peak")")
            else
                per_gb_filter+=("$per_gb") peak_filter+=("$(mib "$peak")")
            fi
        done
        rm -f "$input"
    done
    [ ${#per_gb_listing[@]} -gt 0 ] && flat "listing: s per GB" "${per_gb_listing[@]}" &&
        flat "listing: peak MiB" "${peak_listing[@]}"
    [ ${#per_gb_filter[@]} -gt 0 ] && flat "filter:  s per GB" "${per_gb_filter[@]}" &&
        flat "filter:  peak MiB" "${peak_filter[@]}"
    return 0
}

# ---------------------------------------------------------------------------------------------

positive() { [[ $1 =~ ^[1-9][0-9]*$ ]]; }

usage() {
    echo "usage: bench/run.sh [SIZE_MB] [RUNS] | bench/run.sh --scaling MB MB..." >&2
    exit 2
}

# setup: the tools built, the work folder, the peers found and the recording chosen.
setup() {
    [ -x /usr/bin/time ] || {
        echo "bench/run.sh needs GNU time (/usr/bin/time) for peak memory: apt-get install time" >&2
        exit 2
    }
    trap cleanup EXIT
    build_tools
    measure_harness
    find_peers
    choose_recording
}

if [ "${1:-}" = --scaling ]; then
    shift
    [ $# -gt 0 ] || set -- 250 1000 4000
    for size in "$@"; do positive "$size" || usage; done
    setup
    scaling "$@"
else
    [ $# -le 2 ] || usage
    for arg in "$@"; do positive "$arg" || usage; done
    setup
    single_size "$@"
fi
