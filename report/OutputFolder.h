// Writing a folder of output files all or nothing.
#ifndef ORVANE_REPORT_OUTPUT_FOLDER_H
#define ORVANE_REPORT_OUTPUT_FOLDER_H

#include <string>
#include <utility>
#include <vector>

// Writes each (file name, content) into folder `dir`. Every file is first
// written and flushed to disk in a new temporary folder: beside `dir` when
// `dir` does not exist, and that folder then becomes `dir`; inside `dir`
// when it exists, and the files then move up into it, replacing files of
// the same names (all or none: the replaced files are kept until every new
// one is in place) and leaving other files alone. Nothing moves before all
// files are complete; a name in `dir` that is not a regular file is refused
// first. On failure nothing in `dir` changes, the temporary folder is
// removed, and the message names the path.
std::string writeOutputFolder(const std::string &dir,
                              const std::vector<std::pair<std::string, std::string>> &files);

#endif
