#!/bin/bash
# Times Orvane-prepare on the 18,988-taxon survey (../shared/data/globalpatterns, exported as a
# study's files by example/export_study.py) with this checkout's build and a baseline commit's, in
# alternating runs, and prints the median processor seconds (user + system) of each, their ratio and
# the median wall-clock seconds. Wall-clock time includes flushing the folder's files to disk.
# usage (from the project root, after make): bench/prepare.sh [BASE [RUNS]]   defaults: 6010723, 5
set -eu
base=${1:-6010723}
runs=${2:-5}
root=$(git rev-parse --show-toplevel)
data=$root/../shared/data/globalpatterns
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/base"
git -C "$root" archive "$base" | tar -x -C "$work/base"
cmake -S "$work/base" -B "$work/base/build" -DORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/base/build" -j 2 --target Orvane-prepare >/dev/null
python3 "$root/example/export_study.py" "$data" "$work/study"
study="-table $work/study/table.tsv -metadata $work/study/metadata.tsv -column SampleType"
study="$study -tree $work/study/tree.nwk -taxonomy $work/study/taxonomy.tsv"

for run in $(seq "$runs"); do
  for side in base new; do
    program=$work/base/build/app/Orvane-prepare
    [ $side = new ] && program=$root/Orvane-prepare
    rm -rf "$work/out"
    /usr/bin/time -f "$side %U %S %e" -a -o "$work/times" $program $study -o "$work/out" 2>/dev/null
  done
done
echo "Orvane-prepare on globalpatterns (26 x 18988), $runs alternating runs; base $base, new = this checkout"
echo "machine: $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cpu_base=$(awk '$1 == "base" { print $2 + $3 }' "$work/times" | median)
cpu_new=$(awk '$1 == "new" { print $2 + $3 }' "$work/times" | median)
wall_base=$(awk '$1 == "base" { print $4 }' "$work/times" | median)
wall_new=$(awk '$1 == "new" { print $4 }' "$work/times" | median)
printf "%-6s %14s %14s\n" "" "processor s" "wall-clock s"
printf "%-6s %14s %14s\n" base "$cpu_base" "$wall_base" new "$cpu_new" "$wall_new"
awk -v b="$cpu_base" -v n="$cpu_new" 'BEGIN { printf "new/base processor time: %.2f\n", n / b }'
