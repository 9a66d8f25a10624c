#!/bin/bash
# The converged solver against the cyclic fit and against glmnet, side by side in one run, on the data sets
# of ../shared/data (processor seconds of the fits; the files are read outside the timing):
#   1. a warm-started path of LAMBDAS log-spaced values from lambda_max down to RATIO x lambda_max (as
#      Orvane-cv -solver converged runs it per fold and w) against single cyclic fits at the same lambdas,
#      for each w in WS;
#   2. at w = 1 (a plain lasso), a 100-lambda converged path against glmnet's own multinomial lasso path at
#      the same lambdas (bench/glmnet_path.R; needs R's glmnet, Debian r-cran-glmnet; skipped without it),
#      glmnet's threshold lowered until its objectives are within 1e-6 of the converged ones;
#   3. one converged fit from zero against one cyclic fit at POINT x lambda_max, w = 0.5;
#   4. the peak memory (maximum resident set, KiB) of the 40-lambda path at w = 0.5 and of its cyclic fits.
# usage (from the project root, after make): bench/converged_path.sh
# Environment: WS (default "0.5 1"), LAMBDAS (default 40), RATIO (default 0.01), TOL (default 1e-6),
# POINT (default 0.1), PARTS (the numbered parts to run, default "1 2 3 4"), SETS (folders of ../shared/data, default "globalpatterns synthetic_n2000_m1000_c4"),
# BUILD (the CMake build folder, default build).
set -eu
ws=${WS:-0.5 1}
count=${LAMBDAS:-40}
ratio=${RATIO:-0.01}
tol=${TOL:-1e-6}
point=${POINT:-0.1}
parts=" ${PARTS:-1 2 3 4} "
sets=${SETS:-globalpatterns synthetic_n2000_m1000_c4}
root=$(git rev-parse --show-toplevel)
build=${BUILD:-$root/build}
data=$(cd "$root/../shared/data" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target converged_path -j 2 >/dev/null
bench=$build/bench/converged_path

echo "machine: $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
if [[ $parts == *" 1 "* ]]; then
echo "1. path of $count lambdas from lambda_max down to $ratio x lambda_max against single cyclic fits, tol $tol"
printf 'data\tw\tlambdas\tlambda_max\tlast\tpath_s\tcyclic_s\tpath/cyclic\titerations\tpath_in_cyclic_fits\n'
for set in $sets; do
  d="$data/$set"
  for w in $ws; do
    printf '%s\t' "$set"
    "$bench" "$d/samples.txt" "$d/labels.txt" "$d/tree.tre" "$w" "$count" "$ratio" "$tol"
  done
done

fi

if [[ $parts == *" 2 "* ]]; then
echo "2. 100-lambda path at w = 1 against glmnet's, down to $ratio x lambda_max"
if Rscript -e 'library(glmnet)' >/dev/null 2>&1; then
  printf 'data\tconverged_s\tglmnet_s\tconverged/glmnet\tglmnet_thresh\tglmnet_excess\tglmnet_lambdas\n'
  for set in $sets; do
    d="$data/$set"
    "$bench" "$d/samples.txt" "$d/labels.txt" "$d/tree.tre" 1 100 "$ratio" "$tol" path >"$work/path"
    ours=$(head -1 "$work/path" | cut -f1)
    theirs=$(Rscript "$root/bench/glmnet_path.R" "$d/samples.txt" "$d/labels.txt" "$d/tree.tre" "$work/path")
    glmnet_s=$(echo "$theirs" | cut -f1)
    printf '%s\t%s\t%s\t%.3g\t%s\n' "$set" "$ours" "$glmnet_s" "$(awk -v a="$ours" -v b="$glmnet_s" 'BEGIN { print a / b }')" \
      "$(echo "$theirs" | cut -f2-)"
  done
else
  echo "skipped: R's glmnet is not installed (Debian: r-cran-glmnet)"
fi

fi

if [[ $parts == *" 3 "* ]]; then
echo "3. one fit at $point x lambda_max, w 0.5: converged from zero against cyclic"
printf 'data\tw\tlambda_max\tlambda\tconverged_s\tcyclic_s\tconverged/cyclic\titerations\n'
for set in $sets; do
  d="$data/$set"
  printf '%s\t' "$set"
  "$bench" "$d/samples.txt" "$d/labels.txt" "$d/tree.tre" 0.5 2 "$point" "$tol" point
done

fi

if [[ $parts == *" 4 "* ]]; then
echo "4. peak memory (KiB) of the $count-lambda path at w 0.5 and of its cyclic fits, each in its own process"
printf 'data\tpath_KiB\tcyclic_KiB\n'
for set in $sets; do
  d="$data/$set"
  for mode in path cyclic; do
    /usr/bin/time -f %M -o "$work/$mode" "$bench" "$d/samples.txt" "$d/labels.txt" "$d/tree.tre" 0.5 "$count" \
      "$ratio" "$tol" "$mode" >/dev/null
  done
  printf '%s\t%s\t%s\n' "$set" "$(cat "$work/path")" "$(cat "$work/cyclic")"
done
fi
