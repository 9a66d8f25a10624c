#!/bin/bash
# Times Orvane-cv on one thread against two, side by side on the same folds and
# grid, checks that both runs wrote the same bytes, and prints the ratio of wall
# times (with the cpu seconds, to show how busy the machine was). Run from
# anywhere after `make`.
#   DATA   data folder (default: ../shared/data/globalpatterns beside the repository)
#   REPS, FOLDS   repetitions and folds (default 2 and 5)
#   W, LAMBDA     grid (default 0,0.5,1 and 0.1,1,10: 3 x 3)
#   ROUNDS        pairs of runs, -j 1 then -j 2, whose times are added up (default 1)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
data=${DATA:-$root/../shared/data/globalpatterns}
if [ ! -d "$data" ]; then
  # The data sets lie beside the repository only on the project's own machines.
  [ -z "${DATA:-}" ] || { echo "error: no data folder $data" >&2; exit 1; }
  echo "cv_jobs.sh needs the survey data set of ../shared/data beside the repository (or DATA=FOLDER): $data is absent, nothing timed"
  exit 0
fi
reps=${REPS:-2} folds=${FOLDS:-5} w=${W:-0,0.5,1} lambda=${LAMBDA:-0.1,1,10} rounds=${ROUNDS:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$root/Orvane-folds" -d "$data/samples.txt" -l "$data/labels.txt" -n "$reps" -k "$folds" -s "$work/sets" -seed 1
echo "data: $data; $reps x $folds folds; w $w; lambda $lambda; $rounds round(s)"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); load before: $(cut -d' ' -f1-3 /proc/loadavg)"

declare -A wall=([1]=0 [2]=0)
TIMEFORMAT='%R %U %S'
for round in $(seq "$rounds"); do
  for jobs in 1 2; do
    rm -f "$work"/j${jobs}_*
    { time "$root/Orvane-cv" -d "$data/samples.txt" -l "$data/labels.txt" -t "$data/tree.tre" -n "$reps" -k "$folds" \
        -s "$work/sets" -w "$w" -lambda "$lambda" -p "$work/j${jobs}_" -j "$jobs" >"$work/j${jobs}_stdout" 2>/dev/null; } 2>"$work/time"
    read -r real user sys <"$work/time"
    wall[$jobs]=$(echo "${wall[$jobs]} + $real" | bc)
    echo "round $round, -j $jobs: $real s wall, $(echo "$user + $sys" | bc) s cpu"
  done
  for f in stdout log_detailed.txt log_avr.txt log_result.txt cv_summary.tsv cv_predictions.tsv cv_confusion.tsv; do
    if [ "$f" = stdout ]; then
      cmp -s <(sed 's/j1_/jN_/' "$work/j1_$f") <(sed 's/j2_/jN_/' "$work/j2_$f") || { echo "outputs differ: $f"; exit 1; }
    else
      cmp -s "$work/j1_$f" "$work/j2_$f" || { echo "outputs differ: $f"; exit 1; }
    fi
  done
done
echo "same outputs; load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "ratio (-j 1 wall / -j 2 wall): $(echo "scale=2; ${wall[1]} / ${wall[2]}" | bc)"
