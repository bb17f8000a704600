#!/usr/bin/env bash
# Checks bench/run.sh itself on small recordings (a minute or two; not part of CI, which runs
# no benchmark): that a peer missing or failing never stops it, that ffmpeg failing to make the
# recording falls back to the synthetic one, that every row and the closing sections come out,
# and that --scaling and bad arguments behave. Peers are replaced by stand-ins put first on
# PATH, so the real ones need not be installed and their speed does not matter.
#
#   bench/test_run.sh
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0 passes=0

# expect NAME FILE PATTERN: FILE has a line matching the extended regular expression PATTERN.
expect() {
    if grep -Eq -- "$3" "$2"; then
        passes=$((passes + 1))
    else
        failures=$((failures + 1))
        echo "FAIL $1: no line matches /$3/ in:"
        sed 's/^/    /' "$2"
    fi
}

# expect_status NAME WANTED GOT
expect_status() {
    if [ "$2" = "$3" ]; then
        passes=$((passes + 1))
    else
        failures=$((failures + 1))
        echo "FAIL $1: exit status $3, $2 expected"
    fi
}

# stand_in NAME STATUS: a peer on PATH that writes a line to standard error and exits STATUS.
stand_in() {
    printf '#!/bin/sh\necho "%s stand-in: refused" >&2\nexit %s\n' "$1" "$2" >"$scratch/bin/$1"
    chmod +x "$scratch/bin/$1"
}
mkdir -p "$scratch/bin"
stand_in ffmpeg 1         # fails both to make the recording and to filter
stand_in ffprobe 0
stand_in tsinfo 3
stand_in tsfilter.tstools 0
stand_in tsreport 0

run() {
    local output=$1
    shift
    PIDSIFT_BENCH_DIR="$scratch/work" PATH="$scratch/bin:$PATH" "$@" >"$output" 2>&1
}

# Failing peers: every row printed, each failure with its status, the pidsift rows measured.
run "$scratch/failing" "$here/run.sh" 5 1
expect_status "failing peers" 0 $?
out="$scratch/failing"
expect "ffmpeg could not make the recording" "$out" '^recording: ffmpeg could not make it, synthetic instead$'
expect "four programs listed" "$out" '^pidsift lists 4 programs; '
expect "filter PIDs read from the PMT" "$out" 'PIDs 0x01F0 0x0111 0x0112\): (2[5-9]|3[0-5])\.[0-9]+ % of the packets'
expect "tsinfo failure noted" "$out" '^peer tsinfo failed on in.ts with exit status 3: tsinfo stand-in: refused$'
expect "ffmpeg failure noted" "$out" '^peer ffmpeg failed on in.ts with exit status 1: ffmpeg stand-in: refused$'
expect "listing row: tsinfo failed, ffprobe timed" "$out" '^pidsift in.ts \(listing\) +[0-9.]+ .*\| +failed \(exit 3\) +\| +[0-9.]+ +[0-9.]+ '
expect "filter row: tsfilter timed, ffmpeg failed" "$out" '^pidsift in.ts 0x01F0 out.ts \(filter\) +[0-9.]+ .*\| +[0-9.]+ +[0-9.]+ +[0-9.]+ \| failed \(exit 1\)'
for job in 'cat in.ts >/dev/null' 'cat in.ts > copy.ts' 'dd bs=128K' 'pidsift-dump in.ts' \
    'pidsift-dump --packets' 'pidsift-dump --pids' 'pidsift-split programs' 'pidsift-check in.ts'; do
    expect "row $job" "$out" "^$job.* [0-9]+\.[0-9]{3} +[0-9]+\.[0-9]{2} "
done
expect "split target against dd" "$out" '^pidsift-split .*<= 1.00 x dd +(met|missed) \([0-9.]+ x dd\)'
expect "targets counted" "$out" '^targets: [0-5] missed; split wrote (8[5-9]|9[0-9])\.[0-9]+ % of the bytes'
expect "peer commands listed" "$out" '^  filter   tsfilter -i in.ts -o out.ts 0x01F0 0x0111 0x0112 '
expect "micro-benchmarks reached" "$out" '^BM_PacketHeader'

# No peers: a line says so and every peer cell says skipped.
run "$scratch/none" env PIDSIFT_BENCH_NO_PEERS=1 "$here/run.sh" 5 1
expect_status "no peers" 0 $?
out="$scratch/none"
expect "skip line" "$out" '^peers: PIDSIFT_BENCH_NO_PEERS=1, ffmpeg/ffprobe and tstools skipped$'
expect "synthetic recording" "$out" '^recording: bench/make_recording '
expect "listing peers skipped" "$out" '^pidsift in.ts \(listing\) .*\| +skipped +- +- \| +skipped +- +-$'
expect "no peer commands listed" "$out" '^peer commands: no peer installed$'
expect "micro-benchmarks reached without peers" "$out" '^BM_PacketHeader'

# Scaling: a line per size and job, then the flatness lines.
run "$scratch/scaling" env PIDSIFT_BENCH_NO_PEERS=1 "$here/run.sh" --scaling 4 8
expect_status "scaling" 0 $?
out="$scratch/scaling"
expect "scaling rows" "$out" '^8 +filter +[0-9.]+ +[0-9.]+ +[0-9.]+$'
expect "listing time flatness" "$out" '^listing: s per GB (flat|NOT flat) within 15 %'
expect "filter memory flatness" "$out" '^filter:  peak MiB (flat|NOT flat) within 15 %'
# Each flatness line agrees with the rows above it: their smallest and largest value, and flat
# exactly when the largest is within 15 % of the smallest.
for mode in listing filter; do
    for column in 4 5; do
        verdict=$(awk -v mode="$mode" -v column="$column" '
            $2 == mode && $1 ~ /^[0-9]+$/ {
                if (n == 0 || $column < low) low = $column
                if (n == 0 || $column > high) high = $column
                n++
            }
            END { printf "%s within 15 %% (%.3f to %.3f", (high <= low * 1.15 ? "flat" : "NOT flat"), low, high }' "$out")
        label="s per GB"
        [ "$column" = 5 ] && label="peak MiB"
        expect "$mode $label verdict" "$out" "^$mode: +$label ${verdict//(/\\(}"
    done
done

# Bad arguments: usage, status 2, nothing built or timed.
for arguments in "abc" "0" "5 1 7" "--scaling 10 x"; do
    # shellcheck disable=SC2086 # the arguments are meant to split
    run "$scratch/usage" "$here/run.sh" $arguments
    expect_status "usage for '$arguments'" 2 $?
    expect "usage text for '$arguments'" "$scratch/usage" '^usage: bench/run.sh'
done

echo "bench/run.sh: $passes passed, $failures failed"
[ "$failures" = 0 ]
