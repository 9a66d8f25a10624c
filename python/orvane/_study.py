"""read_study: a study's files read and matched as Orvane-prepare reads them."""
import os
import warnings

import pandas as pd

from . import _core


def read_study(table, metadata, column, tree, taxonomy=None, orientation=None, *, graft=False,
               min_count=None, missing=None, group=None):
    """(X, y, tree) of the study, as Orvane-prepare's data folder holds it.

    table: the feature table (BIOM TSV export, samples as rows, BIOM 1.0 JSON,
    or BIOM 2.1 where built with HDF5); metadata: the sheet with the class
    column `column`; tree: the Newick tree of the features, or "taxonomy" to
    build it from the features' taxonomy; taxonomy: an optional taxonomy
    sheet. X has the kept samples as rows and the kept features as columns,
    in the table's order, with the taxonomy (when there is one) in
    X.attrs["taxonomy"]; y holds the class names; tree is the Newick text of
    the tree pruned to X's features. X.attrs["note"] says what was kept; when
    the kept features hold too little of the reads, a UserWarning says so
    and names the arguments of read_study that could keep more.
    orientation: "features" or "samples" when the table's header cannot tell.
    The options of Orvane-prepare: graft=True places features off the tree
    beside their relatives by taxonomy (-graft); min_count leaves out samples
    whose kept features count fewer reads (-min-count); missing, a list of
    class values, replaces the usual markers of "no class" (-missing); group,
    a metadata column, puts each sample's group in X.attrs["groups"] (a list
    in X's row order, for scikit-learn's GroupKFold) (-group).
    """
    if graft and str(tree) == "taxonomy":
        raise ValueError("graft=True does not go with tree=\"taxonomy\" (every feature with a "
                         "taxonomy is on that tree)")
    if isinstance(missing, str):
        missing = [missing]
    if missing is not None and any("," in str(value) for value in missing):
        raise ValueError("missing: give a list of values, none holding a comma")
    study = _core.read_study(os.fspath(table), os.fspath(metadata), column, os.fspath(tree),
                             os.fspath(taxonomy) if taxonomy is not None else "",
                             orientation or "", bool(graft),
                             "" if min_count is None else str(min_count),
                             None if missing is None else ",".join(str(v) for v in missing),
                             group or "")
    index = pd.Index(study["samples"], name="sample-id")
    x = pd.DataFrame(study["counts"].astype("float64"), index=index,
                     columns=pd.Index(study["features"], name="feature-id"))
    if study["taxonomy"] is not None:
        x.attrs["taxonomy"] = dict(zip(study["features"], study["taxonomy"]))
    if study["groups"] is not None:
        x.attrs["groups"] = list(study["groups"])
    x.attrs["note"] = study["note"]
    if study["warning"]:
        warnings.warn(study["warning"], UserWarning, stacklevel=2)
    y = pd.Series(study["classes"], index=index, name=column)
    return x, y, study["tree"]
