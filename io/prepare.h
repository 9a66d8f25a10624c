// Making a data folder from a study's files, and laying out new samples like
// an existing data folder: the work behind Orvane-prepare.
//
// Each function returns an empty string on success, otherwise the message to
// print after "error: " (it names the file, and the line when there is one).
// A refused run creates no folder; a successful one writes its folder whole.
#ifndef ORVANE_IO_PREPARE_H
#define ORVANE_IO_PREPARE_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "io/names.h"
#include "io/study_tree.h"

// How the caller's users spell the options that the warning's advice names:
// Orvane-prepare's "-graft", or the Python package's "graft=True".
enum class OptionSpelling { CommandLine, Python };

// The program's options, each empty when not given. A study run uses table,
// metadata, column, tree, out and the optional taxonomy, group, minCount,
// missing and graft; a -like run uses table, like and out. orientation is "",
// "features" or "samples"; tree "taxonomy" builds the tree from the taxonomy.
struct PrepareOptions {
    std::string table;
    std::string metadata;
    std::string column;
    std::string tree;
    std::string taxonomy;
    std::string like;
    std::string out;
    std::string orientation;
    std::string group;     // metadata column of each sample's group, for groups.tsv
    std::string minCount;  // samples whose kept features count less are left out
    std::string missing;   // comma-separated class values that mean "no class"
    std::string maxGunzipped;  // the cap on an inflated gzip input, in GB
    bool missingGiven = false;  // -missing given (perhaps empty): it replaces the default markers
    bool graft = false;
    OptionSpelling spelling = OptionSpelling::CommandLine;  // of the advice in the warning
};

// "dir/" and "dir//" name the folder "dir"; "/" stays "/".
std::string withoutTrailingSlashes(std::string path);

// Writes the data folder options.out from the study's table, metadata column,
// tree and optional taxonomy. On success `note` gets what was kept and pruned
// and the share of the counts kept, lines without "note: " and joined by
// newlines; `warning` (one line without "warning: ") says when too little of
// the counts was kept, and is left empty otherwise.
std::string prepareStudy(const PrepareOptions &options, std::string &note, std::string &warning);

// The samples' counts in the columns of the data folder, each sample's
// nonzero counts only, in column order: a study of mostly zeros stays small.
struct SampleRows {
    size_t nFeatures = 0;
    std::vector<std::vector<std::pair<int, float>>> rows;  // (column, count) of each sample
    long long nonzeros = 0;
};

// What a study run writes, in memory: the kept samples in the kept features'
// columns, their classes numbered from 0 in byte order of the names, the
// names, and the tree pruned to the kept features (leaves named by feature
// ID), all in the folder's order.
struct Study {
    SampleRows rows;
    std::vector<int> classOfSample;
    SampleNames samples;  // with their class names
    ClassNames classes;
    FeatureNames features;
    StudyTree tree;
    std::string note;     // what was kept, as prepareStudy gives it
    std::string warning;  // and its warning, empty when none
    std::vector<std::string> groups;  // each sample's group, with options.group
};

// The study prepareStudy would write, refusing what it refuses; options.out
// is not used.
std::string readStudy(const PrepareOptions &options, Study &study);

// Writes options.out with the samples of options.table in the feature columns
// of the data folder options.like. On success `note` gets what was counted 0
// and what was ignored, as prepareStudy gives it.
std::string prepareLike(const PrepareOptions &options, std::string &note);

#endif
