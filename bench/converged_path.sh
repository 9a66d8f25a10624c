#!/bin/bash
# Times a warm-started path of converged fits (Orvane -solver converged, as Orvane-cv runs it per fold and w)
# against single cyclic fits (-solver cyclic) at the same lambdas, side by side in one run, on the data sets of
# ../shared/data: LAMBDAS values log-spaced from lambda_max down to RATIO x lambda_max, for each w in WS.
# Prints processor seconds of the fits (files read once, outside the timing), their ratio, the converged
# iterations of the whole path, and what the path costs in single cyclic fits.
# usage (from the project root): bench/converged_path.sh
# Environment: WS (default "0.5 1"), LAMBDAS (default 40), RATIO (default 0.01), TOL (default 1e-6),
# SETS (folders of ../shared/data, default "globalpatterns synthetic_n2000_m1000_c4"), CXX.
set -eu
ws=${WS:-0.5 1}
count=${LAMBDAS:-40}
ratio=${RATIO:-0.01}
tol=${TOL:-1e-6}
sets=${SETS:-globalpatterns synthetic_n2000_m1000_c4}
cxx=${CXX:-c++}
root=$(git rev-parse --show-toplevel)
data=$(cd "$root/../shared/data" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

$cxx -std=c++17 -O2 -ffp-contract=off -I"$root" "$root/bench/converged_path.cpp" "$root"/model/*.cpp \
    "$root"/tree/*.cpp -o "$work/path"

echo "machine: $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "path of $count lambdas from lambda_max down to $ratio x lambda_max, tol $tol; processor seconds"
printf 'data\tw\tlambdas\tlambda_max\tlast\tpath_s\tcyclic_s\tpath/cyclic\titerations\tpath_in_cyclic_fits\n'
for set in $sets; do
  d="$data/$set"
  for w in $ws; do
    printf '%s\t' "$set"
    "$work/path" "$d/samples.txt" "$d/labels.txt" "$d/tree.tre" "$w" "$count" "$ratio" "$tol"
  done
done
