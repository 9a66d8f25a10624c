// The wording of what Orvane-prepare tells about a study run: shares of the
// reads, the samples left out for a missing class value, and what to try
// when too few reads are kept.
#ifndef ORVANE_IO_PREPARE_NOTES_H
#define ORVANE_IO_PREPARE_NOTES_H

#include <string>
#include <vector>

#include "io/prepare.h"

// A share (0 to 1) in percent with one decimal, or more where one would
// round it onto 0%, 50%, 90% or 100% that it is not: 0.8998 is "89.98%",
// never "90.0%", so a share below a threshold never reads as reaching it.
std::string shareText(double share);

// The note line naming the samples left out for a missing value in
// `column`: ids[i] had values[i]. Up to ten IDs, then how many more, and
// each value taken as missing with its number of samples. Empty without ids.
std::string missingClassNote(const std::string &column, const std::vector<std::string> &ids,
                             const std::vector<std::string> &values);

// The warning when the kept features hold too little of the reads: the
// overall share, the sample that keeps the least, where the features left
// out are listed (when a folder is written), and the options not yet in use
// that could keep more, spelled as options.spelling says.
std::string shareWarning(const PrepareOptions &options, double overall, double lowest,
                         const std::string &lowestId);

#endif
