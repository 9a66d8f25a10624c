#!/bin/bash
# Times Orvane's training and cross-validation with a baseline commit's build and with this checkout (the working
# tree as it is, uncommitted changes included), side by side in one run. Each case runs the two builds in pairs,
# alternating which goes first, and the table gives the median processor seconds (user + system) of each and the
# median of the per-pair ratios base/new. Both builds must write the same model files; "same" says they did.
# usage (from the project root): bench/bench.sh [-b BASE] [-r RUNS] [-s] [-g]
#   -b BASE  commit to compare against (default: the merge-base of HEAD and main)
#   -r RUNS  paired runs per case (default 5)
#   -s       also generate and time two synthetic sets, 200 x 5000 and 2000 x 20000 (the latter is 80 MB)
#   -g       also count the instructions of the fit (Logistic::Learn) on globalpatterns with callgrind, a ratio
#            that stays put on a busy machine
# The data sets come from ../shared/data beside the project (DATA overrides it). If bench/tree_read.sh exists,
# it runs afterwards with the same BASE.
set -eu
root=$(git rev-parse --show-toplevel)
base=$(git -C "$root" merge-base HEAD main 2>/dev/null | cut -c1-12); base=${base:-HEAD}
runs=5 synthetic=no callgrind=no
while getopts "b:r:sg" option; do
  case $option in
    b) base=$OPTARG ;;
    r) runs=$OPTARG ;;
    s) synthetic=yes ;;
    g) callgrind=yes ;;
    *) sed -n '6,11p' "$0" >&2; exit 2 ;;
  esac
done
data=${DATA:-$root/../shared/data}
if [ ! -d "$data" ]; then
  # The data sets lie beside the repository only on the project's own machines.
  [ -z "${DATA:-}" ] || { echo "error: no data folder $data" >&2; exit 1; }
  echo "bench.sh needs the data sets of ../shared/data beside the repository (or DATA=FOLDER): $data is absent, nothing timed"
  exit 0
fi
data=$(cd "$data" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The baseline from git; the working tree with every tracked or new file that git does not ignore.
mkdir "$work/base" "$work/new"
git -C "$root" archive "$base" | tar -x -C "$work/base"
(cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 -I{} sh -c '[ -e "$1" ] && printf "%s\0" "$1"' _ {} |
  tar --null -T - -c) | tar -x -C "$work/new"
# Release builds of the programs alone (the test suite is not needed here).
for side in base new; do
  (cd "$work/$side" && cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF >/dev/null 2>&1 &&
    cmake --build build -j 2 >/dev/null 2>&1 && cp build/app/Orvane build/app/Orvane-cv build/app/Orvane-folds .) ||
    { echo "error: cannot build $side" >&2; exit 1; }
done

# Generated sets: sparse counts, C classes each enriching a band of features, and a random binary tree over the
# features (split points drawn from the middle half, so the nesting stays shallow).
synthetic_set() {  # folder N M C seed
  mkdir -p "$1"
  awk -v N="$2" -v M="$3" -v C="$4" -v seed="$5" -v dir="$1" 'BEGIN {
    srand(seed)
    for (i = 1; i <= N; i++) {
      k = (i - 1) % C; members[k] = members[k] (members[k] == "" ? "" : " ") i
      line = i
      for (j = 0; j < M; j++) {
        p = (int(j * C / M) == k) ? 0.3 : 0.1
        line = line "\t" (rand() < p ? 1 + int(rand() * 50) : 0)
      }
      print line > (dir "/samples.txt")
    }
    for (k = 0; k < C; k++) printf(">class%d\n%s\n", k + 1, members[k]) > (dir "/labels.txt")
    printf("%s;\n", subtree(0, M)) > (dir "/tree.tre")
  }
  function subtree(lo, hi,    cut) {
    if (hi - lo == 1) return lo ":" sprintf("%.3f", 0.01 + rand() * 0.2)
    cut = lo + int((hi - lo) / 4 + rand() * (hi - lo) / 2); if (cut <= lo) cut = lo + 1
    return "(" subtree(lo, cut) "," subtree(cut, hi) "):" sprintf("%.3f", 0.01 + rand() * 0.2)
  }'
}

cpu_seconds() {  # command... ; prints user + system seconds, the command's output discarded
  /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null 2>&1 || echo "failed: $*" >&2
  awk '{ printf "%.3f\n", $1 + $2 }' "$work/time"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

row() {  # label base_times new_times ratios same
  printf "%-44s %8s %8s %8s  %s\n" "$1" "$(echo "$2" | median)" "$(echo "$3" | median)" "$(echo "$4" | median)" "$5"
}

train_case() {  # label folder w lambda
  local label=$1 dir=$2 w=$3 lambda=$4 b="" n="" r="" same=yes i
  for i in $(seq "$runs"); do
    local order="base new"; [ $((i % 2)) = 0 ] && order="new base"
    local tb tn
    for side in $order; do
      t=$(cpu_seconds "$work/$side/Orvane" -train -d "$dir/samples.txt" -l "$dir/labels.txt" -t "$dir/tree.tre" \
          -w "$w" -lambda "$lambda" -o "$work/$side/model.txt")
      [ $side = base ] && tb=$t || tn=$t
    done
    cmp -s "$work/base/model.txt" "$work/new/model.txt" || same=NO
    b="$b$tb"$'\n'; n="$n$tn"$'\n'; r="$r$(awk -v x="$tb" -v y="$tn" 'BEGIN { printf "%.2f", x / y }')"$'\n'
  done
  row "$label" "${b%$'\n'}" "${n%$'\n'}" "${r%$'\n'}" "$same"
}

cv_case() {  # label folder grid-w grid-lambda
  local label=$1 dir=$2 w=$3 lambda=$4 b="" n="" r="" same=yes i
  for side in base new; do
    (cd "$work/$side" && ./Orvane-folds -d "$dir/samples.txt" -l "$dir/labels.txt" -n 1 -k 3 -s sets -seed 5 >/dev/null)
  done
  for i in $(seq "$runs"); do
    local order="base new"; [ $((i % 2)) = 0 ] && order="new base"
    local tb tn
    for side in $order; do
      t=$(cd "$work/$side" && cpu_seconds ./Orvane-cv -d "$dir/samples.txt" -l "$dir/labels.txt" -t "$dir/tree.tre" \
          -n 1 -k 3 -s sets -p cv_ -r bench -w "$w" -lambda "$lambda")
      [ $side = base ] && tb=$t || tn=$t
    done
    cmp -s "$work/base/cv_log_detailed.txt" "$work/new/cv_log_detailed.txt" || same=NO
    b="$b$tb"$'\n'; n="$n$tn"$'\n'; r="$r$(awk -v x="$tb" -v y="$tn" 'BEGIN { printf "%.2f", x / y }')"$'\n'
  done
  row "$label" "${b%$'\n'}" "${n%$'\n'}" "${r%$'\n'}" "$same"
}

echo "Orvane, processor seconds (median of $runs paired runs); base $base ($(git -C "$root" rev-parse --short "$base")), new = this checkout"
echo "machine: $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-44s %8s %8s %8s  %s\n" case base new base/new same
gp=$data/globalpatterns syn=$data/synthetic_n2000_m1000_c4
train_case "train globalpatterns 26x18988 (0.5, 1)" "$gp" 0.5 1
train_case "train globalpatterns 26x18988 (-1, 1)" "$gp" -1 1
train_case "train synthetic 2000x1000 (1, 0.01)" "$syn" 1 0.01
if [ $synthetic = yes ]; then
  synthetic_set "$work/s200" 200 5000 4 7
  train_case "train synthetic 200x5000 (1, 0.1)" "$work/s200" 1 0.1
  synthetic_set "$work/s2000" 2000 20000 4 11
  train_case "train synthetic 2000x20000 (0.5, 1)" "$work/s2000" 0.5 1
fi
cv_case "cv globalpatterns_top300 3 folds, 3x2 grid" "$data/globalpatterns_top300" 0,0.5,1 0.1,1

if [ $callgrind = yes ]; then
  echo
  echo "Instructions of the fit (Logistic::Learn, callgrind), globalpatterns"
  printf "%-44s %14s %14s %8s\n" case base new base/new
  for p in "0.5 1" "-1 1"; do
    set -- $p
    for side in base new; do
      valgrind --tool=callgrind --toggle-collect='Logistic::Learn*' --callgrind-out-file="$work/cg.$side" \
        "$work/$side/Orvane" -train -d "$gp/samples.txt" -l "$gp/labels.txt" -t "$gp/tree.tre" -w "$1" -lambda "$2" \
        -o "$work/$side/model.txt" >/dev/null 2>&1
    done
    ir_base=$(sed -n 's/^summary: //p' "$work/cg.base") ir_new=$(sed -n 's/^summary: //p' "$work/cg.new")
    printf "%-44s %14s %14s %8s\n" "fit globalpatterns ($1, $2)" "$ir_base" "$ir_new" "$(awk -v x="$ir_base" -v y="$ir_new" 'BEGIN { printf "%.2f", x / y }')"
  done
fi

if [ -x "$root/bench/tree_read.sh" ]; then
  echo
  "$root/bench/tree_read.sh" "$base"
fi
