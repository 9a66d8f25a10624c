#!/usr/bin/env python3
"""Check that a data folder made by Orvane-prepare holds a data set in Orvane's formats, up to order.

    python3 example/same_study.py DATA_FOLDER PREPARED_FOLDER

DATA_FOLDER holds samples.txt, labels.txt, tree.tre, features.tsv and sample_names.tsv (as
export_study.py reads them); PREPARED_FOLDER is what Orvane-prepare wrote from the export. The
prepared folder has its own, canonical, order of samples, features and tree children, so the
two are compared by IDs: every sample's class and counts, and the tree with its tips named by
feature ID, children in a sorted order and branch lengths as single-precision numbers.
Exits 0 when they agree, else names the first difference.
"""
import struct
import sys


def read_rows(path):
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f if line.strip()]


def as_float32(text):
    return struct.unpack("f", struct.pack("f", float(text)))[0]


def tree_text(path, ids):
    """The tree in a canonical form: tips named by ID, children sorted, lengths as floats."""
    with open(path, encoding="utf-8") as f:
        text = f.read().strip().rstrip(";")
    pos = 0

    def node():
        nonlocal pos
        children = []
        if text[pos] == "(":
            pos += 1
            children.append(node())
            while text[pos] == ",":
                pos += 1
                children.append(node())
            pos += 1  # ")"
        start = pos
        while pos < len(text) and text[pos] not in ",():":
            pos += 1
        label = text[start:pos]
        length = ""
        if pos < len(text) and text[pos] == ":":
            pos += 1
            start = pos
            while pos < len(text) and text[pos] not in ",()":
                pos += 1
            length = repr(as_float32(text[start:pos]))
        if children:
            return "(" + ",".join(sorted(children)) + ")" + ":" + length
        return ids[int(label)] + ":" + length

    return node()


def study(folder, names_file):
    ids = [row[1] for row in read_rows(folder + "/features.tsv")[names_file == "samples.tsv":]]
    names = read_rows(folder + "/" + names_file)[names_file == "samples.tsv":]
    rows = read_rows(folder + "/samples.txt")
    samples = {name[1]: (name[2], {ids[c]: as_float32(v) for c, v in enumerate(row[1:]) if float(v)})
               for name, row in zip(names, rows)}
    return samples, tree_text(folder + "/tree.tre", ids)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    data_samples, data_tree = study(sys.argv[1], "sample_names.tsv")
    samples, tree = study(sys.argv[2], "samples.tsv")
    for sample in sorted(set(data_samples) | set(samples)):
        if data_samples.get(sample) != samples.get(sample):
            sys.exit("same_study: sample %s differs (class or counts)" % sample)
    if data_tree != tree:
        sys.exit("same_study: the trees differ")


if __name__ == "__main__":
    main()
