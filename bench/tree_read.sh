#!/bin/bash
# Times reading Newick trees with this checkout's tree library and with a baseline commit's, side by side in one
# run, and prints the processor seconds of each and their ratio. The trees are generated here (random binary,
# caterpillar as deep as the reader allows, star) and removed afterwards; "same" says both libraries read the
# same nodes, labels, lengths and links.
# usage (from the project root): bench/tree_read.sh [BASE]   default BASE = main
# Environment: SIZES (tips, default "10000 50000 100000 200000"), SHAPES (default "random caterpillar star"),
# REPEATS (reads per tree, least time kept; reads past 3 s in all are not repeated; default 3), BASE_LIMIT (seconds:
# once a base read of a shape takes longer, its larger sizes are not read with the base, as a quadratic reader
# would take many minutes; default 20), CXX.
set -eu
base=${1:-main}
sizes=${SIZES:-10000 50000 100000 200000}
shapes=${SHAPES:-random caterpillar star}
repeats=${REPEATS:-3}
base_limit=${BASE_LIMIT:-20}
cxx=${CXX:-c++}
root=$(git rev-parse --show-toplevel)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same driver, built against each version of the library with the project's flags.
flags="-std=c++17 -O2 -ffp-contract=off"
mkdir "$work/base"
git -C "$root" archive "$base" tree | tar -x -C "$work/base"
$cxx $flags -I"$work/base" "$root/bench/tree_read.cpp" "$work/base"/tree/*.cpp -o "$work/read_base"
$cxx $flags -I"$root" "$root/bench/tree_read.cpp" "$root"/tree/*.cpp -o "$work/read_new"

echo "Newick reading, processor seconds (least of up to $repeats reads); base $base ($(git -C "$root" rev-parse --short "$base")), new = this checkout"
echo "machine: $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores"
printf "%-12s %8s %8s %10s %10s %9s %s\n" shape tips nodes base new base/new same
for shape in $shapes; do
  slow=no
  for tips in $sizes; do
    tree="$work/$shape-$tips.tre"
    "$work/read_new" gen "$shape" "$tips" 1 > "$tree"
    if [ $slow = no ]; then
      read -r t_base n_base sum_base < <("$work/read_base" read "$tree" "$repeats" || echo "- - failed")
      awk -v t="$t_base" -v l="$base_limit" 'BEGIN { exit !(t + 0 > l + 0) }' && slow=yes
    else
      t_base=skipped sum_base=skipped
    fi
    read -r t_new n_new sum_new < <("$work/read_new" read "$tree" "$repeats" || echo "- - failed")
    same=no; [ "$sum_base" = "$sum_new" ] && [ "$sum_new" != failed ] && same=yes
    [ "$sum_base" = skipped ] && same=-
    ratio=$(awk -v b="$t_base" -v n="$t_new" 'BEGIN { if (b + 0 > 0 && n + 0 > 0) printf "%.1f", b / n; else print "-" }')
    printf "%-12s %8s %8s %10s %10s %9s %s\n" "$shape" "$tips" "$n_new" "$t_base" "$t_new" "$ratio" "$same"
    rm -f "$tree"
  done
done
