#!/bin/bash
# Checks that this checkout's Orvane-prepare writes the same folder, byte for byte, as a baseline
# commit's for the example study (example/study) in every table format it reads: BIOM's TSV export,
# samples as rows in CSV, BIOM 1.0 JSON sparse (one line) and dense (pretty-printed), BIOM 2.1
# HDF5 (when python3-h5py is installed), and each text format gzipped. Prints one line per format
# and "same N, different M"; exit status 0 when every folder is the same.
# usage (from the project root, after make): bench/prepare_formats.sh [BASE]   default: main
# BASE_PREPARE=path/to/Orvane-prepare uses that program as the baseline instead of building BASE.
set -eu
base=${1:-main}
root=$(git rev-parse --show-toplevel)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

baseline=${BASE_PREPARE:-$work/base/build/app/Orvane-prepare}
if [ -z "${BASE_PREPARE:-}" ]; then
  mkdir "$work/base"
  git -C "$root" archive "$base" | tar -x -C "$work/base"
  cmake -S "$work/base" -B "$work/base/build" -DORVANE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$work/base/build" -j 2 --target Orvane-prepare >/dev/null
fi

mkdir "$work/formats"
python3 - "$root/example/study/table.tsv" "$work/formats" <<'PY'
import csv, gzip, json, sys
source, out = sys.argv[1], sys.argv[2]
rows = [line.rstrip("\n").split("\t") for line in open(source) if not line.startswith("# ")]
samples, features = rows[0][1:], [r[0] for r in rows[1:]]
counts = [[float(x) for x in r[1:]] for r in rows[1:]]  # features x samples
def save(name, text):
    open(f"{out}/{name}", "w").write(text)
    with gzip.open(f"{out}/{name}.gz", "wt") as packed:
        packed.write(text)
save("table.tsv", open(source).read())
lines = ["," + ",".join(features)] + [
    s + "," + ",".join(repr(counts[f][j]) for f in range(len(features))) for j, s in enumerate(samples)]
save("table.csv", "\r\n".join(lines) + "\r\n")
base = {"id": None, "format": "Biological Observation Matrix 1.0.0", "type": "OTU table",
        "rows": [{"id": f, "metadata": None} for f in features],
        "columns": [{"id": s, "metadata": None} for s in samples],
        "shape": [len(features), len(samples)]}
sparse = dict(base, matrix_type="sparse",
              data=[[f, j, v] for f, row in enumerate(counts) for j, v in enumerate(row) if v != 0])
dense = dict(base, matrix_type="dense", data=counts)
save("sparse.json", json.dumps(sparse))
save("dense.json", json.dumps(dense, indent=1))
try:
    import h5py, numpy
except ImportError:
    sys.exit(0)
with h5py.File(f"{out}/table.h5", "w") as h5:
    text = h5py.string_dtype()
    h5.create_dataset("observation/ids", data=features, dtype=text)
    h5.create_dataset("sample/ids", data=samples, dtype=text)
    data, indices, indptr = [], [], [0]
    for row in counts:
        for j, v in enumerate(row):
            if v != 0:
                data.append(v); indices.append(j)
        indptr.append(len(data))
    h5.create_dataset("observation/matrix/data", data=numpy.array(data, dtype="f8"))
    h5.create_dataset("observation/matrix/indices", data=numpy.array(indices, dtype="i4"))
    h5.create_dataset("observation/matrix/indptr", data=numpy.array(indptr, dtype="i4"))
PY

study="-metadata $root/example/study/metadata.tsv -column SampleType -tree $root/example/study/tree.nwk"
same=0; different=0
for table in "$work"/formats/*; do
  name=$(basename "$table")
  for side in base new; do
    program=$baseline
    [ $side = new ] && program=$root/Orvane-prepare
    rm -rf "$work/$side-out"
    $program -table "$table" $study -o "$work/$side-out" 2>"$work/$side-messages" || true
  done
  if diff -r "$work/base-out" "$work/new-out" >/dev/null 2>&1 && cmp -s "$work/base-messages" "$work/new-messages"; then
    same=$((same + 1)); echo "same: $name"
  else
    different=$((different + 1)); echo "differs: $name"
  fi
done
echo "same $same, different $different ($base -> this checkout)"
[ "$different" = 0 ]
