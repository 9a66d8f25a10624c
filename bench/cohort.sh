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
#   STEPS        the steps to run (default "train test cv prepare_json prepare_hdf5"); the prepare steps
#                run Orvane-prepare on a sparse BIOM table of 10,000 samples x 100,000 features with
#                1e6 entries, as JSON and as HDF5 (the latter with python3-h5py), made by the script
#   PREBUILT     a folder whose base/ and new/ hold Orvane, Orvane-cv and Orvane-folds already built: no build
set -eu
root=$(git rev-parse --show-toplevel)
base=$(git -C "$root" merge-base HEAD main 2>/dev/null | cut -c1-12); base=${base:-HEAD}
n=8000 m=20000 c=10 present=0.05 w=${W:-0.5} lambda=${LAMBDA:-1}
while getopts "b:n:m:c:p:" option; do
  case $option in
    b) base=$OPTARG ;; n) n=$OPTARG ;; m) m=$OPTARG ;; c) c=$OPTARG ;; p) present=$OPTARG ;;
    *) sed -n '7,16p' "$0" >&2; exit 2 ;;
  esac
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sides="new"; [ "$base" != none ] && sides="base new"
mkdir "$work/new"
if [ -n "${PREBUILT:-}" ]; then
  for side in $sides; do
    mkdir -p "$work/$side" && cp "$PREBUILT/$side/Orvane" "$PREBUILT/$side/Orvane-cv" "$PREBUILT/$side/Orvane-folds" \
      "$PREBUILT/$side/Orvane-prepare" "$work/$side/"
  done
else
  [ "$base" != none ] && mkdir "$work/base" && git -C "$root" archive "$base" | tar -x -C "$work/base"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 -I{} sh -c '[ -e "$1" ] && printf "%s\0" "$1"' _ {} |
    tar --null -T - -c) | tar -x -C "$work/new"
  for side in $sides; do
    (cd "$work/$side" && cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF >/dev/null 2>&1 &&
      cmake --build build -j 2 --target Orvane Orvane-cv Orvane-folds Orvane-prepare >/dev/null 2>&1 &&
      cp build/app/Orvane build/app/Orvane-cv build/app/Orvane-folds build/app/Orvane-prepare .) || { echo "error: cannot build $side" >&2; exit 1; }
  done
fi
steps=${STEPS:-train test cv prepare_json prepare_hdf5}
[ "${SKIP_CV:-0}" = 1 ] && steps=${steps/cv/}
c++ -O2 -std=c++17 -o "$work/cohort" "$root/bench/cohort.cpp"
mkdir "$work/data"
d=$work/data
if [[ " $steps " =~ " "(train|test|cv)" " ]]; then
  "$work/cohort" "$n" "$m" "$c" "$present" 1 "$work/data"
  zeros=$(awk '{ for (j = 2; j <= NF; j++) { t++; z += ($j == 0) } } END { printf "%.1f", 100 * z / t }' "$d/samples.txt")
  echo "cohort: $n samples x $m features x $c classes, $zeros% zeros, $(du -m "$d/samples.txt" | cut -f1) MB of text; w $w, lambda $lambda"
fi
if [[ "$steps" == *prepare* ]]; then
  # A study as a sparse BIOM table (JSON, and HDF5 when h5py is there), a metadata sheet and a balanced tree.
  python3 - "$work/prep" <<'PY'
import json, os, random, sys
out = sys.argv[1]; os.makedirs(out)
n, m, entries = 10000, 100000, 1000000
random.seed(7)
cells = set()
while len(cells) < entries:
    cells.add((random.randrange(m), random.randrange(n)))
cells = sorted(cells)
features = ["f%d" % f for f in range(m)]
samples = ["s%d" % s for s in range(n)]
with open(out + "/table.json", "w") as table:
    json.dump({"id": None, "format": "Biological Observation Matrix 1.0.0", "type": "OTU table",
               "rows": [{"id": f, "metadata": None} for f in features],
               "columns": [{"id": s, "metadata": None} for s in samples],
               "matrix_type": "sparse", "shape": [m, n],
               "data": [[f, s, 1 + (f + s) % 50] for f, s in cells]}, table)
with open(out + "/metadata.tsv", "w") as sheet:
    sheet.write("sample-id\tSampleType\n" + "".join("%s\tc%d\n" % (s, i % 10) for i, s in enumerate(samples)))
def clade(lo, hi):
    return features[lo] + ":1" if hi - lo == 1 else "(%s,%s):1" % (clade(lo, (lo + hi) // 2), clade((lo + hi) // 2, hi))
open(out + "/tree.nwk", "w").write(clade(0, m) + ";\n")
try:
    import h5py, numpy
except ImportError:
    sys.exit(0)
with h5py.File(out + "/table.h5", "w") as h5:
    h5.create_dataset("observation/ids", data=features, dtype=h5py.string_dtype())
    h5.create_dataset("sample/ids", data=samples, dtype=h5py.string_dtype())
    h5.create_dataset("observation/matrix/data", data=numpy.array([1 + (f + s) % 50 for f, s in cells], dtype="f8"))
    h5.create_dataset("observation/matrix/indices", data=numpy.array([s for f, s in cells], dtype="i4"))
    indptr = numpy.zeros(m + 1, dtype="i8")
    for f, s in cells:
        indptr[f + 1] += 1
    h5.create_dataset("observation/matrix/indptr", data=numpy.cumsum(indptr))
PY
  echo "prepare: a sparse BIOM table of 10000 samples x 100000 features with 1e6 entries," \
    "$(du -m "$work/prep/table.json" | cut -f1) MB of JSON"
fi
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
    prepare_json | prepare_hdf5)
        local table=$work/prep/table.json; [ "$2" = prepare_hdf5 ] && table=$work/prep/table.h5
        [ -f "$table" ] || { echo "$2: no table (python3-h5py missing)" >&2; echo "- - -" > "$work/$1.$2"; return; }
        rm -rf "$work/$1/study"
        measure "$1" "$2" ./Orvane-prepare -table "$table" -metadata "$work/prep/metadata.tsv" -column SampleType \
          -tree "$work/prep/tree.nwk" -o study ;;
    cv) (cd "$work/$1" && ./Orvane-folds -d "$d/samples.txt" -l "$d/labels.txt" -n 1 -k 3 -s sets -seed 5 >/dev/null)
        measure "$1" cv ./Orvane-cv -d "$d/samples.txt" -l "$d/labels.txt" -t "$d/tree.tre" -n 1 -k 3 -s sets \
          -p cv_ -r bench -w "$w" -lambda "$lambda" -j 2 ;;
  esac
}

# One row per step as soon as both builds have run it.
printf "%-12s %16s %16s %16s %22s  %s\n" step "peak MB" "wall s" "cpu s" "base/new: peak wall" same
for step in $steps; do
  for side in $sides; do run_step "$side" "$step"; done
  read -r pn wn cn < "$work/new.$step"
  if [ "$base" = none ]; then
    printf "%-12s %16s %16s %16s\n" "$step" "$pn" "$wn" "$cn"
    continue
  fi
  read -r pb wb cb < "$work/base.$step"
  case $step in train) f=model.txt ;; test) f=result.txt ;; cv) f=cv_log_detailed.txt ;; *) f=study/samples.txt ;; esac
  same=yes; cmp -s "$work/base/$f" "$work/new/$f" || same=NO
  printf "%-12s %16s %16s %16s %10s %10s  %s\n" "$step" "$pb / $pn" "$wb / $wn" "$cb / $cn" \
    "$(awk -v x="$pb" -v y="$pn" 'BEGIN { printf "%.2f", x / y }')" \
    "$(awk -v x="$wb" -v y="$wn" 'BEGIN { printf "%.2f", x / y }')" "$same"
done
