"""The plugin through the `qiime` command line: the example study imported,
each action run, its results peeked at and exported, and the predictions
checked against Orvane -test on the same model. QIIME_COMMAND names the qiime
program (default: qiime on the PATH); ORVANE_BIN the folder of the programs."""
import base64
import json
import os
import shlex
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

ROOT = Path(__file__).resolve().parents[2]
STUDY = ROOT / "example" / "study"
METADATA = ["--m-metadata-file", str(STUDY / "metadata.tsv"), "--m-metadata-column", "SampleType"]


def qiime(*args, fails=False):
    command = shlex.split(os.environ.get("QIIME_COMMAND", "qiime")) + [str(a) for a in args]
    done = subprocess.run(command, capture_output=True, text=True)
    assert (done.returncode != 0) == fails, done.stdout + done.stderr
    return done


def orvane_program(name):
    path = Path(os.environ.get("ORVANE_BIN", ROOT)) / name
    if not os.access(path, os.X_OK):
        pytest.fail("%s is not built: run make, or set ORVANE_BIN to the folder holding it" % path)
    return str(path)


def exported(artifact, folder):
    qiime("tools", "export", "--input-path", artifact, "--output-path", folder)
    return folder


def read_tsv(path):
    return pd.read_csv(path, sep="\t", index_col=0, dtype={0: str}, keep_default_na=False)


@pytest.fixture(scope="module")
def study(tmp_path_factory):
    """The example study imported as QIIME 2 artifacts (table, tree, taxonomy).
    QIIME 2's own temporary files (and its error logs) go into the test's folder."""
    folder = tmp_path_factory.mktemp("qiime")
    (folder / "tmp").mkdir()
    system_tmp = os.environ.get("TMPDIR")
    os.environ["TMPDIR"] = str(folder / "tmp")
    biom = folder / "table.biom"
    subprocess.run(["biom", "convert", "-i", STUDY / "table.tsv", "-o", biom, "--to-hdf5",
                    "--table-type", "OTU table"], check=True)
    qiime("tools", "import", "--type", "FeatureTable[Frequency]", "--input-path", biom,
          "--output-path", folder / "table.qza")
    qiime("tools", "import", "--type", "Phylogeny[Rooted]", "--input-path", STUDY / "tree.nwk",
          "--output-path", folder / "tree.qza")
    qiime("tools", "import", "--type", "FeatureData[Taxonomy]", "--input-format", "TSVTaxonomyFormat",
          "--input-path", STUDY / "taxonomy.tsv", "--output-path", folder / "taxonomy.qza")
    yield folder
    if system_tmp is None:
        del os.environ["TMPDIR"]
    else:
        os.environ["TMPDIR"] = system_tmp


def inputs(folder):
    return ["--i-table", folder / "table.qza", "--i-phylogeny", folder / "tree.qza",
            "--i-taxonomy", folder / "taxonomy.qza"] + METADATA


def orvane_test(model_folder, folder):
    """The class names Orvane -test gives the table's samples with the exported model."""
    names = json.loads((model_folder / "model.txt.json").read_text())
    counts = pd.read_csv(STUDY / "table.tsv", sep="\t", skiprows=1, index_col=0, dtype={0: str})
    counts.index = counts.index.astype(str)
    rows = counts.loc[names["features"]].T
    samples = folder / "samples.txt"
    samples.write_text("".join("1\t" + "\t".join("%g" % v for v in row) + "\n" for row in rows.to_numpy()))
    subprocess.run([orvane_program("Orvane"), "-test", "-d", samples, "-c", model_folder / "model.txt",
                    "-o", folder / "classes.txt"], check=True, capture_output=True)
    numbers = [int(n) for n in (folder / "classes.txt").read_text().split()]
    return pd.Series([names["classes"][n - 1] for n in numbers], index=rows.index)


def test_fit_predict_and_report_give_orvane_tests_answers(study):
    qiime("orvane", "fit-classifier", *inputs(study), "--p-w", "0.5", "--p-lambdas", "1",
          "--p-solver", "cyclic", "--o-model", study / "model.qza",
          "--o-selected-taxa", study / "taxa.qza")
    assert "OrvaneModel" in qiime("tools", "peek", study / "model.qza").stdout
    qiime("orvane", "predict", "--i-model", study / "model.qza", "--i-table", study / "table.qza",
          "--output-dir", study / "predicted")
    assert "SampleData[ClassifierPredictions]" in qiime(
        "tools", "peek", study / "predicted" / "predictions.qza").stdout
    assert "SampleData[Probabilities]" in qiime(
        "tools", "peek", study / "predicted" / "probabilities.qza").stdout

    model = exported(study / "model.qza", study / "model")
    predictions = read_tsv(exported(study / "predicted" / "predictions.qza", study / "p") / "predictions.tsv")
    expected = orvane_test(model, study)
    assert list(predictions.index) == list(expected.index)
    assert list(predictions["prediction"]) == list(expected)
    probabilities = read_tsv(exported(study / "predicted" / "probabilities.qza", study / "q") /
                             "class_probabilities.tsv")
    np.testing.assert_allclose(probabilities.sum(axis=1), 1.0, rtol=1e-9)
    assert list(probabilities.idxmax(axis=1)) == list(expected)

    taxa = read_tsv(exported(study / "taxa.qza", study / "taxa") / "importance.tsv")
    coefficients = np.frombuffer(base64.b64decode(
        json.loads((model / "model.txt.json").read_text())["coefficients"]), dtype="<f4")
    assert len(taxa) == int((coefficients.reshape(9, -1) != 0).any(axis=0).sum()) > 0

    qiime("orvane", "report", "--i-model", study / "model.qza", "--i-table", study / "table.qza",
          "--o-visualization", study / "report.qzv")
    page = (exported(study / "report.qzv", study / "report") / "index.html").read_text()
    for heading in ("<h2>Summary", "<h2>Predictions", "<h2>Selected taxa", "<h2>Clades", "id=\"tree\">Tree"):
        assert heading in page


def test_cross_validation_and_nested_cross_validation(study):
    qiime("orvane", "fit-classifier", *inputs(study), "--p-w", "0.2", "0.5", "--p-cv-folds", "3",
          "--p-n-lambdas", "4", "--p-rule", "1se", "--output-dir", study / "cv")
    summary = read_tsv(exported(study / "cv" / "model.qza", study / "cv-model") / "cv_summary.tsv")
    assert len(summary) == 8 and summary["choice"].str.contains("1se").sum() == 1

    qiime("orvane", "classify-samples", *inputs(study), "--p-cv-folds", "3", "--p-inner-folds", "2",
          "--p-lambdas", "0.1", "1", "--output-dir", study / "nested")
    model = exported(study / "nested" / "model.qza", study / "nested-model")
    nested = pd.read_csv(model / "cv_nested.tsv", sep="\t", dtype=str)
    assert list(nested["repetition"]) == ["0", "0", "0", "mean", "std_error"]
    predictions = read_tsv(exported(study / "nested" / "predictions.qza", study / "np") / "predictions.tsv")
    assert len(predictions) == 26 and predictions["prediction"].ne("").all()
    qiime("orvane", "report", "--i-model", study / "nested" / "model.qza", "--i-table",
          study / "table.qza", "--o-visualization", study / "nested.qzv")
    page = (exported(study / "nested.qzv", study / "nested-report") / "index.html").read_text()
    assert "Cross-validation" in page and "nested" in page.lower()


def test_bad_input_gets_qiimes_error_with_orvanes_message(study):
    one_class = study / "one-class.tsv"
    sheet = (STUDY / "metadata.tsv").read_text().splitlines()
    one_class.write_text("\n".join(sheet[:2] + [line.split("\t")[0] + "\tSoil" for line in sheet[2:]]) + "\n")
    failed = qiime("orvane", "fit-classifier", *inputs(study)[:6], "--m-metadata-file", one_class,
                   "--m-metadata-column", "SampleType", "--o-model", study / "x.qza",
                   "--o-selected-taxa", study / "y.qza", fails=True)
    assert "Plugin error from orvane" in failed.stderr and "at least two classes" in failed.stderr

    (study / "small.nwk").write_text("((71074:1,245697:1):1,319002:1);\n")
    for kind in ("Rooted", "Unrooted"):
        qiime("tools", "import", "--type", "Phylogeny[%s]" % kind, "--input-path", study / "small.nwk",
              "--output-path", study / ("small-%s.qza" % kind))
    failed = qiime("orvane", "fit-classifier", "--i-table", study / "table.qza", "--i-phylogeny",
                   study / "small-Rooted.qza", *METADATA, "--o-model", study / "x.qza",
                   "--o-selected-taxa", study / "y.qza", fails=True)
    assert "Plugin error from orvane" in failed.stderr and "are not tips of the tree" in failed.stderr
    failed = qiime("orvane", "fit-classifier", "--i-table", study / "table.qza", "--i-phylogeny",
                   study / "small-Unrooted.qza", *METADATA, "--o-model", study / "x.qza",
                   "--o-selected-taxa", study / "y.qza", fails=True)
    assert "Phylogeny[Rooted]" in failed.stderr
    assert not (study / "x.qza").exists()


def test_graft_places_a_feature_off_the_tree_by_its_taxonomy(study):
    """A feature the tree lacks, with the lineage of a tip: grafted it is fitted
    among the others; without --p-graft it is refused as before."""
    lines = (STUDY / "table.tsv").read_text().splitlines()
    (study / "off.tsv").write_text("\n".join(lines + ["offtree" + lines[2][lines[2].index("\t"):]]) + "\n")
    subprocess.run(["biom", "convert", "-i", study / "off.tsv", "-o", study / "off.biom", "--to-hdf5",
                    "--table-type", "OTU table"], check=True)
    qiime("tools", "import", "--type", "FeatureTable[Frequency]", "--input-path", study / "off.biom",
          "--output-path", study / "off-table.qza")
    taxa = (STUDY / "taxonomy.tsv").read_text().splitlines()
    (study / "off-taxonomy.tsv").write_text("\n".join(taxa + ["offtree" + taxa[1][taxa[1].index("\t"):]]) + "\n")
    qiime("tools", "import", "--type", "FeatureData[Taxonomy]", "--input-format", "TSVTaxonomyFormat",
          "--input-path", study / "off-taxonomy.tsv", "--output-path", study / "off-taxonomy.qza")
    study_inputs = ["--i-table", study / "off-table.qza", "--i-phylogeny", study / "tree.qza"] + METADATA
    outputs = ["--o-model", study / "g.qza", "--o-selected-taxa", study / "gt.qza"]

    qiime("orvane", "fit-classifier", *study_inputs, "--i-taxonomy", study / "off-taxonomy.qza",
          "--p-graft", "--p-solver", "cyclic", *outputs)
    names = json.loads((exported(study / "g.qza", study / "g") / "model.txt.json").read_text())
    assert "offtree" in names["features"] and "71074" in names["features"]

    failed = qiime("orvane", "fit-classifier", *study_inputs, "--i-taxonomy", study / "off-taxonomy.qza",
                   "--p-solver", "cyclic", "--o-model", study / "n.qza", "--o-selected-taxa",
                   study / "nt.qza", fails=True)
    assert "Plugin error from orvane" in failed.stderr and "are not tips of the tree" in failed.stderr
    failed = qiime("orvane", "classify-samples", *study_inputs, "--p-graft", "--output-dir",
                   study / "n", fails=True)
    assert "Plugin error from orvane" in failed.stderr and "give --i-taxonomy" in failed.stderr
    assert not (study / "n.qza").exists() and not (study / "n").exists()
