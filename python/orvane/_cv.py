"""TreeClassifierCV: the cross-validated choice of w and lambda of Orvane-cv as
a scikit-learn classifier. The search, its summary and its choices are those
of the validation library (orvane._core.cross_validate), run on folds drawn as
Orvane-folds draws them or given by the caller."""
import io
import os
import tempfile
import warnings

import numpy as np
import pandas as pd
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.exceptions import ConvergenceWarning
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted

from . import _core
from ._classifier import SOLVERS, TreeClassifier, _dense, _newick

RULES = ("min", "1se")


def _weights(ws):
    ws = [float(w) for w in np.atleast_1d(ws)]
    bad = [w for w in ws if not (0.0 <= w <= 1.0 or w in (-1.0, -2.0))]
    if not ws or bad:
        raise ValueError("ws=%r: each w must be from 0 to 1, or -1 or -2" % (ws,))
    return ws


def _lambdas(lambdas):
    """[] for "auto", else the finite, non-negative values given."""
    if isinstance(lambdas, str):
        if lambdas != "auto":
            raise ValueError('lambdas=%r is not "auto" nor a list of values' % lambdas)
        return []
    values = [float(v) for v in np.atleast_1d(lambdas)]
    if not values or not all(np.isfinite(v) and v >= 0.0 for v in values):
        raise ValueError("lambdas=%r: give finite values of 0 or more, or \"auto\"" % (lambdas,))
    return values


def _group_codes(groups, index, n_samples):
    """Group numbers from 0 of the samples, in the order of their first sample."""
    if groups is None:
        return []
    if isinstance(groups, pd.Series) and index is not None:
        groups = groups.reindex(index)
        if groups.isna().any():
            raise ValueError("groups has no group for %d sample(s) of X" % int(groups.isna().sum()))
    groups = np.asarray(groups)
    if groups.shape != (n_samples,):
        raise ValueError("groups has %d values for %d samples" % (groups.size, n_samples))
    _, first, codes = np.unique(groups, return_index=True, return_inverse=True)
    order = np.argsort(np.argsort(first))
    return order[codes].astype(int).tolist()


def _write_sets(folder, splits):
    """Sets files of Orvane-folds' layout, one per repetition; splits[r] holds
    (training, test) index lists. Returns the prefix."""
    prefix = os.path.join(folder, "sets")
    for r, repetition in enumerate(splits):
        with open("%s%d.txt" % (prefix, r), "w") as out:
            for j, (train, test) in enumerate(repetition):
                out.write("> %d\n%s\n%s\n" % (j, " ".join(map(str, sorted(test))),
                                              " ".join(map(str, sorted(train)))))
    return prefix


class TreeClassifierCV(ClassifierMixin, BaseEstimator):
    """TreeClassifier with w and lambda chosen by repeated K-fold cross-validation.

    ws: the weights searched; lambdas: a list searched at every w, or "auto":
    for each w, n_lambdas values log-spaced from lambda_max (the least lambda
    that keeps every coefficient at zero) down to lambda_ratio times it. cv:
    the number of folds, drawn stratified by class (with groups kept whole)
    as Orvane-folds draws them from random_state, n_repeats times; or a
    scikit-learn splitter; or a list of (training, test) index pairs, taken as
    one repetition. groups: a group per sample (array, or Series by sample
    ID); a fit's own groups win. solver "converged" fits each fold's lambdas of
    a w as one warm-started path from the largest down; "cyclic" fits each
    point alone as Orvane -train does. rule picks the point: "min" the least
    mean error, "1se" the largest lambda within one standard error of it.
    With refit, a TreeClassifier is fitted on every sample at that point.
    nested (a number of inner folds, 2 or more; cyclic solver only) also runs
    the nested cross-validation of Orvane-cv -nested: nested_ then holds each
    outer fold's own choice and error, and nested_error_ the error to publish.
    Converged fits that stop at their iteration cap above tol (this can happen
    near lambda 0) are counted in one ConvergenceWarning, as Orvane-cv warns.
    """

    def __init__(self, ws=(0.5,), lambdas="auto", cv=5, groups=None, n_jobs=1, refit=True,
                 rule="min", solver="converged", n_lambdas=20, lambda_ratio=1e-3, n_repeats=1,
                 random_state=1, tol=1e-6, nested=0):
        self.ws = ws
        self.lambdas = lambdas
        self.cv = cv
        self.groups = groups
        self.n_jobs = n_jobs
        self.refit = refit
        self.rule = rule
        self.solver = solver
        self.n_lambdas = n_lambdas
        self.lambda_ratio = lambda_ratio
        self.n_repeats = n_repeats
        self.random_state = random_state
        self.tol = tol
        self.nested = nested

    def _check_params(self):
        if self.rule not in RULES:
            raise ValueError("rule=%r is not one of %s" % (self.rule, ", ".join(RULES)))
        if self.solver not in SOLVERS:
            raise ValueError("solver=%r is not one of %s" % (self.solver, ", ".join(SOLVERS)))
        if not 2 <= int(self.n_lambdas) <= 1000:
            raise ValueError("n_lambdas=%r is outside 2 to 1000" % self.n_lambdas)
        if not 0.0 < float(self.lambda_ratio) < 1.0:
            raise ValueError("lambda_ratio=%r is not above 0 and below 1" % self.lambda_ratio)
        if not 1e-12 <= float(self.tol) <= 0.01:
            raise ValueError("tol=%r is outside 1e-12 to 0.01" % self.tol)
        if int(self.nested) != 0 and (int(self.nested) < 2 or self.solver != "cyclic"):
            raise ValueError("nested=%r: give 2 or more inner folds, with solver=\"cyclic\""
                             % self.nested)
        if not 0 <= int(self.random_state) <= 2 ** 32 - 1:
            raise ValueError("random_state=%r is outside 0 to 4294967295" % self.random_state)
        return _weights(self.ws), _lambdas(self.lambdas)

    def _jobs(self):
        jobs = int(self.n_jobs) if self.n_jobs is not None else 1
        return (os.cpu_count() or 1) if jobs <= 0 else jobs

    def _splits(self, x, codes, n_classes, groups):
        """Each repetition's (training, test) index lists."""
        if isinstance(self.cv, (int, np.integer)):
            if int(self.n_repeats) < 1:
                raise ValueError("n_repeats=%r is below 1" % self.n_repeats)
            drawn = _core.draw_folds(codes.tolist(), n_classes, int(self.cv), int(self.n_repeats),
                                     int(self.random_state), groups)
            samples = np.arange(len(codes))
            return [[(samples[np.asarray(f) != j], samples[np.asarray(f) == j])
                     for j in range(int(self.cv))] for f in drawn]
        if hasattr(self.cv, "split"):
            return [list(self.cv.split(x, codes, groups or None))]
        return [list(self.cv)]

    def fit(self, X, y, tree=None, taxonomy=None, groups=None):
        """Cross-validates on the table X and the classes y (as TreeClassifier.fit
        takes them), then, with refit, fits best_estimator_ at the chosen point."""
        ws, lambdas = self._check_params()
        table, y = self._validate_data(X, y, accept_sparse=True, dtype=np.float64)
        names = getattr(self, "feature_names_in_", None)
        features = [str(n) for n in names] if names is not None else [str(j) for j in range(table.shape[1])]
        check_classification_targets(y)
        self.classes_, codes = np.unique(y, return_inverse=True)
        if len(self.classes_) < 2:
            raise ValueError("TreeClassifierCV needs samples of at least two classes; y has one class")
        index = X.index if isinstance(X, pd.DataFrame) else None
        group_codes = _group_codes(groups if groups is not None else self.groups, index, len(codes))
        splits = self._splits(table, codes, len(self.classes_), group_codes)
        if not splits or not splits[0] or any(len(r) != len(splits[0]) for r in splits):
            raise ValueError("cv gives no folds, or repetitions of different numbers of folds")
        newick, tree_name = _newick(tree)
        x = _dense(table)
        with tempfile.TemporaryDirectory(prefix="orvane-cv-") as folder:
            prefix = _write_sets(folder, splits)
            run = _core.cross_validate(
                x, codes.astype(np.int32).tolist(), len(self.classes_), features, newick, tree_name,
                ws, lambdas, int(self.n_lambdas), float(self.lambda_ratio), prefix, len(splits),
                len(splits[0]), self._jobs(), self.solver, float(self.tol), int(self.nested),
                int(self.random_state))
        self._set_results(run)
        self._warn_if_unconverged(run)
        self.splits_ = splits
        if self.refit:
            self.best_estimator_ = TreeClassifier(
                w=self.best_params_["w"], lam=self.best_params_["lam"], solver=self.solver,
                tol=self.tol)
            self.best_estimator_.fit(X, y, tree=tree, taxonomy=taxonomy)
        return self

    def _warn_if_unconverged(self, run):
        if run["unconverged"] > 0:
            warnings.warn("%d of %d converged fits stopped after %d iterations with a relative "
                          "duality gap above the tolerance %g (largest %.6g)"
                          % (run["unconverged"], run["converged_fits"], run["max_iterations"],
                             float(self.tol), run["largest_gap"]),
                          ConvergenceWarning, stacklevel=3)

    def _set_results(self, run):
        summary = pd.read_csv(io.StringIO(run["summary"]), sep="\t", keep_default_na=False)
        self.summary_ = run["summary"]
        self.curve_svg_ = run["curve_svg"]
        self.warnings_ = run["warnings"]
        self.majority_error_ = run["majority_error"]
        errors = np.asarray(run["fold_errors"], dtype=np.float64)
        self.cv_results_ = {
            "param_w": summary["w"].to_numpy(dtype=np.float64),
            "param_lam": summary["lambda"].to_numpy(dtype=np.float64),
            "mean_test_error": summary["mean_error"].to_numpy(dtype=np.float64),
            "std_error_test_error": summary["std_error"].to_numpy(dtype=np.float64),
            "mean_test_score": 1.0 - summary["mean_error"].to_numpy(dtype=np.float64),
        }
        for f in range(errors.shape[1]):
            self.cv_results_["split%d_test_error" % f] = errors[:, f]
        self.cv_results_["params"] = [{"w": w, "lam": lam} for w, lam in
                                      zip(self.cv_results_["param_w"], self.cv_results_["param_lam"])]
        if run["nested"]:
            table = pd.read_csv(io.StringIO(run["nested"]), sep="\t", dtype=str)
            last = table["repetition"].isin(["mean", "std_error"])
            self.nested_table_ = run["nested"]
            self.nested_ = table[~last].astype({"repetition": int, "fold": int, "w": float,
                                                "lambda": float, "inner_error": float,
                                                "error": float}).reset_index(drop=True)
            self.nested_error_ = float(table.loc[last, "error"].iloc[0])
            self.nested_std_error_ = float(table.loc[last, "error"].iloc[1])
        self.index_min_ = run["min_point"]
        self.index_1se_ = run["one_se_point"]
        self.best_index_ = self.index_min_ if self.rule == "min" else self.index_1se_
        self.best_params_ = dict(self.cv_results_["params"][self.best_index_])
        self.best_score_ = self.cv_results_["mean_test_score"][self.best_index_]

    def _fitted(self):
        check_is_fitted(self, "best_estimator_")
        return self.best_estimator_

    def predict(self, X):
        """The class of each sample by the model refitted at the chosen point."""
        return self._fitted().predict(X)

    def predict_proba(self, X):
        return self._fitted().predict_proba(X)

    def decision_function(self, X):
        return self._fitted().decision_function(X)

    def selected_taxa(self):
        return self._fitted().selected_taxa()

    def selected_clades(self):
        return self._fitted().selected_clades()

    @property
    def coef_(self):
        return self._fitted().coef_

    def plot_path(self, ax=None):
        """The mean error against lambda (log scale), one line per w with bars of
        one standard error, the min and 1se choices marked and the error of
        always calling the commonest class as a dashed line: Orvane-cv's
        cv_curve.svg drawn with matplotlib. Returns the axes."""
        check_is_fitted(self, "cv_results_")
        import matplotlib.pyplot as plt

        if ax is None:
            ax = plt.subplots(figsize=(7, 4.5))[1]
        results = self.cv_results_
        for w in dict.fromkeys(results["param_w"]):
            at = results["param_w"] == w
            lam = results["param_lam"][at]
            shown = lam > 0  # a lambda of 0 has no place on a log scale
            ax.errorbar(lam[shown], results["mean_test_error"][at][shown],
                        yerr=results["std_error_test_error"][at][shown], marker="o", markersize=3,
                        capsize=2, label="w %g" % w)
        for index, name, style in ((self.index_min_, "min", "-"), (self.index_1se_, "1se", ":")):
            lam = results["param_lam"][index]
            if lam > 0:
                ax.axvline(lam, color="grey", linestyle=style, linewidth=1,
                           label="%s: w %g, lambda %g" % (name, results["param_w"][index], lam))
        if np.isfinite(self.majority_error_):
            ax.axhline(self.majority_error_, color="black", linestyle="--", linewidth=1,
                       label="commonest class")
        ax.set_xscale("log")
        ax.set_xlabel("lambda")
        ax.set_ylabel("cross-validation error")
        ax.legend(fontsize="small")
        return ax
