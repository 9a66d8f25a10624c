#!/bin/sh
# End-to-end check of the study path on a real data set in Orvane's formats:
#
#   example/check_study.sh [DATA_FOLDER [SUBSET_FOLDER]] [-w W -lambda L ...]
#
# DATA_FOLDER (default ../shared/data/globalpatterns) holds samples.txt,
# labels.txt, tree.tre, features.tsv, sample_names.tsv and taxonomy.tsv. The
# script exports it as a study's files (export_study.py), prepares a data
# folder from them, and checks that
#   1. the folder holds the data set's samples, classes, counts and tree, in
#      its own canonical order (same_study.py compares them by ID);
#   2. the same study exported as gzipped BIOM 1.0 JSON, taxa and samples in
#      reverse order and the taxonomy inside, with a gzipped tree, gives the
#      same folder, byte for byte;
#   3. Orvane trains and tests on the prepared folder;
#   4. the same samples fed back through -like, with the taxa in another order
#      and an extra taxon the folder lacks, get the same predictions;
#   5. with SUBSET_FOLDER (default: DATA_FOLDER_top300 when it exists), a data
#      set of some of the same taxa whose tree was pruned by the field's tools,
#      pruning DATA_FOLDER's tree to the subset's table gives the folder of the
#      subset's own tree.
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
python3 "$here/example/same_study.py" "$data" "$work/dir" || die "the folder differs from $data"
say "ok: the folder holds the data set's samples, classes, counts and tree"

say "preparing the gzipped BIOM 1.0 (JSON) export with a gzipped tree"
gzip -c "$work/study/table.json" > "$work/study/table.biom.gz"
gzip -c "$work/study/tree.nwk" > "$work/study/tree.nwk.gz"
"$here/Orvane-prepare" -table "$work/study/table.biom.gz" -metadata "$work/study/metadata.tsv" \
    -column SampleType -tree "$work/study/tree.nwk.gz" -o "$work/json" 2>/dev/null
for file in samples.txt labels.txt tree.tre features.tsv samples.tsv classes.tsv dropped.tsv; do
    cmp "$work/json/$file" "$work/dir/$file" || die "$file of the JSON export differs"
done
say "ok: the same folder, byte for byte"

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
"$here/Orvane" -test -d "$work/new/samples.txt" -c "$work/model.txt" -o "$work/classes-like.txt"
# The folder's samples are in ID order, the new ones in the table's: compare by sample ID.
by_id() {  # samples.tsv classes.txt
    tail -n +2 "$1" | cut -f2 > "$work/ids"
    paste "$work/ids" "$2" | sort
}
by_id "$work/dir/samples.tsv" "$work/classes.txt" > "$work/predicted"
by_id "$work/new/samples.tsv" "$work/classes-like.txt" > "$work/predicted-like"
cmp "$work/predicted" "$work/predicted-like" || die "predictions differ after -like"
say "ok: the same predictions, sample by sample"

if [ -x "$here/Orvane-report" ]; then
    say "reporting"
    "$here/Orvane-report" -data "$work/dir" -c "$work/model.txt" -o "$work/report"
    "$here/Orvane-report" -data "$work/dir" -c "$work/model.txt" -o "$work/report-like" -samples "$work/new"
    sort "$work/report/predictions.tsv" > "$work/named"
    sort "$work/report-like/predictions.tsv" > "$work/named-like"
    cmp "$work/named" "$work/named-like" || die "named predictions differ after -like"
    say "ok: the same named predictions"
fi
if [ -d "$subset" ]; then
    say "pruning the tree to the table of $subset"
    python3 "$here/example/export_study.py" "$subset" "$work/subset"
    "$here/Orvane-prepare" -table "$work/subset/table.tsv" -metadata "$work/subset/metadata.tsv" \
        -column SampleType -tree "$work/study/tree.nwk" -o "$work/pruned" 2>/dev/null
    "$here/Orvane-prepare" -table "$work/subset/table.tsv" -metadata "$work/subset/metadata.tsv" \
        -column SampleType -tree "$work/subset/tree.nwk" -o "$work/subset-dir" 2>/dev/null
    cmp "$work/pruned/tree.tre" "$work/subset-dir/tree.tre" ||
        die "the pruned tree differs from the one of $subset"
    say "ok: the pruned tree equals the one of $subset"
fi
say "all checks passed"
