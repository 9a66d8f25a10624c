// Orvane-prepare: turns a study's feature table, metadata sheet and tree into
// a data folder that Orvane reads (samples.txt, labels.txt, tree.tre) with the
// name files that tie its numbers to the study's IDs; or, with -like, turns a
// table of new samples into a sample table laid out like an existing folder's.
#include <iostream>
#include <new>
#include <string>

#include "app/inputs.h"
#include "app/version.h"
#include "io/prepare.h"
#include "io/text.h"

namespace {

void printHelp()
{
    std::cout
        << "Usage:\n"
           "  Orvane-prepare -table TABLE -metadata METADATA -column NAME -tree TREE -o DIR\n"
           "                 [-taxonomy TAXONOMY] [-orientation features|samples]\n"
           "  Orvane-prepare -table TABLE -like DIR -o NEWDIR [-orientation features|samples]\n"
           "  Orvane-prepare -h | --help\n"
           "  Orvane-prepare --version\n"
           "\n"
           "The first form makes the data folder DIR from a study's files:\n"
           "  -table TABLE        feature table: BIOM's TSV export (features as rows, header\n"
           "                      '#OTU ID'), a table with samples as rows (tab or comma\n"
           "                      separated), or a BIOM 2.1 (HDF5) file when built with HDF5\n"
           "  -metadata METADATA  tab-separated sheet, sample IDs in the first column\n"
           "  -column NAME        the sheet's column that holds each sample's class\n"
           "  -tree TREE          Newick tree whose tips are the feature IDs\n"
           "  -taxonomy TAXONOMY  optional 'Feature ID<TAB>Taxon' sheet\n"
           "  -o DIR              new (or empty) folder to write\n"
           "DIR gets samples.txt, labels.txt and tree.tre for Orvane -train, and the name\n"
           "files features.tsv, samples.tsv and classes.tsv.\n"
           "\n"
           "The second form lays out new samples like DIR for Orvane -test: NEWDIR gets\n"
           "samples.txt with DIR's features in DIR's column order (a feature missing from\n"
           "TABLE counts 0, features DIR lacks are ignored) and samples.tsv.\n"
           "\n"
           "  -orientation features|samples  says whether TABLE has one line per feature\n"
           "                      or per sample, when its header does not tell.\n"
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
    return nullptr;
}

std::string scanArguments(int argc, char **argv, PrepareOptions &options)
{
    for (int i = 1; i < argc; i++) {
        const std::string name = argv[i];
        std::string *value = optionValue(options, name);
        if (value == nullptr)
            return "unknown option " + quote(name) + " (see Orvane-prepare --help)";
        if (i + 1 >= argc)
            return "option " + name + " needs a value";
        if (!value->empty())
            return "option " + name + " given twice";
        *value = argv[++i];
        if (value->empty())
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
                                  Required{"-taxonomy", options.taxonomy, true}})
            if (!r.value.empty())
                return std::string("option ") + r.name +
                       " does not go with -like (new samples take DIR's features and tree)";
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
    sendLibraryMessagesToStandardStreams();
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
    try {
        const std::string runProblem =
            options.like.empty() ? prepareStudy(options, note) : prepareLike(options, note);
        if (!runProblem.empty())
            return fail(runProblem);
    } catch (const std::bad_alloc &) {
        return fail("not enough memory for the table");
    }
    std::cerr << "note: " << note << '\n';
    return 0;
}
