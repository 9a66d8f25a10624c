#!/bin/sh
# End-to-end check of the study path on a real data set in Orvane's formats:
#
#   example/check_study.sh [DATA_FOLDER [SUBSET_FOLDER]] [-w W -lambda L ...]
#
# DATA_FOLDER (default ../shared/data/globalpatterns) holds samples.txt,
# labels.txt, tree.tre, features.tsv, sample_names.tsv and taxonomy.tsv. The
# script exports it as a study's files (export_study.py), prepares a data
# folder from them, and checks that
#   1. samples.txt, labels.txt and tree.tre come back byte for byte;
#   2. Orvane trains and tests on the prepared folder;
#   3. the same samples fed back through -like, with the taxa in another order
#      and an extra taxon the folder lacks, get the same predictions;
#   4. with SUBSET_FOLDER (default: DATA_FOLDER_top300 when it exists), a data
#      set of some of the same taxa whose tree was pruned by the field's tools,
#      pruning DATA_FOLDER's tree to the subset's table gives the subset's tree.
# Options after the folders go to the training run.
# Run it from the repository root after `make`. Exits 0 when every check passes.
set -eu

data=${1:-../shared/data/globalpatterns}
if [ $# -eq 0 ] && [ ! -d "$data" ]; then
    # That data set lies beside the repository only on the project's own machines.
    printf '%s\n' "check_study.sh needs a data set in Orvane's formats: $data is absent (give its folder as the first argument); nothing checked"
    exit 0
fi
[ $# -gt 0 ] && shift
subset=${data}_top300
case ${1:-} in -*|'') ;; *) subset=$1; shift ;; esac
here=$(pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

say() { printf '%s\n' "$*"; }
die() { printf 'check_study: FAILED: %s\n' "$*" >&2; exit 1; }

for program in Orvane Orvane-prepare; do
    [ -x "$here/$program" ] || die "$program not built (run make first)"
done

say "exporting $data"
python3 "$here/example/export_study.py" "$data" "$work/study"

say "preparing the data folder"
"$here/Orvane-prepare" -table "$work/study/table.tsv" -metadata "$work/study/metadata.tsv" \
    -column SampleType -tree "$work/study/tree.nwk" -taxonomy "$work/study/taxonomy.tsv" \
    -o "$work/dir"
for file in samples.txt labels.txt tree.tre; do
    cmp "$work/dir/$file" "$data/$file" || die "$file differs from $data/$file"
done
say "ok: samples.txt, labels.txt and tree.tre equal the data set's own"

say "training and testing"
"$here/Orvane" -train -d "$work/dir/samples.txt" -l "$work/dir/labels.txt" -t "$work/dir/tree.tre" \
    -o "$work/model.txt" "$@"
"$here/Orvane" -test -d "$work/dir/samples.txt" -c "$work/model.txt" -o "$work/classes.txt"

say "feeding the samples back with the taxa reversed and an unknown taxon"
{
    head -n 2 "$work/study/table.tsv"
    tail -n +3 "$work/study/table.tsv" | awk '{ line[NR] = $0 } END { for (i = NR; i > 0; i--) print line[i] }'
    awk -F'\t' 'NR == 2 { printf "not-a-taxon-of-the-study"; for (i = 2; i <= NF; i++) printf "\t7.0"; print "" }' \
        "$work/study/table.tsv"
} > "$work/shuffled.tsv"
"$here/Orvane-prepare" -table "$work/shuffled.tsv" -like "$work/dir" -o "$work/new"
cmp "$work/new/samples.txt" "$work/dir/samples.txt" || die "-like did not restore the column order"
"$here/Orvane" -test -d "$work/new/samples.txt" -c "$work/model.txt" -o "$work/classes-like.txt"
cmp "$work/classes.txt" "$work/classes-like.txt" || die "predictions differ after -like"
say "ok: the same samples.txt and the same predictions, sample by sample"

if [ -x "$here/Orvane-report" ]; then
    say "reporting"
    "$here/Orvane-report" -data "$work/dir" -c "$work/model.txt" -o "$work/report"
    "$here/Orvane-report" -data "$work/dir" -c "$work/model.txt" -o "$work/report-like" -samples "$work/new"
    cmp "$work/report/predictions.tsv" "$work/report-like/predictions.tsv" ||
        die "named predictions differ after -like"
    say "ok: the same named predictions"
fi
if [ -d "$subset" ]; then
    say "pruning the tree to the table of $subset"
    python3 "$here/example/export_study.py" "$subset" "$work/subset"
    "$here/Orvane-prepare" -table "$work/subset/table.tsv" -metadata "$work/subset/metadata.tsv" \
        -column SampleType -tree "$work/study/tree.nwk" -o "$work/pruned"
    cmp "$work/pruned/tree.tre" "$subset/tree.tre" || die "the pruned tree differs from $subset/tree.tre"
    say "ok: the pruned tree equals $subset/tree.tre"
fi
say "all checks passed"
