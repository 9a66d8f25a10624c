// Orvane-prepare: turns a study's feature table, metadata sheet and tree into
// a data folder that Orvane reads (samples.txt, labels.txt, tree.tre) with the
// name files that tie its numbers to the study's IDs; or, with -like, turns a
// table of new samples into a sample table laid out like an existing folder's.
#include <cstdlib>
#include <iostream>
#include <new>
#include <sstream>
#include <string>

#include "app/inputs.h"
#include "app/version.h"
#include "io/outputs.h"
#include "io/prepare.h"
#include "io/text.h"

namespace {

void printHelp()
{
    std::cout
        << "Usage:\n"
           "  Orvane-prepare -table TABLE -metadata METADATA -column NAME -tree TREE -o DIR\n"
           "                 [-taxonomy TAXONOMY] [-orientation features|samples]\n"
           "                 [-graft] [-min-count N] [-missing LIST] [-group COLUMN]\n"
           "                 [-max-gunzipped GB]\n"
           "  Orvane-prepare -table TABLE -like DIR -o NEWDIR [-orientation features|samples]\n"
           "                 [-max-gunzipped GB]\n"
           "  Orvane-prepare -h | --help\n"
           "  Orvane-prepare --version\n"
           "\n"
           "The first form makes the data folder DIR from a study's files:\n"
           "  -table TABLE        feature table: BIOM's TSV export (features as rows, header\n"
           "                      '#OTU ID'), a table with samples as rows (tab or comma\n"
           "                      separated), a BIOM 1.0 (JSON) or BIOM 2.1 (HDF5) file;\n"
           "                      every input may be gzipped\n"
           "  -metadata METADATA  tab-separated sheet, sample IDs in the first column\n"
           "  -column NAME        the sheet's column that holds each sample's class\n"
           "  -tree TREE          Newick tree whose tips are the feature IDs, or the word\n"
           "                      'taxonomy' to build the tree from the features' taxonomy\n"
           "  -taxonomy TAXONOMY  optional 'Feature ID<TAB>Taxon' sheet (without it, the\n"
           "                      table's own taxonomy is used when it holds one)\n"
           "  -o DIR              new (or empty) folder to write\n"
           "  -graft              place features the tree lacks beside their relatives\n"
           "                      by taxonomy, as tips of branch length 0\n"
           "  -min-count N        leave out samples whose kept counts total less than N\n"
           "  -missing LIST       comma-separated class values meaning 'no class', in place\n"
           "                      of NA, N/A, nan, None, null, missing, unknown, ... ('' keeps\n"
           "                      only the empty value)\n"
           "  -group COLUMN       the sheet's column of each sample's group (patient, site):\n"
           "                      DIR gets groups.tsv for Orvane-folds -g\n"
           "DIR gets samples.txt, labels.txt and tree.tre for Orvane -train, the name\n"
           "files features.tsv, samples.tsv and classes.tsv, dropped.tsv, every\n"
           "feature left out with why and its count, and prepare_note.tsv, what was\n"
           "kept, for Orvane-report.\n"
           "\n"
           "The second form lays out new samples like DIR for Orvane -test: NEWDIR gets\n"
           "samples.txt with DIR's features in DIR's column order (a feature missing from\n"
           "TABLE counts 0, features DIR lacks are ignored) and samples.tsv.\n"
           "\n"
           "  -orientation features|samples  says whether TABLE has one line per feature\n"
           "                      or per sample, when its header does not tell.\n"
           "  -max-gunzipped GB   the most a gzipped input may inflate to, in GB\n"
           "                      (default 64; a file past it is refused)\n"
           "\n"
           "Example:\n"
           "  ./Orvane-prepare -table example/study/table.tsv -metadata example/study/metadata.tsv \\\n"
           "      -column SampleType -tree example/study/tree.nwk -taxonomy example/study/taxonomy.tsv \\\n"
           "      -o study\n"
           "  ./Orvane -train -d study/samples.txt -l study/labels.txt -t study/tree.tre -o study/model.txt\n";
}

std::string *optionValue(PrepareOptions &options, const std::string &name)
{
    if (name == "-table")
        return &options.table;
    if (name == "-metadata")
        return &options.metadata;
    if (name == "-column")
        return &options.column;
    if (name == "-tree")
        return &options.tree;
    if (name == "-taxonomy")
        return &options.taxonomy;
    if (name == "-like")
        return &options.like;
    if (name == "-o")
        return &options.out;
    if (name == "-orientation")
        return &options.orientation;
    if (name == "-group")
        return &options.group;
    if (name == "-min-count")
        return &options.minCount;
    if (name == "-missing")
        return &options.missing;
    if (name == "-max-gunzipped")
        return &options.maxGunzipped;
    return nullptr;
}

std::string scanArguments(int argc, char **argv, PrepareOptions &options)
{
    for (int i = 1; i < argc; i++) {
        const std::string name = argv[i];
        if (name == "-graft") {
            options.graft = true;
            continue;
        }
        std::string *value = optionValue(options, name);
        if (value == nullptr)
            return "unknown option " + quote(name) + " (see Orvane-prepare --help)";
        if (i + 1 >= argc)
            return "option " + name + " needs a value";
        if (!value->empty() || (name == "-missing" && options.missingGiven))
            return "option " + name + " given twice";
        *value = argv[++i];
        options.missingGiven = options.missingGiven || name == "-missing";
        if (value->empty() && name != "-missing")
            return "option " + name + " has an empty value";
    }
    const bool like = !options.like.empty();
    struct Required {
        const char *name;
        const std::string &value;
        bool needed;
    };
    for (const Required &r : {Required{"-table", options.table, true},
                              Required{"-o", options.out, true},
                              Required{"-metadata", options.metadata, !like},
                              Required{"-column", options.column, !like},
                              Required{"-tree", options.tree, !like}})
        if (r.needed && r.value.empty())
            return std::string("missing option ") + r.name + " (see Orvane-prepare --help)";
    if (like) {
        for (const Required &r : {Required{"-metadata", options.metadata, true},
                                  Required{"-column", options.column, true},
                                  Required{"-tree", options.tree, true},
                                  Required{"-taxonomy", options.taxonomy, true},
                                  Required{"-group", options.group, true},
                                  Required{"-min-count", options.minCount, true}})
            if (!r.value.empty())
                return std::string("option ") + r.name +
                       " does not go with -like (new samples take DIR's features and tree)";
        if (options.graft || options.missingGiven)
            return std::string("option ") + (options.graft ? "-graft" : "-missing") +
                   " does not go with -like (new samples take DIR's features and tree)";
    }
    if (options.graft && options.tree == "taxonomy")
        return "option -graft does not go with -tree taxonomy (every feature with a taxonomy "
               "is on that tree)";
    if (!options.maxGunzipped.empty()) {
        char *end = nullptr;
        const double gigabytes = std::strtod(options.maxGunzipped.c_str(), &end);
        if (end != options.maxGunzipped.c_str() + options.maxGunzipped.size() ||
            !(gigabytes > 0.0) || gigabytes > 1e9)
            return "-max-gunzipped value " + quote(options.maxGunzipped) +
                   " is not a number of GB above 0 (at most 1e9)";
        setGunzipCap(static_cast<unsigned long long>(gigabytes * 1e9));
    }
    if (!options.orientation.empty() && options.orientation != "features" &&
        options.orientation != "samples")
        return "-orientation value " + quote(options.orientation) +
               " is neither 'features' nor 'samples'";
    return "";
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        if (std::string(argv[i]) == "-h" || std::string(argv[i]) == "--help") {
            printHelp();
            return 0;
        }
        if (std::string(argv[i]) == "--version") {
            std::cout << "Orvane-prepare " ORVANE_VERSION "\n";
            return 0;
        }
    }
    PrepareOptions options;
    const std::string problem = scanArguments(argc, argv, options);
    if (!problem.empty())
        return fail(problem);
    options.out = withoutTrailingSlashes(options.out);
    const std::string outProblem = checkOutputFolder(options.out);
    if (!outProblem.empty())
        return fail(outProblem);
    std::string note;
    std::string warning;
    try {
        const std::string runProblem = options.like.empty() ? prepareStudy(options, note, warning)
                                                            : prepareLike(options, note);
        if (!runProblem.empty())
            return fail(runProblem);
    } catch (const std::bad_alloc &) {
        return fail(options.table + ": not enough memory for the table");
    }
    std::istringstream lines(note);
    for (std::string line; std::getline(lines, line);)
        std::cerr << "note: " << line << '\n';
    if (!warning.empty())
        std::cerr << "warning: " << warning << '\n';
    return 0;
}
