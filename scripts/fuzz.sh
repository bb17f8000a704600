#!/usr/bin/env bash
# Runs fuzz targets of a PIDSIFT_FUZZ build, one at a time, at the lowest priority.
#   scripts/fuzz.sh <build folder> <seconds> <target>...
# Each target works on <build>/corpus/<target> (seeded by make_seeds on first use), keeps what
# it finds in <build>/findings/ and logs to <build>/logs/<target>.log. Exits non-zero when a
# target found a crash, a leak, a failed check or a time-out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
seconds=$2
shift 2
cd "$build"
mkdir -p corpus findings logs
status=0
for target in "$@"; do
    if [ ! -d "corpus/$target" ]; then
        ./make_seeds corpus "$root/samples/sample.ts"
    fi
    echo "== $target for ${seconds}s"
    if nice -n 19 "./$target" -max_total_time="$seconds" -timeout=30 -max_len=65536 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="findings/$target-" "corpus/$target" >"logs/$target.log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "logs/$target.log" | tail -1 || true
    else
        status=1
        echo "$target: finding, see $build/logs/$target.log and $build/findings/"
        grep -E 'ERROR|fuzz check failed|SUMMARY' "logs/$target.log" | head -5 || true
    fi
done
exit $status
