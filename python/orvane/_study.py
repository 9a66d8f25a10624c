"""read_study: a study's files read and matched as Orvane-prepare reads them."""
import os

import pandas as pd

from . import _core


def read_study(table, metadata, column, tree, taxonomy=None, orientation=None):
    """(X, y, tree) of the study, as Orvane-prepare's data folder holds it.

    table: the feature table (BIOM TSV export, samples as rows, or BIOM 2.1
    where built with HDF5); metadata: the sheet with the class column `column`;
    tree: the Newick tree of the features; taxonomy: an optional taxonomy
    sheet. X has the kept samples as rows and the kept features as columns,
    in the table's order, with the taxonomy (when there is one) in
    X.attrs["taxonomy"]; y holds the class names; tree is the Newick text of
    the tree pruned to X's features. X.attrs["note"] says what was kept.
    orientation: "features" or "samples" when the table's header cannot tell.
    """
    study = _core.read_study(os.fspath(table), os.fspath(metadata), column, os.fspath(tree),
                             os.fspath(taxonomy) if taxonomy is not None else "",
                             orientation or "")
    index = pd.Index(study["samples"], name="sample-id")
    x = pd.DataFrame(study["counts"].astype("float64"), index=index,
                     columns=pd.Index(study["features"], name="feature-id"))
    if study["taxonomy"] is not None:
        x.attrs["taxonomy"] = dict(zip(study["features"], study["taxonomy"]))
    x.attrs["note"] = study["note"]
    y = pd.Series(study["classes"], index=index, name=column)
    return x, y, study["tree"]
