#!/bin/bash
# Peak memory and time of Orvane on a synthetic cohort (bench/cohort.cpp), with a baseline commit's build and
# with this checkout (the working tree as it is), side by side in one run: Orvane -train, Orvane -test on the
# same samples, and Orvane-cv -j 2 on 3 folds of one repetition. The table gives, per step and build, the peak
# resident memory and the wall and processor seconds (GNU time), the ratios base/new, and whether both builds
# wrote the same bytes.
# usage (from the project root): bench/cohort.sh [-b BASE] [-n SAMPLES] [-m FEATURES] [-c CLASSES] [-p PRESENT]
#   -b BASE      commit to compare against (default: the merge-base of HEAD and main); -b none times this
#                checkout alone, for sizes the baseline cannot hold
#   -n, -m, -c   the cohort's size (default 8000 samples, 20000 features, 10 classes)
#   -p PRESENT   share of taxa present outside the enriched clades (default 0.05: about 95% zeros)
#   W, LAMBDA    the fit's parameters (default 0.5 and 1); SKIP_CV=1 leaves out cross-validation
#   PREBUILT     a folder whose base/ and new/ hold Orvane, Orvane-cv and Orvane-folds already built: no build
set -eu
root=$(git rev-parse --show-toplevel)
base=$(git -C "$root" merge-base HEAD main 2>/dev/null | cut -c1-12); base=${base:-HEAD}
n=8000 m=20000 c=10 present=0.05 w=${W:-0.5} lambda=${LAMBDA:-1}
while getopts "b:n:m:c:p:" option; do
  case $option in
    b) base=$OPTARG ;; n) n=$OPTARG ;; m) m=$OPTARG ;; c) c=$OPTARG ;; p) present=$OPTARG ;;
    *) sed -n '7,13p' "$0" >&2; exit 2 ;;
  esac
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sides="new"; [ "$base" != none ] && sides="base new"
mkdir "$work/new"
if [ -n "${PREBUILT:-}" ]; then
  for side in $sides; do
    mkdir -p "$work/$side" && cp "$PREBUILT/$side/Orvane" "$PREBUILT/$side/Orvane-cv" "$PREBUILT/$side/Orvane-folds" "$work/$side/"
  done
else
  [ "$base" != none ] && mkdir "$work/base" && git -C "$root" archive "$base" | tar -x -C "$work/base"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 -I{} sh -c '[ -e "$1" ] && printf "%s\0" "$1"' _ {} |
    tar --null -T - -c) | tar -x -C "$work/new"
  for side in $sides; do
    (cd "$work/$side" && cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF >/dev/null 2>&1 &&
      cmake --build build -j 2 --target Orvane Orvane-cv Orvane-folds >/dev/null 2>&1 &&
      cp build/app/Orvane build/app/Orvane-cv build/app/Orvane-folds .) || { echo "error: cannot build $side" >&2; exit 1; }
  done
fi
c++ -O2 -std=c++17 -o "$work/cohort" "$root/bench/cohort.cpp"
mkdir "$work/data"
"$work/cohort" "$n" "$m" "$c" "$present" 1 "$work/data"
d=$work/data
zeros=$(awk '{ for (j = 2; j <= NF; j++) { t++; z += ($j == 0) } } END { printf "%.1f", 100 * z / t }' "$d/samples.txt")
echo "cohort: $n samples x $m features x $c classes, $zeros% zeros, $(du -m "$d/samples.txt" | cut -f1) MB of text; w $w, lambda $lambda"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$base" != none ] && echo "base: $base"

measure() {  # side step command...; leaves "peakMB wall cpu" in $work/side.step
  local side=$1 step=$2; shift 2
  (cd "$work/$side" && /usr/bin/time -f "%M %e %U %S" -o "$work/$side.$step.time" "$@" >/dev/null 2>"$work/$side.$step.err") ||
    echo "$side $step failed: $(tail -1 "$work/$side.$step.err")" >&2
  awk '{ printf "%.0f %.2f %.2f\n", $1 / 1024, $2, $3 + $4 }' "$work/$side.$step.time" > "$work/$side.$step"
}

run_step() {  # side step
  case $2 in
    train) measure "$1" train ./Orvane -train -d "$d/samples.txt" -l "$d/labels.txt" -t "$d/tree.tre" -w "$w" \
             -lambda "$lambda" -o model.txt ;;
    test) measure "$1" test ./Orvane -test -d "$d/samples.txt" -c model.txt -o result.txt ;;
    cv) (cd "$work/$1" && ./Orvane-folds -d "$d/samples.txt" -l "$d/labels.txt" -n 1 -k 3 -s sets -seed 5 >/dev/null)
        measure "$1" cv ./Orvane-cv -d "$d/samples.txt" -l "$d/labels.txt" -t "$d/tree.tre" -n 1 -k 3 -s sets \
          -p cv_ -r bench -w "$w" -lambda "$lambda" -j 2 ;;
  esac
}

# One row per step as soon as both builds have run it.
printf "%-6s %16s %16s %16s %22s  %s\n" step "peak MB" "wall s" "cpu s" "base/new: peak wall" same
steps="train test"; [ "${SKIP_CV:-0}" != 1 ] && steps="$steps cv"
for step in $steps; do
  for side in $sides; do run_step "$side" "$step"; done
  read -r pn wn cn < "$work/new.$step"
  if [ "$base" = none ]; then
    printf "%-6s %16s %16s %16s\n" "$step" "$pn" "$wn" "$cn"
    continue
  fi
  read -r pb wb cb < "$work/base.$step"
  case $step in train) f=model.txt ;; test) f=result.txt ;; cv) f=cv_log_detailed.txt ;; esac
  same=yes; cmp -s "$work/base/$f" "$work/new/$f" || same=NO
  printf "%-6s %16s %16s %16s %10s %10s  %s\n" "$step" "$pb / $pn" "$wb / $wn" "$cb / $cn" \
    "$(awk -v x="$pb" -v y="$pn" 'BEGIN { printf "%.2f", x / y }')" \
    "$(awk -v x="$wb" -v y="$wn" 'BEGIN { printf "%.2f", x / y }')" "$same"
done
