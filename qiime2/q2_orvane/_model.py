"""The plugin's own semantic type, OrvaneModel: a fitted model as the Python
package saves it (Orvane's model file and its names), with the files of the
cross-validation that chose it when one did."""
import os

import qiime2.plugin.model as q2model
from qiime2.plugin import SemanticType

import orvane

OrvaneModel = SemanticType("OrvaneModel")

# The cross-validation files a model may carry, as Orvane-cv names them.
CV_FILES = ("cv_summary.tsv", "cv_nested.tsv", "cv_curve.svg")


class ModelFileFormat(q2model.TextFileFormat):
    """Orvane's model file: the first line holds two whole numbers."""

    def _validate_(self, level):
        with self.open() as fh:
            words = fh.readline().split()
        if len(words) < 2 or not all(w.isdigit() for w in words[:2]):
            raise q2model.ValidationError("not an Orvane model file: its first line does not give "
                                        "the numbers of classes and features")


class NamesFormat(q2model.TextFileFormat):
    def _validate_(self, level):
        with self.open() as fh:
            if fh.read(1) != "{":
                raise q2model.ValidationError("not the names of an Orvane model (JSON)")


class CvFileFormat(q2model.TextFileFormat):
    def _validate_(self, level):
        pass


class OrvaneModelDirFmt(q2model.DirectoryFormat):
    model = q2model.File("model.txt", format=ModelFileFormat)
    names = q2model.File("model.txt.json", format=NamesFormat)
    cv_summary = q2model.File("cv_summary.tsv", format=CvFileFormat, optional=True)
    cv_nested = q2model.File("cv_nested.tsv", format=CvFileFormat, optional=True)
    cv_curve = q2model.File("cv_curve.svg", format=CvFileFormat, optional=True)


class FittedModel:
    """A TreeClassifier with the texts of its cross-validation files (by name)."""

    def __init__(self, classifier, cv_files=None):
        self.classifier = classifier
        self.cv_files = dict(cv_files or {})


def save(fitted, folder):
    fitted.classifier.save(os.path.join(folder, "model.txt"))
    for name, text in fitted.cv_files.items():
        if text:
            with open(os.path.join(folder, name), "w", encoding="utf-8") as out:
                out.write(text)


def load(folder):
    cv_files = {}
    for name in CV_FILES:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            with open(path, encoding="utf-8") as text:
                cv_files[name] = text.read()
    return FittedModel(orvane.load(os.path.join(folder, "model.txt")), cv_files)
