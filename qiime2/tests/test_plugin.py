"""The plugin through the `qiime` command line: the example study imported,
each action run, its results peeked at and exported, and the predictions
checked against Orvane -test on the same model. QIIME_COMMAND names the qiime
program (default: qiime on the PATH); ORVANE_BIN the folder of the programs."""
import base64
import json
import os
import re
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
    assert "Plugin error from orvane" in failed.stderr
    assert "are all of class 'Soil': the classifier needs samples of at least two classes" in failed.stderr

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

    # Grafting onto a tree that shares no tip with the table: the error names
    # the inputs, not the files the plugin writes for the study reader.
    (study / "foreign.nwk").write_text("((x:1,y:1):1,z:1);\n")
    qiime("tools", "import", "--type", "Phylogeny[Rooted]", "--input-path", study / "foreign.nwk",
          "--output-path", study / "foreign.qza")
    failed = qiime("orvane", "fit-classifier", "--i-table", study / "table.qza", "--i-phylogeny",
                   study / "foreign.qza", "--i-taxonomy", study / "taxonomy.qza", "--p-graft", *METADATA,
                   "--o-model", study / "x.qza", "--o-selected-taxa", study / "y.qza", fails=True)
    assert "no feature ID of the table (--i-table) is a tip of the tree (--i-phylogeny)" in failed.stderr
    assert "q2-orvane-" not in failed.stderr
    assert not (study / "x.qza").exists()


def test_graft_places_a_feature_off_the_tree_by_its_taxonomy(study):
    """A feature the tree lacks, with the lineage of a tip: grafted it is fitted
    among the others; without --p-graft it is refused as before."""
    lines = (STUDY / "table.tsv").read_text().splitlines()
    # And a feature with a lineage found nowhere on the tree, holding most of
    # the reads: grafting cannot place it.
    lost = "\t".join(["lost"] + [str(1000 * int(float(v))) for v in lines[2].split("\t")[1:]])
    (study / "off.tsv").write_text("\n".join(lines + ["offtree" + lines[2][lines[2].index("\t"):], lost]) + "\n")
    subprocess.run(["biom", "convert", "-i", study / "off.tsv", "-o", study / "off.biom", "--to-hdf5",
                    "--table-type", "OTU table"], check=True)
    qiime("tools", "import", "--type", "FeatureTable[Frequency]", "--input-path", study / "off.biom",
          "--output-path", study / "off-table.qza")
    taxa = (STUDY / "taxonomy.tsv").read_text().splitlines()
    (study / "off-taxonomy.tsv").write_text("\n".join(taxa + ["offtree" + taxa[1][taxa[1].index("\t"):],
                                                              "lost\tk__Nowhere; p__Nothing"]) + "\n")
    qiime("tools", "import", "--type", "FeatureData[Taxonomy]", "--input-format", "TSVTaxonomyFormat",
          "--input-path", study / "off-taxonomy.tsv", "--output-path", study / "off-taxonomy.qza")
    # Two samples without a class: left out, and said so. A class QIIME 2
    # takes as a value is one, with --p-graft as without.
    sheet = (STUDY / "metadata.tsv").read_text().splitlines()
    (study / "unclassed.tsv").write_text("\n".join(sheet[:2] + [line.split("\t")[0] + "\t" for line in sheet[2:4]]
                                                  + [sheet[4].split("\t")[0] + "\tunknown"] + sheet[5:]) + "\n")
    metadata = ["--m-metadata-file", study / "unclassed.tsv", "--m-metadata-column", "SampleType"]
    study_inputs = ["--i-table", study / "off-table.qza", "--i-phylogeny", study / "tree.qza"] + metadata
    outputs = ["--o-model", study / "g.qza", "--o-selected-taxa", study / "gt.qza"]

    said = qiime("orvane", "fit-classifier", *study_inputs, "--i-taxonomy", study / "off-taxonomy.qza",
                 "--p-graft", "--p-solver", "cyclic", "--verbose", *outputs).stdout.splitlines()
    names = json.loads((exported(study / "g.qza", study / "g") / "model.txt.json").read_text())
    assert "offtree" in names["features"] and "71074" in names["features"] and "lost" not in names["features"]
    assert "unknown" in names["classes"]
    assert ("warning: 2 of the table's 26 samples have no value in the metadata column 'SampleType' and "
            "are left out: 'CL3', 'CC1'") in said
    assert any(line.startswith("kept 24 of 26 samples of the table (0 not in the metadata, 2 with no "
                               "SampleType)") for line in said)
    # Orvane-prepare's advice names options the plugin does not have.
    shares = [line for line in said if line.startswith("warning: the kept features hold only")]
    assert len(shares) == 1 and "To keep more" not in shares[0]
    assert not any("q2-orvane-" in line or " -min-count" in line for line in said)

    failed = qiime("orvane", "fit-classifier", *study_inputs, "--i-taxonomy", study / "off-taxonomy.qza",
                   "--p-solver", "cyclic", "--o-model", study / "n.qza", "--o-selected-taxa",
                   study / "nt.qza", fails=True)
    assert "Plugin error from orvane" in failed.stderr
    assert ("2 feature(s) of the table are not tips of the tree (--i-phylogeny): 'offtree', 'lost'; "
            "--p-graft places them") in failed.stderr
    failed = qiime("orvane", "classify-samples", *study_inputs, "--p-graft", "--output-dir",
                   study / "n", fails=True)
    assert "Plugin error from orvane" in failed.stderr and "give --i-taxonomy" in failed.stderr
    assert not (study / "n.qza").exists() and not (study / "n").exists()


def test_a_fit_stopped_above_its_tolerance_says_so(study):
    """Six samples of two classes that no coefficients tell apart, and one
    without a class: at lambda 0 the converged fit stops at its iteration cap,
    and --verbose shows that warning beside the count of samples left out."""
    folder = study / "unseparated"
    folder.mkdir()
    rows = [[10, 11, 10], [11, 10, 10], [10, 10, 12], [11, 10, 10], [10, 12, 10], [10, 10, 11], [5, 5, 5]]
    samples = ["S%d" % i for i in range(1, 8)]
    (folder / "table.tsv").write_text("#OTU ID\t" + "\t".join(samples) + "\n" + "".join(
        "%s\t%s\n" % (feature, "\t".join(str(row[j]) for row in rows)) for j, feature in enumerate("abc")))
    subprocess.run(["biom", "convert", "-i", folder / "table.tsv", "-o", folder / "table.biom",
                    "--to-hdf5", "--table-type", "OTU table"], check=True)
    qiime("tools", "import", "--type", "FeatureTable[Frequency]", "--input-path", folder / "table.biom",
          "--output-path", folder / "table.qza")
    (folder / "tree.nwk").write_text("((a:1,b:1):1,c:1);\n")
    qiime("tools", "import", "--type", "Phylogeny[Rooted]", "--input-path", folder / "tree.nwk",
          "--output-path", folder / "tree.qza")
    (folder / "classes.tsv").write_text("sample-id\tkind\n" + "".join(
        "%s\t%s\n" % (sample, "pq"[i // 3]) for i, sample in enumerate(samples[:6])))
    said = qiime("orvane", "fit-classifier", "--i-table", folder / "table.qza", "--i-phylogeny",
                 folder / "tree.qza", "--m-metadata-file", folder / "classes.tsv",
                 "--m-metadata-column", "kind", "--p-lambdas", "0", "--verbose", "--o-model",
                 folder / "model.qza", "--o-selected-taxa", folder / "taxa.qza").stdout.splitlines()
    assert ("warning: 1 of the table's 7 samples has no value in the metadata column 'kind' and is "
            "left out: 'S7'") in said
    assert len([line for line in said if re.fullmatch(
        r"warning: the converged fit at w 0\.5, lambda 0 stopped after 20000 iterations with a relative "
        r"duality gap of [0-9.e+-]+, above the tolerance 1e-06: its coefficients are not certified as "
        r"the minimum", line)]) == 1
