// Making a data folder from a study's files, and laying out new samples like
// an existing data folder: the work behind Orvane-prepare.
//
// Each function returns an empty string on success, otherwise the message to
// print after "error: " (it names the file, and the line when there is one).
// A refused run creates no folder; a successful one writes its folder whole.
#ifndef ORVANE_IO_PREPARE_H
#define ORVANE_IO_PREPARE_H

#include <iosfwd>
#include <string>
#include <vector>

#include "io/names.h"
#include "io/study_tree.h"

// The program's options, each empty when not given. A study run uses table,
// metadata, column, tree, taxonomy (optional) and out; a -like run uses table,
// like and out. orientation is "", "features" or "samples".
struct PrepareOptions {
    std::string table;
    std::string metadata;
    std::string column;
    std::string tree;
    std::string taxonomy;
    std::string like;
    std::string out;
    std::string orientation;
};

// "dir/" and "dir//" name the folder "dir"; "/" stays "/".
std::string withoutTrailingSlashes(std::string path);

// The folder must not exist yet, or be empty: a data folder is written whole,
// never mixed with files of an earlier run.
std::string checkOutputFolder(const std::string &dir);

// One sample's counts in the columns of the data folder.
using SampleRows = std::vector<std::vector<float>>;

// What a study run writes, in memory: the kept samples (in the table's order)
// in the kept features' columns, their classes numbered in byte order of the
// names, the names, and the tree pruned to the kept features (leaves named by
// feature ID).
struct Study {
    SampleRows rows;
    std::vector<int> classOfSample;  // from 0, one per row
    SampleNames samples;             // with their class names
    ClassNames classes;
    FeatureNames features;
    StudyTree tree;
    std::string note;  // what was kept and pruned, as prepareStudy gives it
};

// Reads and matches the study's table, metadata column, tree and optional
// taxonomy (options.out is not used), refusing what prepareStudy refuses.
std::string readStudy(const PrepareOptions &options, Study &study);

// tree.tre of the study: its tree with each leaf named by its feature column.
void writeNumberedTree(std::ostream &out, const Study &study);

// Writes the data folder options.out from the study's table, metadata column,
// tree and optional taxonomy. On success `note` gets what was kept and pruned,
// one line without "note: " and newline.
std::string prepareStudy(const PrepareOptions &options, std::string &note);

// Writes options.out with the samples of options.table in the feature columns
// of the data folder options.like. On success `note` gets what was counted 0
// and what was ignored, as prepareStudy gives it.
std::string prepareLike(const PrepareOptions &options, std::string &note);

#endif
