#!/usr/bin/env bash
# Lists the programs of the sample recording, extracts the first one, shows what was written,
# prints the sample's tables, and tells where the tools are and how to install them.
set -euo pipefail
build=$1 sample=$2 out=$3
mkdir -p "$out"
echo "== pidsift $sample  (the programs of the last PAT)"
"$build/pidsift" "$sample"
# sed reads the whole listing: head would leave pidsift, which writes a line at a time, to a
# closed pipe, and pipefail would stop the demo.
pid=$("$build/pidsift" "$sample" 2>&1 | sed -n '1s/.*PID:\(0x[0-9A-F]*\)$/\1/p')
echo
echo "== pidsift $sample $pid $out/program.ts"
"$build/pidsift" "$sample" "$pid" "$out/program.ts"
echo "wrote $out/program.ts: $(stat -c %s "$out/program.ts") bytes, $(( $(stat -c %s "$out/program.ts") / 188 )) packets (input: $(( $(stat -c %s "$sample") / 188 )) packets)"
echo
echo "== the output holds only the chosen program: packets per PID in the input and in the output"
count_pids() {
    od -An -v -tu1 -w188 "$1" | awk '{ n[($2 % 32) * 256 + $3]++ } END { for (p in n) printf "  PID 0x%04X: %d packets\n", p, n[p] }' | sort
}
echo "input:"
count_pids "$sample"
echo "output:"
count_pids "$out/program.ts"
echo
echo "== pidsift-dump $sample  (the tables: the first PAT, CAT and PMTs; they repeat through the file)"
"$build/pidsift-dump" "$sample" > "$out/tables.txt"
awk '/^=+$/ { if (++blocks == 6) exit } { print }' "$out/tables.txt"
echo "... the whole dump, with the PMTs after the change and the PID list, is in $out/tables.txt ($(wc -l < "$out/tables.txt") lines)"
echo
echo "== pidsift-dump --pids $sample  (every PID, in the order first met)"
"$build/pidsift-dump" --pids "$sample"
echo
echo "== pidsift-dump --programs $sample  (the programs with the names of their services, from the SDT)"
"$build/pidsift-dump" --programs "$sample"
echo
built=()
for tool in pidsift pidsift-dump pidsift-split pidsift-check; do
    [ -x "$build/$tool" ] && built+=("$tool")
done
echo "== the tools are in $(cd "$build" && pwd): ${built[*]}"
echo "run them from there, or install them with their man pages and bash completion:"
echo "    cmake --install $build --prefix ~/.local      # ~/.local/bin/pidsift, man pidsift, <TAB> after pidsift-split"
echo "    sudo cmake --install $build                   # the same under /usr/local"
