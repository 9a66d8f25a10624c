#!/usr/bin/env python3
"""Export a data folder in Orvane's own formats as the files a study's pipeline hands a user.

    python3 example/export_study.py SOURCE_DIR OUT_DIR

SOURCE_DIR holds samples.txt, labels.txt, tree.tre, features.tsv (column number, taxon ID),
sample_names.tsv (line number, sample ID, class) and optionally taxonomy.tsv. OUT_DIR receives:

  table.tsv     the TSV export of a BIOM table: "# Constructed from biom file", a "#OTU ID" header
                with the sample IDs, one line per taxon with its counts written like 12.0
  metadata.tsv  a QIIME 2 sheet: `sample-id` then `SampleType`, with a `#q2:types` line
  tree.nwk      the study tree with taxon IDs as tips (single-quoted when Newick needs it)
  taxonomy.tsv  `Feature ID<TAB>Taxon`, copied when SOURCE_DIR has one
  table.json    the same table as BIOM 1.0 (JSON, sparse), taxa and samples in reverse order,
                each taxon's taxonomy (when known) as a list of levels in its metadata

Only the Python standard library is used, so the script runs wherever python3 does.
"""
import json
import os
import sys

# Characters that end or break an unquoted Newick label.
NEWICK_SPECIAL = set(" \t\r\n()[]':;,")


def read_rows(path):
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f if line.strip()]


def newick_label(text):
    if text and not NEWICK_SPECIAL.intersection(text):
        return text
    return "'" + text.replace("'", "''") + "'"


def count_text(field):
    # BIOM's TSV export writes counts as floats: 12 becomes 12.0.
    value = float(field)
    if value != value or value in (float("inf"), float("-inf")):
        sys.exit("export_study: non-finite count %r" % field)
    return repr(value)


def rename_tips(newick, ids):
    """Replaces every tip label (a label right after '(' or ',') by the taxon ID of its column."""
    out = []
    i = 0
    previous = ""
    while i < len(newick):
        c = newick[i]
        if c in "(),:;" or c.isspace():
            out.append(c)
            if not c.isspace():
                previous = c
            i += 1
            continue
        j = i
        while j < len(newick) and newick[j] not in "(),:;" and not newick[j].isspace():
            j += 1
        token = newick[i:j]
        if previous in ("(", ","):
            column = int(token)
            if not 0 <= column < len(ids):
                sys.exit("export_study: tree tip %s is not a feature column" % token)
            out.append(newick_label(ids[column]))
        else:
            out.append(token)  # a branch length or an internal node's support value
        previous = "label"
        i = j
    return "".join(out)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    source, target = sys.argv[1], sys.argv[2]
    features = read_rows(os.path.join(source, "features.tsv"))
    ids = [row[1] for row in sorted(features, key=lambda row: int(row[0]))]
    names = read_rows(os.path.join(source, "sample_names.tsv"))
    samples = [row[1] for row in sorted(names, key=lambda row: int(row[0]))]
    classes = [row[2] for row in sorted(names, key=lambda row: int(row[0]))]
    rows = read_rows(os.path.join(source, "samples.txt"))
    if len(rows) != len(samples):
        sys.exit("export_study: %d sample lines but %d sample names" % (len(rows), len(samples)))
    counts = [[count_text(v) for v in row[1:]] for row in rows]
    if any(len(row) != len(ids) for row in counts):
        sys.exit("export_study: a sample line does not have %d counts" % len(ids))

    os.makedirs(target, exist_ok=True)
    with open(os.path.join(target, "table.tsv"), "w", encoding="utf-8") as f:
        f.write("# Constructed from biom file\n")
        f.write("#OTU ID\t" + "\t".join(samples) + "\n")
        for column, feature in enumerate(ids):
            f.write(feature + "\t" + "\t".join(row[column] for row in counts) + "\n")
    with open(os.path.join(target, "metadata.tsv"), "w", encoding="utf-8") as f:
        f.write("sample-id\tSampleType\n#q2:types\tcategorical\n")
        for sample, label in zip(samples, classes):
            f.write(sample + "\t" + label + "\n")
    with open(os.path.join(source, "tree.tre"), encoding="utf-8") as f:
        newick = f.read().strip()
    with open(os.path.join(target, "tree.nwk"), "w", encoding="utf-8") as f:
        f.write(rename_tips(newick, ids) + "\n")
    taxonomy = os.path.join(source, "taxonomy.tsv")
    taxa = {}
    if os.path.exists(taxonomy):
        with open(taxonomy, encoding="utf-8") as f, \
             open(os.path.join(target, "taxonomy.tsv"), "w", encoding="utf-8") as g:
            g.write(f.read())
        taxa = {row[0]: row[1] for row in read_rows(taxonomy)[1:]}
    write_biom_json(os.path.join(target, "table.json"), ids, samples, counts, taxa)


def write_biom_json(path, ids, samples, counts, taxa):
    """The table as a BIOM 1.0 sparse JSON table, rows and columns in reverse order."""
    rows = list(reversed(range(len(ids))))
    columns = list(reversed(range(len(samples))))
    data = [[r, c, float(counts[sample][feature])]
            for r, feature in enumerate(rows) for c, sample in enumerate(columns)
            if float(counts[sample][feature]) != 0.0]
    biom = {
        "id": None, "format": "Biological Observation Matrix 1.0.0", "type": "OTU table",
        "generated_by": "export_study.py", "matrix_type": "sparse", "matrix_element_type": "float",
        "shape": [len(rows), len(columns)],
        "rows": [{"id": ids[f], "metadata": {"taxonomy": taxa[ids[f]].split("; ")}
                  if ids[f] in taxa else None} for f in rows],
        "columns": [{"id": samples[s], "metadata": None} for s in columns],
        "data": data,
    }
    with open(path, "w", encoding="utf-8") as f:
        json.dump(biom, f)


if __name__ == "__main__":
    main()
