"""Orvane for Python: a scikit-learn classifier regularised along the
phylogenetic tree of the features, and the study reader of Orvane-prepare.

    import orvane
    X, y, tree = orvane.read_study("table.tsv", "metadata.tsv", "SampleType", "tree.nwk")
    model = orvane.TreeClassifier(w=0.5, lam=1.0).fit(X, y, tree=tree)
    model.predict_proba(X)
    model.selected_taxa()
    search = orvane.TreeClassifierCV(ws=[0.2, 0.5], lambdas="auto", cv=5).fit(X, y, tree=tree)
    search.best_params_, search.plot_path()
"""
from ._classifier import TreeClassifier, load
from ._cv import TreeClassifierCV
from ._study import read_study

__all__ = ["TreeClassifier", "TreeClassifierCV", "load", "read_study"]
