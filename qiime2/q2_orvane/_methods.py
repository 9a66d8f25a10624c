"""The plugin's actions, each a few lines over the Python package orvane:
QIIME 2 hands over its artifacts as pandas and scikit-bio objects, orvane does
the work and raises ValueError with its own message on bad input."""
import contextlib
import os
import re
import tempfile
import warnings

import pandas as pd
import qiime2
import skbio

import orvane
from orvane import _core

from ._model import FittedModel


def _some(names, shown=5):
    listed = ", ".join("'%s'" % n for n in list(names)[:shown])
    return listed + (", ..." if len(names) > shown else "")


@contextlib.contextmanager
def _warnings_as_lines():
    """Prints the warnings raised inside as "warning: ..." lines, which QIIME 2
    shows with --verbose beside the plugin's other notes."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        yield
    for warning in caught:
        print("warning: %s" % warning.message)


def _classes(table, metadata):
    """The class of each sample of the table that has one in the metadata
    column, by sample ID in the table's order. The others are left out with a
    warning line; fewer than two classes left is an error."""
    classes = metadata.drop_missing_values().to_series().astype(str)
    kept = [s for s in table.index if s in classes.index]
    if not kept:
        raise ValueError("no sample of the table has a value in the metadata column '%s'"
                         % metadata.name)
    left_out = [s for s in table.index if s not in classes.index]
    if left_out:
        print("warning: %d of the table's %d samples %s no value in the metadata column '%s' "
              "and %s left out: %s" % (len(left_out), len(table.index),
                                       "has" if len(left_out) == 1 else "have", metadata.name,
                                       "is" if len(left_out) == 1 else "are", _some(left_out)))
    y = classes.loc[kept].rename(metadata.name)
    if y.nunique() < 2:
        raise ValueError("the %d samples of the table with a value in the metadata column '%s' "
                         "are all of class '%s': the classifier needs samples of at least two "
                         "classes" % (len(y), metadata.name, y.iloc[0]))
    return y


def _study(table, metadata, phylogeny, taxonomy):
    """(X, y, taxonomy) of the table's samples that have a class in the column."""
    y = _classes(table, metadata)
    x = table.loc[y.index]
    x.columns = [str(c) for c in x.columns]
    tips = {tip.name for tip in phylogeny.tips()}
    off_tree = [f for f in x.columns if f not in tips]
    if off_tree:
        raise ValueError("%d feature(s) of the table are not tips of the tree (--i-phylogeny): %s; "
                         "--p-graft places them beside their relatives on it by their taxonomy "
                         "(--i-taxonomy)" % (len(off_tree), _some(off_tree)))
    lineage = None if taxonomy is None else {str(k): v for k, v in taxonomy.items()}
    return x, y, lineage


# The inputs the user gave that the temporary files of a grafted study hold.
GRAFT_FILES = {"table.tsv": "the table (--i-table)", "metadata.tsv": "the metadata (--m-metadata-file)",
               "tree.nwk": "the tree (--i-phylogeny)", "taxonomy.tsv": "the taxonomy (--i-taxonomy)"}


def _named_inputs(text, paths):
    """text with each temporary file's path, and the line number after it if
    any (of a file the user never saw), replaced by the input the user gave."""
    for name, path in paths.items():
        text = re.sub(re.escape(path) + r"(:\d+)?", GRAFT_FILES[name], text)
    return text


def _without_program_advice(warning):
    """read_study's warning without its advice ("To keep more:
    tree=\"taxonomy\" ..., min_count=N ..."): with --p-graft on, the options
    it suggests are ones the plugin does not have."""
    return warning.partition(". To keep more: ")[0]


def _grafted_study(table, metadata, phylogeny, taxonomy):
    """(X, y, lineage, tree) of the study read by orvane.read_study with
    graft=True, so that features off the tree are placed beside their
    relatives by taxonomy just as Orvane-prepare -graft places them. The
    artifacts are written to a temporary folder in the formats read_study
    reads, and the folder is removed afterwards; messages name the inputs the
    user gave instead of those files."""
    if taxonomy is None:
        raise ValueError("--p-graft places features off the tree by their taxonomy: "
                         "give --i-taxonomy")
    classes = _classes(table, metadata)
    with tempfile.TemporaryDirectory(prefix="q2-orvane-") as folder:
        paths = {name: os.path.join(folder, name) for name in GRAFT_FILES}
        with open(paths["table.tsv"], "w", encoding="utf-8") as out:
            out.write("#OTU ID\t" + "\t".join(str(s) for s in table.index) + "\n")
            for feature, counts in table.T.iterrows():
                out.write(str(feature) + "\t" + "\t".join("%.17g" % v for v in counts) + "\n")
        # QIIME 2 has already told the samples with a class from those
        # without: the others are written empty, and missing=[] below keeps
        # every value written a class (such as "unknown", as without graft).
        with open(paths["metadata.tsv"], "w", encoding="utf-8") as out:
            out.write("sample-id\t%s\n" % metadata.name)
            out.writelines("%s\t%s\n" % (sample, classes.get(sample, "")) for sample in table.index)
        phylogeny.write(paths["tree.nwk"], format="newick")
        with open(paths["taxonomy.tsv"], "w", encoding="utf-8") as out:
            out.write("Feature ID\tTaxon\n")
            out.writelines("%s\t%s\n" % item for item in taxonomy.items())
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                x, y, tree = orvane.read_study(paths["table.tsv"], paths["metadata.tsv"],
                                               metadata.name, paths["tree.nwk"],
                                               paths["taxonomy.tsv"], "features", graft=True,
                                               missing=[])
            except ValueError as error:
                raise ValueError(_named_inputs(str(error), paths)) from None
    # Shown with --verbose beside the cross-validation's summary, as
    # Orvane-prepare prints its note and warning.
    print(_named_inputs(x.attrs["note"], paths))
    for warning in caught:
        print("warning: %s" % _without_program_advice(_named_inputs(str(warning.message), paths)))
    return x, y, x.attrs.get("taxonomy"), tree


def _inputs(table, metadata, phylogeny, taxonomy, graft):
    """(X, y, lineage, tree) to fit: the table as it is, or grafted."""
    if graft:
        return _grafted_study(table, metadata, phylogeny, taxonomy)
    return _study(table, metadata, phylogeny, taxonomy) + (phylogeny,)


def _selected(classifier):
    """The coefficient of each class (columns) of every taxon the model keeps in
    some class (rows, feature IDs); every taxon when it keeps none."""
    coefficients = pd.DataFrame(classifier.coef_.T, columns=[str(c) for c in classifier.classes_],
                                index=pd.Index(classifier._features, name="feature-id"))
    kept = (coefficients != 0).any(axis=1)
    return coefficients[kept] if kept.any() else coefficients


def _check_grid(w, lambdas, cv_folds):
    if cv_folds == 0 and (len(w) != 1 or (lambdas is not None and len(lambdas) != 1)):
        raise ValueError("several values of w or lambdas need a cross-validation to choose "
                         "among them: give --p-cv-folds")


def fit_classifier(table: pd.DataFrame, phylogeny: skbio.TreeNode,
                   metadata: qiime2.CategoricalMetadataColumn, taxonomy: pd.Series = None,
                   w: list = None, lambdas: list = None, cv_folds: int = 0,
                   cv_repetitions: int = 1, n_lambdas: int = 20, lambda_ratio: float = 0.001,
                   rule: str = "min", solver: str = "converged", random_seed: int = 1,
                   n_jobs: int = 1, graft: bool = False) -> (FittedModel, pd.DataFrame):
    w = list(w or [0.5])
    _check_grid(w, lambdas, cv_folds)
    x, y, lineage, tree = _inputs(table, metadata, phylogeny, taxonomy, graft)
    if cv_folds == 0:
        lam = lambdas[0] if lambdas else 1.0
        classifier = orvane.TreeClassifier(w=w[0], lam=lam, solver=solver)
        with _warnings_as_lines():
            classifier.fit(x, y, tree=tree, taxonomy=lineage)
        return FittedModel(classifier), _selected(classifier)
    search = orvane.TreeClassifierCV(
        ws=w, lambdas=lambdas or "auto", cv=cv_folds, n_repeats=cv_repetitions, rule=rule,
        solver=solver, n_lambdas=n_lambdas, lambda_ratio=lambda_ratio, random_state=random_seed,
        n_jobs=n_jobs)
    with _warnings_as_lines():
        search.fit(x, y, tree=tree, taxonomy=lineage)
    print(search.summary_ + search.warnings_, end="")
    files = {"cv_summary.tsv": search.summary_, "cv_curve.svg": search.curve_svg_}
    return FittedModel(search.best_estimator_, files), _selected(search.best_estimator_)


def _predictions(classifier, x):
    predicted = pd.Series(classifier.predict(x).astype(str), index=pd.Index(x.index, name="SampleID"),
                          name="prediction")
    probabilities = pd.DataFrame(classifier.predict_proba(x), index=pd.Index(x.index, name="SampleID"),
                                 columns=[str(c) for c in classifier.classes_])
    return predicted, probabilities


def predict(model: FittedModel, table: pd.DataFrame) -> (pd.Series, pd.DataFrame):
    x = table.copy()
    x.columns = [str(c) for c in x.columns]
    return _predictions(model.classifier, x)


def classify_samples(table: pd.DataFrame, phylogeny: skbio.TreeNode,
                     metadata: qiime2.CategoricalMetadataColumn, taxonomy: pd.Series = None,
                     w: list = None, lambdas: list = None, cv_folds: int = 5,
                     cv_repetitions: int = 1, inner_folds: int = 3, n_lambdas: int = 20,
                     lambda_ratio: float = 0.001, random_seed: int = 1,
                     n_jobs: int = 1, graft: bool = False
                     ) -> (FittedModel, pd.DataFrame, pd.Series, pd.DataFrame):
    """The nested cross-validation: each outer fold chooses (w, lambda) on its own
    training samples and is tested at that choice; the predictions are those
    honest ones (of the first repetition), and the model is fitted on every
    sample at the point of least mean error."""
    x, y, lineage, tree = _inputs(table, metadata, phylogeny, taxonomy, graft)
    search = orvane.TreeClassifierCV(
        ws=list(w or [0.5]), lambdas=lambdas or "auto", cv=cv_folds, n_repeats=cv_repetitions,
        solver="cyclic", n_lambdas=n_lambdas, lambda_ratio=lambda_ratio,
        random_state=random_seed, n_jobs=n_jobs, nested=inner_folds)
    search.fit(x, y, tree=tree, taxonomy=lineage)
    print(search.summary_ + search.warnings_, end="")
    print("nested cross-validation error: %g (standard error %g)"
          % (search.nested_error_, search.nested_std_error_))
    predicted, probabilities = _nested_predictions(search, x, y, tree)
    files = {"cv_summary.tsv": search.summary_, "cv_curve.svg": search.curve_svg_,
             "cv_nested.tsv": search.nested_table_}
    model = search.best_estimator_
    return FittedModel(model, files), _selected(model), predicted, probabilities


def _nested_predictions(search, x, y, tree):
    """Each held-out sample of the first repetition predicted by a model fitted
    on its fold's training samples at the point that fold chose."""
    predicted, probabilities = [], []
    for _, fold in search.nested_[search.nested_["repetition"] == 0].iterrows():
        train, test = search.splits_[0][int(fold["fold"])]
        classifier = orvane.TreeClassifier(w=fold["w"], lam=fold["lambda"], solver="cyclic")
        classifier.fit(x.iloc[train], y.iloc[train], tree=tree)
        labels, chances = _predictions(classifier, x.iloc[test])
        predicted.append(labels)
        probabilities.append(chances.reindex(columns=[str(c) for c in search.classes_], fill_value=0.0))
    order = pd.Index(x.index, name="SampleID")
    return pd.concat(predicted).reindex(order), pd.concat(probabilities).reindex(order)


def report(output_dir: str, model: FittedModel, table: pd.DataFrame) -> None:
    """index.html: Orvane-report's page of the model with the table's samples
    predicted, and the cross-validation that chose the model when it carries one."""
    classifier = model.classifier
    x = table.copy()
    x.columns = [str(c) for c in x.columns]
    _, predicted, probabilities = classifier._classified(x)
    page = _core.report_page(
        classifier._beta, classifier._tree, classifier._features, classifier._taxonomy,
        [str(c) for c in classifier.classes_], [str(s) for s in x.index], predicted.tolist(),
        probabilities.tolist(), "model", "table", model.cv_files.get("cv_summary.tsv", ""),
        model.cv_files.get("cv_nested.tsv", ""), model.cv_files.get("cv_curve.svg", ""))
    with open(os.path.join(output_dir, "index.html"), "w", encoding="utf-8") as out:
        out.write(page)
