"""Registers the plugin `orvane` with QIIME 2: its model type and format, the
transformers between them and the Python package's classifier, and the
actions fit-classifier, predict, classify-samples and report."""
import qiime2.plugin
from qiime2.plugin import Bool, Categorical, Choices, Float, Int, List, MetadataColumn, Range, Str
from q2_sample_classifier import ClassifierPredictions, Importance, Probabilities
from q2_types.feature_data import FeatureData, Taxonomy
from q2_types.feature_table import FeatureTable, Frequency, RelativeFrequency
from q2_types.sample_data import SampleData
from q2_types.tree import Phylogeny, Rooted


from . import _methods
from ._model import FittedModel, OrvaneModel, OrvaneModelDirFmt, load, save

plugin = qiime2.plugin.Plugin(
    name="orvane",
    version="1.1.0",
    website="https://example.org/orvane",
    package="q2_orvane",
    description="Classifies samples by the abundances of their taxa with a multinomial logistic "
                "regression penalised along the phylogenetic tree, and names the taxa and clades "
                "it selects.",
    short_description="Tree-regularised classifier of samples.",
)

plugin.register_semantic_types(OrvaneModel)
plugin.register_formats(OrvaneModelDirFmt)
plugin.register_semantic_type_to_format(OrvaneModel, artifact_format=OrvaneModelDirFmt)


@plugin.register_transformer
def _model_to_folder(data: FittedModel) -> OrvaneModelDirFmt:
    folder = OrvaneModelDirFmt()
    save(data, str(folder.path))
    return folder


@plugin.register_transformer
def _folder_to_model(folder: OrvaneModelDirFmt) -> FittedModel:
    return load(str(folder.path))


TABLE = FeatureTable[Frequency | RelativeFrequency]
STUDY_INPUTS = {"table": TABLE, "phylogeny": Phylogeny[Rooted], "taxonomy": FeatureData[Taxonomy]}
STUDY_PARAMETERS = {
    "metadata": MetadataColumn[Categorical],
    "w": List[Float % Range(-2, 1, inclusive_end=True)],
    "lambdas": List[Float % Range(0, None)],
    "cv_repetitions": Int % Range(1, None),
    "n_lambdas": Int % Range(2, 1000, inclusive_end=True),
    "lambda_ratio": Float % Range(0, 1, inclusive_start=False),
    "random_seed": Int % Range(0, 2 ** 32),
    "n_jobs": Int % Range(1, None),
    "graft": Bool,
}
STUDY_INPUT_TEXT = {
    "table": "Feature table (counts or relative frequencies) of the samples to learn from.",
    "phylogeny": "Rooted tree whose tips are the table's features; tips the table lacks are pruned.",
    "taxonomy": "Taxonomy of the features, shown with the selected taxa and clades.",
}
STUDY_PARAMETER_TEXT = {
    "metadata": "The class of each sample; samples without one are left out, and a warning "
                "line (shown with --verbose) counts and names them.",
    "w": "How the penalty is spread between the clades of the tree and single taxa: from 0 to 1, "
         "or -1 or -2 to weigh clades by their height. Several values need a cross-validation.",
    "lambdas": "Strength of the penalty. Without --p-cv-folds one value (default 1); with it, "
               "the values searched at every w (default: for each w, --p-n-lambdas values from "
               "lambda_max, the least that keeps every coefficient at zero, down to "
               "--p-lambda-ratio times it).",
    "cv_repetitions": "Repetitions of the cross-validation, each with its own draw of folds.",
    "n_lambdas": "Number of lambdas searched at each w when --p-lambdas is not given.",
    "lambda_ratio": "Smallest lambda searched, as a share of lambda_max.",
    "random_seed": "Seed of the folds' draws (Orvane-folds -seed).",
    "n_jobs": "Number of fits run at once; the results do not depend on it.",
    "graft": "Place the table's features that are not tips of the tree beside their relatives "
             "on it by their taxonomy, as Orvane-prepare -graft does (needs --i-taxonomy); "
             "features it cannot place are left out, and a note says how many. Without it, "
             "a feature off the tree is an error.",
}
MODEL_TEXT = "The fitted model: Orvane's model file and the names of its features and classes."
TAXA_TEXT = "Each selected taxon's coefficient in every class."

plugin.methods.register_function(
    function=_methods.fit_classifier,
    inputs=STUDY_INPUTS,
    parameters={**STUDY_PARAMETERS, "cv_folds": Int % Range(0, None),
                "rule": Str % Choices("min", "1se"), "solver": Str % Choices("converged", "cyclic")},
    outputs=[("model", OrvaneModel), ("selected_taxa", FeatureData[Importance])],
    input_descriptions=STUDY_INPUT_TEXT,
    parameter_descriptions={
        **STUDY_PARAMETER_TEXT,
        "cv_folds": "Choose w and lambda by a cross-validation with this many folds, drawn "
                    "stratified by class as Orvane-folds draws them (0: no cross-validation).",
        "rule": "The point chosen: min, the least mean error; 1se, the largest lambda within one "
                "standard error of it.",
        "solver": "converged: each fit to a relative duality gap of 1e-6, the lambdas of a fold "
                  "as one warm-started path; cyclic: Orvane -train's coordinate descent.",
    },
    output_descriptions={"model": MODEL_TEXT, "selected_taxa": TAXA_TEXT},
    name="Fit the tree-regularised classifier",
    description="Fits Orvane's classifier to the table's samples and their classes in a metadata "
                "column, at the given w and lambda or at the point a cross-validation chooses "
                "(its summary is printed with --verbose and kept in the model for the report).",
)

plugin.methods.register_function(
    function=_methods.predict,
    inputs={"model": OrvaneModel, "table": TABLE},
    parameters={},
    outputs=[("predictions", SampleData[ClassifierPredictions]),
             ("probabilities", SampleData[Probabilities])],
    input_descriptions={"model": MODEL_TEXT,
                        "table": "Feature table of the samples to classify; features are matched "
                                 "by ID, those the model lacks are ignored."},
    parameter_descriptions={},
    output_descriptions={"predictions": "The predicted class of each sample, as Orvane -test picks it.",
                         "probabilities": "Each class's probability for each sample."},
    name="Classify samples with a fitted model",
    description="Predicts the class of each sample of the table with a model of fit-classifier.",
)

plugin.methods.register_function(
    function=_methods.classify_samples,
    inputs=STUDY_INPUTS,
    parameters={**STUDY_PARAMETERS, "cv_folds": Int % Range(2, None),
                "inner_folds": Int % Range(2, None)},
    outputs=[("model", OrvaneModel), ("selected_taxa", FeatureData[Importance]),
             ("predictions", SampleData[ClassifierPredictions]),
             ("probabilities", SampleData[Probabilities])],
    input_descriptions=STUDY_INPUT_TEXT,
    parameter_descriptions={
        **STUDY_PARAMETER_TEXT,
        "cv_folds": "Outer folds of the nested cross-validation.",
        "inner_folds": "Folds of the cross-validation inside each outer fold's training samples "
                       "that chooses its w and lambda.",
    },
    output_descriptions={
        "model": MODEL_TEXT + " Fitted on every sample at the point of least mean error; it "
                 "carries the nested cross-validation, whose error is the one to publish.",
        "selected_taxa": TAXA_TEXT,
        "predictions": "Each sample's class predicted by the model of the outer fold that held it "
                       "out, at that fold's own choice (first repetition).",
        "probabilities": "The class probabilities of those predictions.",
    },
    name="Nested cross-validation of the tree-regularised classifier",
    description="Runs Orvane-cv -nested: every outer fold chooses w and lambda by a "
                "cross-validation of its own training samples and is tested on its held-out "
                "samples, which played no part in the choice. Prints the nested error with "
                "--verbose; the report of the model shows it.",
)

plugin.visualizers.register_function(
    function=_methods.report,
    inputs={"model": OrvaneModel, "table": TABLE},
    parameters={},
    input_descriptions={"model": MODEL_TEXT, "table": "Feature table of the samples to predict."},
    parameter_descriptions={},
    name="Orvane's report",
    description="Orvane-report's page: the predictions for the table's samples, the selected "
                "taxa and clades, the tree drawn with them, and the cross-validation that chose "
                "the model when it carries one.",
)
