// What Orvane-report computes from a fitted model and a data folder: class
// probabilities, the nonzero coefficients ranked by class, the clades of the
// tree that hold them, and a drawing of the tree; and the tab-separated files
// that carry them, with the study's names in place of numbers.
#ifndef ORVANE_REPORT_H
#define ORVANE_REPORT_H

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "io/names.h"
#include "tree/Tree.h"

// A fitted model's coefficients: beta[k * nFeatures + j] is feature j's for class k + 1.
struct Coefficients {
    int nClasses = 0;
    int nFeatures = 0;
    const float *beta = nullptr;
    float at(int k, int j) const { return beta[k * nFeatures + j]; }
};

// Class probabilities from the scores a prediction compares: exp(s_k) / sum_c exp(s_c),
// computed in double after subtracting the largest score, so no score overflows.
std::vector<double> softmax(const std::vector<float> &scores);

struct SamplePrediction {
    int predicted = 1;                  // class number, from 1
    std::vector<double> probabilities;  // one per class
};

// predictions.tsv: "sample-id", "prediction", then one column per class name.
void writePredictions(std::ostream &out, const SampleNames &samples, const ClassNames &classes,
                      const std::vector<SamplePrediction> &predictions);

struct RankedTaxon {
    int klass;  // from 0
    int feature;
    float coefficient;
};

// Every nonzero coefficient, by class, then by magnitude from the largest,
// then by feature column.
std::vector<RankedTaxon> rankTaxa(const Coefficients &model);

// taxa.tsv: "class", "feature-id", ["taxonomy",] "coefficient".
void writeTaxa(std::ostream &out, const std::vector<RankedTaxon> &taxa, const FeatureNames &features,
               const ClassNames &classes);

// The tree, indexed in pre-order: node 0 is the root, children follow the
// file's order, and the nodes below node v are v + 1 to v + size - 1.
struct TreeView {
    std::vector<int> parent;                 // -1 for the root
    std::vector<std::vector<int>> children;  // in the file's order
    std::vector<int> feature;                // a leaf's feature column; -1 for an internal node
    std::vector<std::string> name;           // an internal node's name in the tree file, or empty
    std::vector<double> length;              // branch length to the parent
    std::vector<std::string> id;             // "node1", "node2", ... for internal nodes in pre-order
    std::vector<int> leafOrder;              // leaves' feature columns, top to bottom
    std::vector<int> firstLeaf, endLeaf;     // node v's leaves: leafOrder[firstLeaf[v] .. endLeaf[v] - 1]
    int nodes() const { return static_cast<int>(parent.size()); }
    int leaves(int v) const { return endLeaf[v] - firstLeaf[v]; }
};

// Leaves must name feature columns (as the tree checks of the programs ensure).
TreeView viewOf(const vessik::Tree &tree);

// The levels of a lineage such as "k__Bacteria; p__Firmicutes; g__", cut
// at its first empty rank ("", or a prefix like "g__" with nothing after it).
std::vector<std::string> assignedLevels(const std::string &lineage);

struct Clade {
    int klass;  // from 0
    int node;
    int leaves;
    int nonzero;  // leaves with a nonzero coefficient of the class
    double norm;  // Euclidean norm of the class's coefficients below the node
    std::string lineage;
};

// For every class, the internal nodes with at least one nonzero coefficient
// of that class below them, in pre-order.
std::vector<Clade> selectedClades(const TreeView &tree, const Coefficients &model,
                                  const FeatureNames &features);

// clades.tsv: "class", "node", "label", "parent", "leaves", "nonzero", "norm", ["taxonomy"].
void writeClades(std::ostream &out, const std::vector<Clade> &clades, const TreeView &tree,
                 const FeatureNames &features, const ClassNames &classes);

// tree.svg stays within this size whatever the tree.
constexpr double kMaxDrawingWidth = 4000;
constexpr double kMaxDrawingHeight = 8000;

// tree.svg: the tree with each class's selected clades coloured, a lane per
// class beside the tips showing the sign of its coefficients, a legend and a
// scale bar.
void drawTree(std::ostream &out, const TreeView &tree, const Coefficients &model,
              const FeatureNames &features, const ClassNames &classes);

// An Orvane-cv output folder's files as read, each empty when absent.
struct CrossValidationFiles {
    std::string folder;
    std::string summary;      // cv_summary.tsv
    std::string nested;       // cv_nested.tsv
    std::string curve;        // cv_curve.svg
    std::string confusion;    // cv_confusion.svg
    std::string counts;       // cv_confusion.tsv
    std::string predictions;  // cv_predictions.tsv
    std::string selection;    // cv_selection.tsv
    std::string probabilities; // cv_probabilities.tsv
    std::string settings;      // cv_settings.tsv
};

// The rows of a tab-separated text, header first; blank lines are skipped.
std::vector<std::vector<std::string>> tsvRows(const std::string &tsv);

// Area under the ROC curve: the share of (positive, negative) pairs in which
// the positive has the higher score, ties counted half; NaN without a pair.
double rocArea(const std::vector<double> &positives, const std::vector<double> &negatives);

struct RocCurve {
    std::vector<std::pair<double, double>> points; // (false, true positive rate), from (0, 0) to (1, 1)
    double area;
};
// The curve through every threshold, from the highest score down; samples
// of equal score enter together (a diagonal step).
RocCurve rocCurve(const std::vector<double> &positives, const std::vector<double> &negatives);
// The mean area of the curves; NaN without any.
double meanRocArea(const std::vector<RocCurve> &curves);

// What the page states about the cross-validation, read from its files.
struct CrossValidationFacts {
    bool given = false;
    std::string folder;
    std::vector<std::string> ws;     // the grid's w values, in grid order
    std::size_t lambdasPerW = 0;     // the most lambda values of one w
    bool lambdaGridPerW = false;     // each w has its own lambda values (-lambda auto)
    int repetitions = 0;             // from the out-of-fold predictions
    int folds = 0;
    bool pointKnown = false;         // the model's point was named (-choice) and found
    std::string choice;              // "min" or "1se", or empty
    std::string w, lambda;           // the model's point, as cv_summary.tsv writes it
    std::string pointError, pointStdError;
    bool atMinPoint = false;         // the out-of-fold files describe the model's point
    bool nested = false;
    int outerFolds = 0;
    std::string nestedMean, nestedStdError;
    std::vector<std::vector<long>> confusion;  // at the min point, [true][predicted], when read
    // Two classes: the ROC curve of each repetition at the min point, the
    // second class counted as positive and scored by its probability.
    std::string positiveClass;
    std::vector<RocCurve> roc;
    // From cv_settings.tsv, each empty when the run did not record it.
    std::string solver, tol;              // "cyclic" or "converged"; the latter's duality gap
    std::string nLambda, lambdaRatio;     // -lambda auto's settings
    std::string innerFolds, nestedSeed;   // the nested run's inner folds and their seed
    std::string foldsSeed;                // the seed Orvane-folds drew the folds with
    std::string groups;                   // the groups file (-g) whose groups the folds kept whole
};

// Reads the facts from the files; `choice` names the rule that picked the
// model's point ("" when not given). Never fails: what is missing stays unset.
CrossValidationFacts crossValidationFacts(const CrossValidationFiles &cv, const std::string &choice,
                                          const ClassNames &classes);

// A number written in a file, shown with three significant digits.
std::string threeDigits(const std::string &number);

// Balanced accuracy of a confusion matrix: the mean recall of the classes
// that have samples; NaN when none has.
double balancedAccuracy(const std::vector<std::vector<long>> &confusion);

// The taxa with a nonzero coefficient of some class.
int selectedTaxonCount(const Coefficients &model);

// What Orvane-prepare kept when it made the data folder, from its
// prepare_note.tsv ("key<TAB>value" lines after a "key<TAB>value" header).
struct PreparationFacts {
    std::string table, metadata, column, tree;  // the inputs as given ("taxonomy" for -tree taxonomy)
    std::string taxonomy;                       // -taxonomy, or empty
    std::string minCount;                       // -min-count, or empty
    std::string treeSource;                     // "given", "grafted" or "taxonomy"
    long long samplesInTable = 0, samplesKept = 0, samplesBelowMinCount = 0;
    long long featuresInTable = 0, featuresKept = 0, featuresGrafted = 0;
    double reads = 0, readsKept = 0;            // the kept samples' counts, and the kept features'
};

// A path's last component: the page names a study's inputs by their file names.
std::string fileName(const std::string &path);

// Reads prepare_note.tsv's text (from `path`, named in messages). Returns ""
// or the problem, naming the path and the line: a missing or repeated key, a
// count that is not a whole number, a share above the whole. Other keys are
// left for later versions.
std::string readPreparationFacts(const std::string &path, const std::string &text, PreparationFacts &facts);

// What report.html shows.
struct HtmlReport {
    const std::string &version;
    const std::string &modelFile;
    const std::string &dataDir;
    const SampleNames &trainingSamples;  // the data folder's samples, with their classes
    const SampleNames &samples;          // the predicted samples
    bool newSamples;                     // the predicted samples are not the training ones
    const ClassNames &classes;
    const FeatureNames &features;
    const Coefficients &model;
    const std::vector<SamplePrediction> &predictions;
    const std::vector<Clade> &clades;
    const TreeView &tree;
    const std::string &treeSvg;
    const CrossValidationFiles *cv;  // null without -cv
    const std::string &choice;       // -choice, or empty
    const PreparationFacts *preparation = nullptr;  // null when the data folder has no prepare_note.tsv
};

// The methods paragraph: what the run did, in sentences to paste into a paper.
std::string methodsText(const HtmlReport &report, const CrossValidationFacts &cv);

// report.html: one self-contained page (inline CSS, SVG and a small script
// for sorting, filtering and copying; no file from elsewhere).
void writeHtmlReport(std::ostream &out, const HtmlReport &report);

#endif
