// Making a data folder from a study's files, and laying out new samples like
// an existing data folder: the work behind Orvane-prepare.
//
// Each function returns an empty string on success, otherwise the message to
// print after "error: " (it names the file, and the line when there is one).
// A refused run creates no folder; a successful one writes its folder whole.
#ifndef ORVANE_IO_PREPARE_H
#define ORVANE_IO_PREPARE_H

#include <string>

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

// Writes the data folder options.out from the study's table, metadata column,
// tree and optional taxonomy. On success `note` gets what was kept and pruned,
// one line without "note: " and newline.
std::string prepareStudy(const PrepareOptions &options, std::string &note);

// Writes options.out with the samples of options.table in the feature columns
// of the data folder options.like. On success `note` gets what was counted 0
// and what was ignored, as prepareStudy gives it.
std::string prepareLike(const PrepareOptions &options, std::string &note);

#endif
