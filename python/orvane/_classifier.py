"""TreeClassifier: Orvane's tree-regularised multinomial logistic regression
as a scikit-learn classifier, with features matched by name."""
import base64
import io
import json
import os
import warnings

import numpy as np
import pandas as pd
import scipy.sparse
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.exceptions import ConvergenceWarning
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_array, check_is_fitted

from . import _core

SOLVERS = ("cyclic", "converged")
# The layout of save()'s names file and of the pickled state.
STATE_FORMAT = 1


def _newick(tree):
    """(Newick text, name for messages) of a tree given as text, a path or a
    scikit-bio TreeNode; (None, "") for no tree."""
    if tree is None:
        return None, ""
    if hasattr(tree, "children") and hasattr(tree, "write"):  # skbio.TreeNode
        text = io.StringIO()
        tree.write(text, format="newick")
        return text.getvalue(), "the tree"
    if isinstance(tree, (str, os.PathLike)):
        text = os.fspath(tree)
        if isinstance(tree, str) and ("(" in text or text.strip().endswith(";")):
            return text, "the tree"
        with open(text, encoding="utf-8") as stream:
            return stream.read(), text
    raise ValueError("tree must be Newick text, a path or a scikit-bio TreeNode, not %s"
                     % type(tree).__name__)


def _dense(x):
    """A samples x features float32 array of any table scikit-learn takes."""
    if scipy.sparse.issparse(x):
        x = x.toarray()
    array = check_array(x, dtype=np.float64, accept_sparse=False)
    return np.ascontiguousarray(array, dtype=np.float32)


def _has_names(x):
    return isinstance(x, pd.DataFrame) and all(isinstance(c, str) for c in x.columns)


class TreeClassifier(ClassifierMixin, BaseEstimator):
    """Multinomial logistic regression penalised along a phylogenetic tree.

    w spreads the penalty between the clades of the tree and single taxa (0 to
    1, or -1 and -2 to weigh clades by their height); lam is its strength;
    solver is "converged" (the minimum of the objective, to a certified
    relative duality gap of tol: Orvane -train -solver converged -tol) or
    "cyclic" (Orvane -train's own coordinate descent, byte for byte).
    Rows are compositions: each is divided by its sum, so counts and relative
    abundances give the same model.

    A converged fit keeps its certificate: gap_, the relative duality gap it
    reached, and n_iter_, its iterations (both None for the cyclic fit). When
    it stops at its iteration cap above tol (this can happen near lam 0) it
    gives a ConvergenceWarning: its coefficients are not certified as the
    minimum.
    """

    def __init__(self, w=0.5, lam=1.0, solver="converged", tol=1e-6):
        self.w = w
        self.lam = lam
        self.solver = solver
        self.tol = tol

    def _check_params(self):
        w, lam = float(self.w), float(self.lam)
        if not (0.0 <= w <= 1.0 or w in (-1.0, -2.0)):
            raise ValueError("w=%r is outside 0 to 1 and is not -1 or -2" % self.w)
        if not np.isfinite(lam) or lam < 0.0:
            raise ValueError("lam=%r is not a finite number of 0 or more" % self.lam)
        if self.solver not in SOLVERS:
            raise ValueError("solver=%r is not one of %s" % (self.solver, ", ".join(SOLVERS)))
        if not 1e-12 <= float(self.tol) <= 0.01:
            raise ValueError("tol=%r is outside 1e-12 to 0.01" % self.tol)
        return w, lam

    def fit(self, X, y, tree=None, taxonomy=None):
        """Fits to the table X (samples x features: a DataFrame whose columns are
        feature IDs, an array or a sparse matrix) and the classes y.

        tree: Newick text, a path or a scikit-bio TreeNode whose tips are the
        feature IDs (for an array, the column numbers); tips the table lacks
        are pruned, features the tree lacks are refused. Without a tree every
        feature hangs from the root. taxonomy: a lineage per feature ID (a
        mapping or Series), shown by selected_taxa and selected_clades;
        read_study's table carries it in X.attrs["taxonomy"].
        """
        w, lam = self._check_params()
        table, y = self._validate_data(X, y, accept_sparse=True, dtype=np.float64)
        names = getattr(self, "feature_names_in_", None)
        features = [str(n) for n in names] if names is not None else [str(j) for j in range(table.shape[1])]
        if len(set(features)) < len(features):
            raise ValueError("X names a feature in two columns")
        if table.shape[1] < 2:
            raise ValueError("X has %d feature(s): each sample is divided by its sum, so one "
                             "feature leaves nothing to learn" % table.shape[1])
        check_classification_targets(y)
        self.classes_, codes = np.unique(y, return_inverse=True)
        if len(self.classes_) < 2:
            raise ValueError("TreeClassifier needs samples of at least two classes; y has one class")
        newick, tree_name = _newick(tree)
        beta, self._tree, self._model_file, self.gap_, self.n_iter_ = _core.fit(
            _dense(table), codes.astype(np.int32).tolist(), len(self.classes_), features, newick,
            tree_name, w, lam, self.solver, float(self.tol))
        self._warn_if_unconverged()
        self._set_coefficients(beta)
        if taxonomy is None and isinstance(X, pd.DataFrame):
            taxonomy = X.attrs.get("taxonomy")
        self._taxonomy = None
        if taxonomy is not None:
            lineage = dict(taxonomy)
            self._taxonomy = [str(lineage.get(f, "")) for f in features]
        self._features = features
        return self

    def _warn_if_unconverged(self):
        if self.gap_ is not None and self.gap_ > float(self.tol):
            warnings.warn("the converged fit at w %g, lambda %g stopped after %d iterations with a "
                          "relative duality gap of %.6g, above the tolerance %g: its coefficients are "
                          "not certified as the minimum"
                          % (float(self.w), float(self.lam), self.n_iter_, self.gap_, float(self.tol)),
                          ConvergenceWarning, stacklevel=3)

    def _set_coefficients(self, beta):
        self._beta = np.ascontiguousarray(beta, dtype=np.float32)
        self.coef_ = self._beta.astype(np.float64)

    def _aligned(self, X):
        """X in the columns of the fit: by name for a DataFrame of named
        columns when the fit had names, else by position."""
        check_is_fitted(self, "coef_")
        if _has_names(X) and hasattr(self, "feature_names_in_"):
            known = list(self.feature_names_in_)
            given = set(X.columns)
            missing = [f for f in known if f not in given]
            unknown = [c for c in X.columns if c not in set(known)]
            if missing:
                warnings.warn("X lacks %d of the model's %d features (%s): they count 0"
                              % (len(missing), len(known), _some(missing)), UserWarning)
            if unknown:
                warnings.warn("X has %d features the model lacks (%s): they are ignored"
                              % (len(unknown), _some(unknown)), UserWarning)
            if X.columns.duplicated().any():
                raise ValueError("X names a feature in two columns")
            X = X.reindex(columns=known, fill_value=0)
            return _dense(X.to_numpy(dtype=np.float64))
        x = self._validate_data(X, reset=False, accept_sparse=True, dtype=np.float64)
        return _dense(x)

    def _classified(self, X):
        x = self._aligned(X)
        return _core.classify(self._beta, x)

    def decision_function(self, X):
        """Each class's score (samples x classes); for two classes, the second
        class's score minus the first's."""
        scores = self._classified(X)[0].astype(np.float64)
        return scores[:, 1] - scores[:, 0] if scores.shape[1] == 2 else scores

    def predict(self, X):
        """The class of each sample, as Orvane -test picks it."""
        predicted = self._classified(X)[1]
        return self.classes_[predicted]

    def predict_proba(self, X):
        """Each class's probability (samples x classes, in the order of classes_)."""
        return self._classified(X)[2]

    def _report(self):
        check_is_fitted(self, "coef_")
        taxa, clades = _core.selected(self._model_file, self._tree, self._features, self._taxonomy,
                                      [str(c) for c in self.classes_])
        read = lambda text: pd.read_csv(io.StringIO(text), sep="\t", keep_default_na=False)
        return read(taxa), read(clades)

    def selected_taxa(self):
        """The nonzero coefficients by class, largest first: Orvane-report's taxa.tsv."""
        return self._report()[0]

    def selected_clades(self):
        """The clades holding nonzero coefficients, by class: Orvane-report's clades.tsv."""
        return self._report()[1]

    def _state(self):
        check_is_fitted(self, "coef_")
        names = hasattr(self, "feature_names_in_")
        return {
            "format": STATE_FORMAT,
            "params": self.get_params(),
            "classes": self.classes_.tolist(),
            "features": self._features,
            "named": names,
            "taxonomy": self._taxonomy,
            "tree": self._tree,
            "gap": self.gap_,
            "n_iter": self.n_iter_,
            "coefficients": base64.b64encode(self._beta.astype("<f4").tobytes()).decode("ascii"),
        }

    def _restore(self, state, beta=None):
        if state.get("format") != STATE_FORMAT:
            raise ValueError("unknown orvane model format %r" % state.get("format"))
        self._set_params(state["params"])
        self.classes_ = np.array(state["classes"])
        self._features = list(state["features"])
        self.n_features_in_ = len(self._features)
        if state["named"]:
            self.feature_names_in_ = np.array(self._features, dtype=object)
        self._taxonomy = state["taxonomy"]
        self._tree = state["tree"]
        # Models saved before the certificate was kept have none.
        self.gap_ = state.get("gap")
        self.n_iter_ = state.get("n_iter")
        if beta is None:
            raw = base64.b64decode(state["coefficients"])
            beta = np.frombuffer(raw, dtype="<f4").reshape(len(self.classes_), len(self._features))
        self._set_coefficients(beta)
        self._model_file = _core.model_file_text(self._beta)
        return self

    def _set_params(self, params):
        # Straight to the attributes: set_params reads them first. Models
        # saved before tol was a parameter were fitted at its default.
        for name in ("w", "lam", "solver"):
            setattr(self, name, params[name])
        self.tol = params.get("tol", 1e-6)

    def __getstate__(self):
        return self._state() if hasattr(self, "coef_") else {"params": self.get_params()}

    def __setstate__(self, state):
        if "format" in state:
            self._restore(state)
        else:
            self._set_params(state["params"])

    def save(self, path):
        """Writes Orvane's model file at path (the one Orvane -test reads) and
        the names, the tree and the exact coefficients in path + ".json"."""
        state = self._state()
        with open(path, "w") as model:
            model.write(self._model_file)
        with open(os.fspath(path) + ".json", "w", encoding="utf-8") as names:
            json.dump(state, names)

    def _more_tags(self):
        return {
            "requires_positive_X": True,
            "_xfail_checks": {
                "check_dataframe_column_names_consistency":
                    "columns are matched by name: reordered columns give the same answers, and "
                    "missing or unknown ones are warned about rather than refused",
                "check_estimators_dtypes": _ZERO_ROWS,
                "check_estimator_sparse_data": _ZERO_ROWS,
                "check_classifiers_train":
                    "each sample is divided by its sum: the check's blobs, told apart by their "
                    "position rather than their proportions, cannot be told apart",
                "check_decision_proba_consistency":
                    "the check's samples hold negative values, which counts cannot",
            },
        }


_ZERO_ROWS = ("the check's samples include some with no counts, which cannot be divided by "
              "their sum")


def _some(names, shown=5):
    listed = ", ".join("'%s'" % n for n in names[:shown])
    return listed + (", ..." if len(names) > shown else "")


def load(path):
    """A TreeClassifier from save()'s two files: the model file, checked as
    Orvane -test checks it, and the names beside it."""
    with open(os.fspath(path) + ".json", encoding="utf-8") as names:
        state = json.load(names)
    beta = _core.read_model(os.fspath(path), len(state["features"]))
    exact = TreeClassifier()._restore(state)._beta
    if exact.shape != beta.shape:
        raise ValueError("%s: the model has %d classes, its names %d" % (path, beta.shape[0], exact.shape[0]))
    return TreeClassifier()._restore(state, exact)
