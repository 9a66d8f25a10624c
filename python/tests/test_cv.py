"""TreeClassifierCV against Orvane-cv: the same summary, choices and nested
errors at the same grid points on the same folds (drawn by Orvane-folds, or
given by the caller), and the refitted model at the chosen point."""
import io

import matplotlib
import numpy as np
import pandas as pd
import pytest

import warnings

from sklearn.exceptions import ConvergenceWarning

import orvane
from test_orvane import (STUDY, UNSEPARATED, UNSEPARATED_CLASSES, UNSEPARATED_TREE, program, run,
                         write_program_inputs)

matplotlib.use("Agg")


@pytest.fixture(scope="module")
def prepared(tmp_path_factory):
    """Orvane-prepare's folder of the example study and read_study's (X, y, tree)."""
    folder = tmp_path_factory.mktemp("cv")
    files = [STUDY / "table.tsv", STUDY / "metadata.tsv", "SampleType", STUDY / "tree.nwk"]
    run(program("Orvane-prepare"), "-table", files[0], "-metadata", files[1], "-column", files[2],
        "-tree", files[3], "-o", folder / "study")
    return folder, orvane.read_study(*(str(f) for f in files))


def orvane_cv(folder, name, folds, cv):
    """Orvane-folds with the options `folds`, then Orvane-cv with the same -n
    and -k and the options `cv`, on the prepared study; the run's files by name."""
    study = folder / "study"
    sets, logs = folder / (name + "-sets"), folder / (name + "-")
    run(program("Orvane-folds"), "-d", study / "samples.txt", "-l", study / "labels.txt", "-s", sets,
        *folds.split())
    size = folds.split()[:4]
    run(program("Orvane-cv"), "-d", study / "samples.txt", "-l", study / "labels.txt",
        "-t", study / "tree.tre", "-s", sets, "-p", logs, *size, *cv.split())
    return {f: (folder / (name + "-" + f)).read_text()
            for f in ("cv_summary.tsv", "cv_nested.tsv", "cv_curve.svg")
            if (folder / (name + "-" + f)).exists()}, sets


def test_the_search_is_orvane_cvs_on_the_folds_it_draws(prepared):
    folder, (x, y, tree) = prepared
    files, _ = orvane_cv(folder, "auto", "-n 2 -k 3 -seed 7",
                         "-w 0.2,0.5 -lambda auto -nlambda 5 -solver converged -j 2")
    search = orvane.TreeClassifierCV(ws=[0.2, 0.5], lambdas="auto", n_lambdas=5, cv=3, n_repeats=2,
                                     random_state=7, n_jobs=2, rule="1se").fit(x, y, tree=tree)
    assert search.summary_ == files["cv_summary.tsv"]
    assert search.curve_svg_ == files["cv_curve.svg"]
    summary = pd.read_csv(io.StringIO(files["cv_summary.tsv"]), sep="\t")
    chosen = summary[summary["choice"].str.contains("1se")].iloc[0]
    assert search.best_params_ == {"w": chosen["w"], "lam": chosen["lambda"]}
    assert len(search.cv_results_["params"]) == 10 and "split5_test_error" in search.cv_results_
    np.testing.assert_allclose(search.cv_results_["mean_test_error"], summary["mean_error"], rtol=1e-5)
    alone = orvane.TreeClassifier(w=chosen["w"], lam=chosen["lambda"], solver="converged").fit(x, y, tree=tree)
    np.testing.assert_array_equal(search.coef_, alone.coef_)
    assert list(search.predict(x)) == list(alone.predict(x))

    ax = search.plot_path()
    assert len(ax.get_lines()) >= 2 and ax.get_xscale() == "log"
    picture = io.BytesIO()
    ax.figure.savefig(picture, format="png")
    assert picture.getvalue()[:4] == b"\x89PNG"


def sets_file_splits(path):
    """The (training, test) pairs of a sets file, fold by fold."""
    lines = path.read_text().splitlines()
    return [([int(s) for s in lines[b + 2].split()], [int(s) for s in lines[b + 1].split()])
            for b in range(0, len(lines), 3)]


def test_given_folds_groups_and_the_nested_error_are_orvane_cvs(prepared):
    folder, (x, y, tree) = prepared
    files, sets = orvane_cv(folder, "nested", "-n 1 -k 3 -seed 3",
                            "-w 0.5 -lambda 0.3,1 -nested 2 -seed 1")
    search = orvane.TreeClassifierCV(ws=[0.5], lambdas=[0.3, 1], cv=sets_file_splits(sets.with_name(
        sets.name + "0.txt")), solver="cyclic", nested=2, random_state=1, refit=False)
    search.fit(x, y, tree=tree)
    assert search.summary_ == files["cv_summary.tsv"]
    assert search.nested_table_ == files["cv_nested.tsv"]
    assert list(search.nested_["fold"]) == [0, 1, 2]
    assert not hasattr(search, "best_estimator_")

    # Two samples per group, in the order of their first sample.
    groups = pd.Series(["g%d" % (i // 2) for i in range(len(x))], index=x.index)
    groups_file = folder / "groups.tsv"
    groups_file.write_text("line\tgroup\n" + "".join("%d\t%s\n" % (i + 1, g) for i, g in enumerate(groups)))
    files, _ = orvane_cv(folder, "groups", "-n 1 -k 4 -g %s" % groups_file, "-w 0.5 -lambda 1")
    search = orvane.TreeClassifierCV(ws=[0.5], lambdas=[1], cv=4, groups=groups.iloc[::-1],
                                     solver="cyclic").fit(x, y, tree=tree)
    assert search.summary_ == files["cv_summary.tsv"]
    for train, test in search.splits_[0]:
        assert not set(groups.iloc[train]) & set(groups.iloc[test])


def test_bad_settings_are_refused_with_what_is_wrong(prepared):
    _, (x, y, tree) = prepared
    for settings, message in [({"rule": "max"}, "rule='max'"), ({"ws": [0.5, 2]}, "each w"),
                              ({"lambdas": "many"}, "lambdas='many'"), ({"cv": 40}, "40 folds"),
                              ({"nested": 2}, "nested=2"), ({"lambdas": [-1]}, "lambdas")]:
        with pytest.raises(ValueError, match=message):
            orvane.TreeClassifierCV(**settings).fit(x, y, tree=tree)
    with pytest.raises(ValueError, match="not tips of the tree"):
        orvane.TreeClassifierCV(cv=3).fit(x, y, tree="(%s,%s);" % tuple(x.columns[:2]))


def test_fits_stopped_above_tol_are_counted_in_one_warning_as_orvane_cv_counts_them(tmp_path):
    """At lambda 0 the folds' converged fits of a table that no coefficients
    separate stop at the iteration cap: the search says how many, with the
    largest gap, as Orvane-cv does on the same folds; the refit at the chosen
    lambda, 0.01, converges and says nothing more."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        search = orvane.TreeClassifierCV(lambdas=[0, 0.01], cv=3, random_state=2).fit(
            UNSEPARATED, UNSEPARATED_CLASSES, tree=UNSEPARATED_TREE)
    assert [c.category for c in caught] == [ConvergenceWarning]
    assert search.best_params_["lam"] == pytest.approx(0.01) and search.best_estimator_.gap_ <= 1e-6

    write_program_inputs(tmp_path, UNSEPARATED, UNSEPARATED_CLASSES, search.best_estimator_._tree)
    files = ["-d", tmp_path / "samples.txt", "-l", tmp_path / "labels.txt"]
    run(program("Orvane-folds"), *files, "-n", "1", "-k", "3", "-seed", "2", "-s", tmp_path / "sets")
    said = run(program("Orvane-cv"), *files, "-t", tmp_path / "tree.tre", "-n", "1", "-k", "3",
               "-s", tmp_path / "sets", "-p", tmp_path / "cv-", "-w", "0.5", "-lambda", "0,0.01",
               "-solver", "converged").stderr
    assert search.summary_ == (tmp_path / "cv-cv_summary.tsv").read_text()
    counted = [line for line in said.splitlines() if "converged fits" in line]
    assert counted == ["warning: " + str(caught[0].message).replace("the tolerance", "-tol")]
    assert str(caught[0].message).startswith("3 of 6 converged fits stopped after 20000 iterations")
