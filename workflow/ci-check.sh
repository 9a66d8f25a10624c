#!/usr/bin/env bash
# Runs the model-selection workflow on example/study/ with two cores and
# checks what it chose and trained:
# - its combined cv_summary.tsv, made from one Orvane-cv job per w, is the
#   file one Orvane-cv run over the whole grid writes, byte for byte, and its
#   min point is the one the logs of that run name;
# - its final model is byte-identical to Orvane -train at the chosen point,
#   with the config's solver (converged, the workflow's default);
# - solver: cyclic gives every job -solver cyclic, and a wrong solver is refused;
# - the whole-grid figures, the nested error and the chosen point's
#   predictions were written, and the report.
# Needs the programs built in the repository root (make); installs snakemake
# with apt-get when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

if ! command -v snakemake >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends snakemake
fi
for program in Orvane Orvane-folds Orvane-cv Orvane-prepare Orvane-report; do
  if [ ! -x "$repo/$program" ]; then
    echo "error: $repo/$program was not built: run make first" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-workflow-XXXXXX")
trap 'rm -rf "$work"' EXIT
# The example config, with its study files and programs found from the
# temporary folder the workflow runs in.
sed -e "s#^\(table\|metadata\|tree\|taxonomy\): *example/#\1: $repo/example/#" \
    -e "s|^programs: .*|programs: \"$repo\"|" \
    workflow/config.yaml >"$work/config.yaml"
snakemake -s workflow/Snakefile -d "$work" --configfile "$work/config.yaml" --cores 2 --quiet

fail() { echo "error: $*" >&2; exit 1; }
results=$(sed -n 's/^results: *//p' "$work/config.yaml")
results="$work/$results"
choice=$(sed -n 's/^choice: *\([a-z0-9]*\).*/\1/p' "$work/config.yaml")
solver=$(sed -n 's/^solver: *\([a-z]*\).*/\1/p' "$work/config.yaml")
[ "$solver" = converged ] || fail "the example config's solver is ${solver:-missing}, not converged"
data="$results/data"

# One Orvane-cv run over the grid the jobs covered, on the same folds.
ws=$(awk -F '\t' 'NR > 1 && !seen[$1]++ { printf "%s%s", sep, $1; sep = "," }' "$results/cv/cv_summary.tsv")
lambdas=$(awk -F '\t' 'NR > 1 && !seen[$2]++ { printf "%s%s", sep, $2; sep = "," }' "$results/cv/cv_summary.tsv")
repetitions=$(ls "$results/folds" | wc -l)
folds=$(grep -c '^>' "$results/folds/sets0.txt")
mkdir "$work/whole"
"$repo/Orvane-cv" -d "$data/samples.txt" -l "$data/labels.txt" -t "$data/tree.tre" \
  -n "$repetitions" -k "$folds" -s "$results/folds/sets" -p "$work/whole/" -r whole \
  -w "$ws" -lambda "$lambdas" -solver "$solver" >/dev/null 2>"$work/whole.err" ||
  fail "Orvane-cv over the whole grid failed: $(cat "$work/whole.err")"
cmp "$work/whole/cv_summary.tsv" "$results/cv/cv_summary.tsv" ||
  fail "the workflow's cv_summary.tsv differs from one Orvane-cv run over the grid"
cmp "$results/cv/grid/cv_summary.tsv" "$results/cv/cv_summary.tsv" ||
  fail "the workflow's whole-grid job chose otherwise than its summary step"
for file in grid/cv_curve.svg grid/cv_nested.tsv chosen/cv_predictions.tsv chosen/cv_confusion.svg; do
  [ -s "$results/cv/$file" ] || fail "the workflow wrote no cv/$file"
done

point() { awk -F '\t' -v c="$1" 'NR > 1 && $5 ~ "(^|,)" c "(,|$)" { print $1, $2 }' "$2"; }
read -r best_w best_lambda_of_logs < <(
  best_w=$(cut -f 2 "$work/whole/log_result.txt")
  awk -F '\t' -v w="$best_w" '$1 == "Best Lambda:" && $2 == w { print $2, $3 }' \
    "$work/whole/log_detailed.txt") || fail "no best point in the logs of the whole grid"
read -r min_w min_lambda < <(point min "$results/cv/cv_summary.tsv") ||
  fail "no min point in the workflow's cv_summary.tsv"
awk -v a="$best_w" -v b="$min_w" -v c="$best_lambda_of_logs" -v d="$min_lambda" \
  'BEGIN { exit !(a + 0 == b + 0 && c + 0 == d + 0) }' ||
  fail "min point $min_w, $min_lambda is not the logs' best $best_w, $best_lambda_of_logs"

read -r w lambda < <(point "$choice" "$results/cv/cv_summary.tsv") ||
  fail "no $choice point in the workflow's cv_summary.tsv"
"$repo/Orvane" -train -d "$data/samples.txt" -l "$data/labels.txt" -t "$data/tree.tre" \
  -w "$w" -lambda "$lambda" -solver "$solver" -o "$work/direct.txt"
cmp "$work/direct.txt" "$results/model.txt" ||
  fail "the workflow's model differs from Orvane -train -w $w -lambda $lambda -solver $solver"
[ -s "$results/report/predictions.tsv" ] || fail "the report has no predictions.tsv"

# solver: cyclic reaches every Orvane-cv job and the final model; any other
# solver is refused before a job runs.
snakemake -s workflow/Snakefile -d "$work" --configfile "$work/config.yaml" --cores 1 \
  --config solver=cyclic -n -p --forcerun folds >"$work/dry.txt" 2>&1 ||
  fail "dry run with solver cyclic failed: $(cat "$work/dry.txt")"
[ "$(grep -c -- '-solver cyclic' "$work/dry.txt")" -ge 4 ] && ! grep -q -- '-solver converged' "$work/dry.txt" ||
  fail "solver cyclic does not reach every job: $(cat "$work/dry.txt")"
snakemake -s workflow/Snakefile -d "$work" --configfile "$work/config.yaml" --cores 1 \
  --config solver=newton -n >"$work/dry.txt" 2>&1 &&
  fail "solver newton was not refused"
grep -q "solver must be converged or cyclic, not 'newton'" "$work/dry.txt" ||
  fail "solver newton was refused without naming it: $(cat "$work/dry.txt")"

# With a group column, Orvane-prepare gets -group, Orvane-folds and the
# whole-grid Orvane-cv -g. A metadata sheet that pairs neighbouring samples
# (in the order of the data folder) into patients: the folds drawn from it
# must keep every pair in one fold.
awk -F '\t' -v OFS='\t' 'NR == FNR { if (FNR > 1) line[$2] = $1; next }
     FNR == 1 { print $0, "Patient"; next } $1 in line { print $0, "p" int((line[$1] + 1) / 2) }' \
  "$data/samples.tsv" "$repo/example/study/metadata.tsv" >"$work/paired.tsv"
snakemake -s workflow/Snakefile -d "$work" --configfile "$work/config.yaml" --cores 1 \
  --config group=Patient metadata="$work/paired.tsv" -n -p --forcerun prepare >"$work/dry.txt" 2>&1 ||
  fail "dry run with a group column failed: $(cat "$work/dry.txt")"
grep -q -- "-column SampleType .*-group Patient .*-o" "$work/dry.txt" ||
  fail "Orvane-prepare is not given -group: $(cat "$work/dry.txt")"
grep -q -- "-seed 1 -g [^ ]*/data/groups.tsv" "$work/dry.txt" ||
  fail "Orvane-folds is not given -g: $(cat "$work/dry.txt")"
grep -q -- "-nested [0-9]* -seed 1 -g [^ ]*/data/groups.tsv" "$work/dry.txt" ||
  fail "the nested Orvane-cv is not given -g: $(cat "$work/dry.txt")"
snakemake -s workflow/Snakefile -d "$work" --configfile "$work/config.yaml" --cores 1 --quiet \
  --config group=Patient metadata="$work/paired.tsv" results=grouped \
  -- grouped/folds/sets0.txt || fail "the grouped folds were not drawn"
for sets in "$work"/grouped/folds/sets*.txt; do
  awk 'NR % 3 == 2 { for (i = 1; i <= NF; i++) fold[$i] = NR }
       END { for (s in fold) if (fold[s] != fold[s % 2 ? s - 1 : s + 1] && (s % 2 || ((s + 1) in fold))) exit 1 }' \
    "$sets" || fail "$sets splits a pair of grouped samples"
done

# graft: true on a table holding taxa off the tree gives the folder of
# Orvane-prepare -graft, byte for byte.
off="$repo/tests/data/routes"
snakemake -s workflow/Snakefile -d "$work" --configfile "$work/config.yaml" --cores 1 --quiet \
  --config table="$off/table.tsv" taxonomy="$off/taxonomy.tsv" graft=True results=grafted \
  -- grafted/data 2>"$work/grafted.err" || fail "the grafted study failed: $(cat "$work/grafted.err")"
grep -q "^note: Orvane-prepare options: -graft$" "$work/grafted.err" ||
  fail "the run's note does not name -graft: $(cat "$work/grafted.err")"
"$repo/Orvane-prepare" -table "$off/table.tsv" -metadata "$repo/example/study/metadata.tsv" \
  -column SampleType -tree "$repo/example/study/tree.nwk" -taxonomy "$off/taxonomy.tsv" -graft \
  -o "$work/direct_graft" 2>/dev/null
for file in samples.txt labels.txt tree.tre; do
  cmp "$work/direct_graft/$file" "$work/grafted/data/$file" ||
    fail "the workflow's grafted $file differs from Orvane-prepare -graft's"
done

echo "workflow: $choice point w = $w, lambda = $lambda; model identical to Orvane -train;" \
  "grouped folds keep pairs; graft: true gives Orvane-prepare -graft's folder"
