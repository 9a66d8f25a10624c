// Reading a study's metadata sheet: tab-separated, one line per sample, the
// sample IDs in the first column, comment lines starting with '#'.
#ifndef ORVANE_IO_METADATA_H
#define ORVANE_IO_METADATA_H

#include <string>
#include <vector>

// The sample IDs and one column of a metadata sheet.
struct MetadataColumn {
    std::vector<std::string> samples;  // in the sheet's order
    std::vector<std::string> values;   // the column's value for each sample, trimmed of spaces
    std::string headerNote;            // how the header was read, when not as usual
};

// Reads the column named `column`. The header is the first line that is not
// empty and not a comment; its first field must be one of the usual names of
// a sample-ID column: sample-id, sampleid, id, #SampleID, sample_name (any case).
// A sheet written by R's write.table is read too, and headerNote says how:
// a first field X.SampleID (R's name for #SampleID) or empty (above R's row
// names), or a header one field short of the rows, whose first field then is
// R's row names, holding the sample IDs unless the header's first field
// names the sample-ID column.
// Returns "" or the message (naming the file and line) to print after "error: ".
std::string readMetadataColumn(const std::string &path, const std::string &column,
                               MetadataColumn &result);

#endif
