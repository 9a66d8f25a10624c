// Reading a study's taxonomy sheet: "Feature ID<TAB>Taxon[<TAB>Confidence]".
#ifndef ORVANE_IO_TAXONOMY_H
#define ORVANE_IO_TAXONOMY_H

#include <string>
#include <unordered_map>

// Maps each feature ID to its taxon text. A first line whose first field is
// "Feature ID", "FeatureID", "OTU ID" or "#OTU ID" (any case) is a header.
// Returns "" or the message (naming the file and line) to print after "error: ".
std::string readTaxonomy(const std::string &path,
                         std::unordered_map<std::string, std::string> &taxonomy);

#endif
