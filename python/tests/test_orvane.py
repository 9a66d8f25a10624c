"""The Python package against the programs: the same study folder, model file,
taxa and clades; names matched between fit and prediction; the tree inputs;
saved and pickled models; scikit-learn's estimator checks."""
import os
import pickle
import subprocess
import warnings
from pathlib import Path

import numpy as np
import pandas as pd
import pytest
from sklearn.exceptions import ConvergenceWarning
from sklearn.model_selection import GridSearchCV
from sklearn.utils.estimator_checks import parametrize_with_checks

import orvane

ROOT = Path(__file__).resolve().parents[2]
STUDY = ROOT / "example" / "study"


def program(name):
    """A built program: in $ORVANE_BIN, else where `make` leaves it."""
    path = Path(os.environ.get("ORVANE_BIN", ROOT)) / name
    if not os.access(path, os.X_OK):
        pytest.fail("%s is not built: run make, or set ORVANE_BIN to the folder holding it" % path)
    return str(path)


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True)


@pytest.fixture(scope="module")
def study(tmp_path_factory):
    """Orvane-prepare's folder of the example study, and read_study's (X, y, tree)."""
    folder = tmp_path_factory.mktemp("prepared") / "study"
    files = ["-table", STUDY / "table.tsv", "-metadata", STUDY / "metadata.tsv", "-column", "SampleType",
             "-tree", STUDY / "tree.nwk", "-taxonomy", STUDY / "taxonomy.tsv"]
    note = run(program("Orvane-prepare"), *files, "-o", folder).stderr
    x, y, tree = orvane.read_study(*(str(f) for f in files[1::2]))
    assert note == "".join("note: %s\n" % line for line in x.attrs["note"].split("\n"))
    return folder, x, y, tree


def read_tsv(path):
    return pd.read_csv(path, sep="\t", keep_default_na=False)


def test_read_study_gives_the_folder_of_orvane_prepare(study):
    folder, x, y, tree = study
    samples = np.loadtxt(folder / "samples.txt", delimiter="\t")
    np.testing.assert_array_equal(x.to_numpy(), samples[:, 1:])
    assert list(x.columns) == list(read_tsv(folder / "features.tsv")["feature-id"].astype(str))
    assert list(y) == list(read_tsv(folder / "samples.tsv")["class"])
    assert list(x.index) == list(read_tsv(folder / "samples.tsv")["sample-id"])
    model = orvane.TreeClassifier().fit(x, y, tree=tree)
    assert model._tree == (folder / "tree.tre").read_text()


def labels_text(y):
    """labels.txt of classes y, in Orvane-prepare's layout."""
    return "".join(">%s\n%s\n" % (name, " ".join(str(i + 1) for i in np.flatnonzero(y.to_numpy() == name)))
                   for name in sorted(set(y)))


def test_read_study_takes_the_options_of_orvane_prepare(tmp_path):
    """A table with taxa off the tree: graft=True gives Orvane-prepare -graft's
    folder; without it the short share of the reads is a UserWarning."""
    routes = ROOT / "tests" / "data" / "routes"
    files = ["-table", routes / "table.tsv", "-metadata", STUDY / "metadata.tsv", "-column", "SampleType",
             "-tree", STUDY / "tree.nwk", "-taxonomy", routes / "taxonomy.tsv"]
    run(program("Orvane-prepare"), *files, "-graft", "-group", "SampleType", "-o", tmp_path / "graft")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        x, y, tree = orvane.read_study(*(str(f) for f in files[1::2]), graft=True, group="SampleType")
    np.testing.assert_array_equal(x.to_numpy(), np.loadtxt(tmp_path / "graft" / "samples.txt")[:, 1:])
    assert labels_text(y) == (tmp_path / "graft" / "labels.txt").read_text()
    model = orvane.TreeClassifier().fit(x, y, tree=tree)
    assert model._tree == (tmp_path / "graft" / "tree.tre").read_text()
    assert x.attrs["groups"] == list(y)

    # The advice names read_study's arguments, never Orvane-prepare's options.
    graft_advice = ("To keep more: graft=True places features off the tree beside their relatives by "
                    "taxonomy, tree=\"taxonomy\" builds the tree from the taxonomy")
    with pytest.warns(UserWarning, match=r"hold only 70\.1% of the kept samples' counts") as caught:
        x, _, _ = orvane.read_study(*(str(f) for f in files[1::2]))
    assert str(caught[0].message).endswith(
        ". " + graft_advice + ", and min_count=N leaves out samples that keep fewer than N counts")
    assert "10 not on the tree" in x.attrs["note"]
    note = run(program("Orvane-prepare"), *files, "-min-count", "1000", "-missing", "Soil,Mock",
               "-o", tmp_path / "fewer").stderr
    with pytest.warns(UserWarning) as caught:
        x, y, _ = orvane.read_study(*(str(f) for f in files[1::2]), min_count=1000, missing=["Soil", "Mock"])
    assert str(caught[0].message).endswith(". " + graft_advice.replace(", tree=", " and tree="))
    assert list(x.index) == list(read_tsv(tmp_path / "fewer" / "samples.tsv")["sample-id"])
    assert "Soil" not in set(y) and "Mock" not in set(y)
    assert note.startswith("note: " + x.attrs["note"].split("\n")[0])
    with pytest.raises(ValueError, match="does not go with"):
        orvane.read_study(*(str(f) for f in files[1::2][:3]), "taxonomy", graft=True)


# solver None: the estimator's default, the converged fit.
@pytest.mark.parametrize("w, lam, solver", [(0.5, 1.0, "cyclic"), (0.4, 0.1, "cyclic"),
                                            (-1, 0.5, "cyclic"), (0.7, 0.3, "converged"),
                                            (0.5, 1.0, None)])
def test_fit_writes_the_model_file_of_orvane_train(study, tmp_path, w, lam, solver):
    folder, x, y, tree = study
    run(program("Orvane"), "-train", "-d", folder / "samples.txt", "-l", folder / "labels.txt",
        "-t", folder / "tree.tre", "-w", str(w), "-lambda", str(lam), "-solver", solver or "converged",
        "-o", tmp_path / "orvane.txt")
    chosen = {"solver": solver} if solver else {}
    model = orvane.TreeClassifier(w=w, lam=lam, **chosen).fit(x, y, tree=tree)
    assert model.solver == (solver or "converged")
    model.save(tmp_path / "python.txt")
    assert (tmp_path / "python.txt").read_bytes() == (tmp_path / "orvane.txt").read_bytes()
    assert list(model.classes_) == sorted(set(y))
    assert model.coef_.shape == (len(model.classes_), x.shape[1])
    if w == 0.5:  # the answers of Orvane-report and Orvane -test
        run(program("Orvane-report"), "-data", folder, "-c", tmp_path / "orvane.txt", "-o", tmp_path / "named")
        pd.testing.assert_frame_equal(model.selected_taxa(), read_tsv(tmp_path / "named" / "taxa.tsv"))
        # Internal node labels come from the data folder's nodes.tsv, which a fit in memory lacks.
        pd.testing.assert_frame_equal(model.selected_clades().drop(columns="label"),
                                      read_tsv(tmp_path / "named" / "clades.tsv").drop(columns="label"))
        run(program("Orvane"), "-test", "-d", folder / "samples.txt", "-c", tmp_path / "orvane.txt",
            "-o", tmp_path / "classes.txt")
        numbers = np.loadtxt(tmp_path / "classes.txt", dtype=int)
        assert list(model.predict(x)) == list(model.classes_[numbers - 1])


def test_columns_are_matched_by_name(study):
    _, x, y, tree = study
    model = orvane.TreeClassifier().fit(x, y, tree=tree)
    expected = model.predict_proba(x)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        np.testing.assert_array_equal(model.predict_proba(x[x.columns[::-1]]), expected)
    lacking = x.drop(columns=x.columns[:3])
    with pytest.warns(UserWarning, match="lacks 3 of the model's 300 features"):
        got = model.predict_proba(lacking)
    np.testing.assert_array_equal(got, model.predict_proba(x.assign(**{c: 0.0 for c in x.columns[:3]})))
    with pytest.warns(UserWarning, match="1 features the model lacks .'extra'"):
        np.testing.assert_array_equal(model.predict_proba(x.assign(extra=5.0)), expected)
    assert list(model.feature_names_in_) == list(x.columns) and model.n_features_in_ == 300


def test_duplicate_column_names_are_refused_at_fit_and_predict(study):
    _, x, y, tree = study
    twice = x.iloc[:, [0, 0, 1]]
    for t in (None, tree):
        with pytest.raises(ValueError, match="X names a feature in two columns"):
            orvane.TreeClassifier().fit(twice, y, tree=t)
    model = orvane.TreeClassifier().fit(x, y, tree=tree)
    with pytest.raises(ValueError, match="X names a feature in two columns"):
        model.predict(x.iloc[:, [0, 0] + list(range(1, x.shape[1]))])


def test_tree_as_text_path_or_scikit_bio_gives_the_same_fit(study, capfd):
    _, x, y, _ = study
    path = STUDY / "tree.nwk"
    fits = [orvane.TreeClassifier().fit(x, y, tree=t).coef_ for t in (path.read_text(), str(path), path)]
    try:
        import skbio
        fits.append(orvane.TreeClassifier().fit(x, y, tree=skbio.TreeNode.read(str(path))).coef_)
    except ImportError:
        warnings.warn("scikit-bio is not installed: its TreeNode was not tried")
    for coef in fits[1:]:
        np.testing.assert_array_equal(coef, fits[0])
    with pytest.raises(ValueError, match="1 feature.s. of the table are not tips of the tree: 'extra'"):
        orvane.TreeClassifier().fit(x.assign(extra=1.0), y, tree=path.read_text())
    with pytest.raises(ValueError, match="the tree:1: "):
        orvane.TreeClassifier().fit(x, y, tree="((a,b);")
    # The errors came as exceptions alone: the libraries printed nothing.
    assert capfd.readouterr() == ("", "")


def test_saved_and_pickled_models_predict_the_same(study, tmp_path):
    _, x, y, tree = study
    model = orvane.TreeClassifier(w=0.3, lam=0.5).fit(x, y, tree=tree)
    model.save(tmp_path / "model.txt")
    for copy in (orvane.load(tmp_path / "model.txt"), pickle.loads(pickle.dumps(model))):
        assert copy.get_params() == model.get_params()
        np.testing.assert_array_equal(copy.coef_, model.coef_)
        np.testing.assert_array_equal(copy.predict_proba(x), model.predict_proba(x))
        pd.testing.assert_frame_equal(copy.selected_clades(), model.selected_clades())
    (tmp_path / "model.txt").write_text("2 300\n1 2\n")
    with pytest.raises(ValueError, match="model.txt"):
        orvane.load(tmp_path / "model.txt")


# Six samples of two classes that no coefficients tell apart: at lambda 0 the
# converged fit runs into its iteration cap far above its tolerance.
UNSEPARATED = pd.DataFrame([[10, 11, 10], [11, 10, 10], [10, 10, 12],
                            [11, 10, 10], [10, 12, 10], [10, 10, 11]],
                           columns=["a", "b", "c"], dtype=float)
UNSEPARATED_CLASSES = ["p", "p", "p", "q", "q", "q"]
UNSEPARATED_TREE = "((a:1,b:1):1,c:1);"


def write_program_inputs(folder, x, classes, numbered_tree):
    """samples.txt, labels.txt and tree.tre of the table x (classes named in
    sorted order) for the programs."""
    rows = "".join("1\t" + "\t".join("%g" % v for v in row) + "\n" for row in x.to_numpy())
    (folder / "samples.txt").write_text(rows)
    (folder / "labels.txt").write_text(labels_text(pd.Series(classes)))
    (folder / "tree.tre").write_text(numbered_tree)


def test_a_converged_fit_keeps_its_certificate_and_warns_above_tol(tmp_path):
    """gap_ and n_iter_ are the gap and iterations Orvane -train -v reports;
    a fit stopped at the iteration cap warns once, as Orvane -train warns."""
    fitted = orvane.TreeClassifier(lam=0.01, solver="cyclic").fit(
        UNSEPARATED, UNSEPARATED_CLASSES, tree=UNSEPARATED_TREE)
    assert fitted.gap_ is None and fitted.n_iter_ is None
    write_program_inputs(tmp_path, UNSEPARATED, UNSEPARATED_CLASSES, fitted._tree)
    files = ["-d", tmp_path / "samples.txt", "-l", tmp_path / "labels.txt", "-t", tmp_path / "tree.tre"]
    for lam, stopped in ((0.01, False), (0.0, True)):
        said = run(program("Orvane"), "-train", *files, "-w", "0.5", "-lambda", str(lam), "-solver",
                   "converged", "-v", "-o", tmp_path / "orvane.txt").stderr.splitlines()
        gap, iterations = said[0].split("relative duality gap ")[1].split(" iterations")[0].split(" after ")
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            model = orvane.TreeClassifier(lam=lam).fit(UNSEPARATED, UNSEPARATED_CLASSES,
                                                       tree=UNSEPARATED_TREE)
        assert model.n_iter_ == int(iterations) and "%g" % model.gap_ == gap
        assert (model.gap_ > 1e-6) == stopped
        if stopped:
            assert said[1] == ("warning: the converged solver stopped after 20000 iterations with a "
                               "relative duality gap of %s, above -tol 1e-06" % gap)
        assert [(c.category, str(c.message)) for c in caught] == ([(
            ConvergenceWarning, "the converged fit at w 0.5, lambda 0 stopped after 20000 iterations "
            "with a relative duality gap of %s, above the tolerance 1e-06: its coefficients are not "
            "certified as the minimum" % gap)] if stopped else [])
        model.save(tmp_path / "python.txt")
        assert (tmp_path / "python.txt").read_bytes() == (tmp_path / "orvane.txt").read_bytes()
    for copy in (orvane.load(tmp_path / "python.txt"), pickle.loads(pickle.dumps(model))):
        assert (copy.gap_, copy.n_iter_, copy.tol) == (model.gap_, model.n_iter_, 1e-6)
    looser = orvane.TreeClassifier(lam=0.01, tol=1e-2).fit(UNSEPARATED, UNSEPARATED_CLASSES,
                                                            tree=UNSEPARATED_TREE)
    assert looser.gap_ <= 1e-2 and looser.n_iter_ < model.n_iter_


def test_parameters_are_checked_and_grid_search_runs_in_parallel(study):
    _, x, y, tree = study
    for bad in ({"w": 2}, {"lam": -1}, {"solver": "newton"}, {"tol": 0.5}):
        with pytest.raises(ValueError):
            orvane.TreeClassifier(**bad).fit(x, y, tree=tree)
    grid = {"w": [0.2, 0.8], "lam": [0.1, 1.0]}
    scores = [GridSearchCV(orvane.TreeClassifier(), grid, cv=3, n_jobs=jobs).fit(x, y, tree=tree)
              .cv_results_["mean_test_score"] for jobs in (1, 2)]
    np.testing.assert_array_equal(scores[0], scores[1])


@parametrize_with_checks([orvane.TreeClassifier()])
def test_scikit_learn_estimator_checks(estimator, check):
    check(estimator)
