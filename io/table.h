// Reading a study's feature table: the TSV export of a BIOM table (features
// as rows), a table with samples as rows (tab- or comma-separated), a BIOM
// 1.0 (JSON) table when the JSON library was found at build time, or a BIOM
// 2.1 file in HDF5 when the HDF5 library was. Text and JSON may be gzipped.
#ifndef ORVANE_IO_TABLE_H
#define ORVANE_IO_TABLE_H

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

enum class Orientation { Unknown, FeaturesAsRows, SamplesAsRows };

// The counts of a table, whatever its orientation in the file: each sample's
// nonzero counts only, so that a table of mostly zeros stays small.
struct CountTable {
    std::vector<std::string> samples;   // in the file's order
    std::vector<std::string> features;  // in the file's order
    // Per sample, (feature, count) of its nonzero counts in feature order.
    std::vector<std::vector<std::pair<int, float>>> rows;
    std::vector<std::string> taxonomy;  // one per feature when the table holds a taxonomy, else none

    float count(size_t sample, size_t feature) const;
};

// What tells the orientation of a text table whose header does not: the IDs
// that its samples (`sampleIds`) and its features (`featureIds`) may carry.
struct OrientationHints {
    Orientation forced = Orientation::Unknown;  // from the -orientation option
    const std::unordered_set<std::string> *sampleIds = nullptr;
    const std::unordered_set<std::string> *featureIds = nullptr;
};

// Reads `path` into `table`, streaming: no samples x features array is ever
// made. Returns "" or the message (naming the file and line) to print after
// "error: ".
std::string readCountTable(const std::string &path, const OrientationHints &hints,
                           CountTable &table);

// The same for a text table in memory (not BIOM 2.1); messages name it `name`.
std::string readCountTableText(const std::string &text, const std::string &name,
                               const OrientationHints &hints, CountTable &table);

// True when the file starts with the HDF5 signature.
bool isHdf5File(const std::string &path);

// Reads a BIOM 2.1 (HDF5) file; only built with the HDF5 library. The HDF5
// library can crash on a damaged file, so the reading runs in a child
// process (io/contained.h) and a crash becomes the returned message.
std::string readBiomHdf5(const std::string &path, CountTable &table);
// The reading itself, in this process: for the child above.
std::string readBiomHdf5InThisProcess(const std::string &path, CountTable &table);

// Whether this build reads BIOM 2.1 (HDF5) files.
bool readsBiomHdf5();

class TextStream;
// Reads a BIOM 1.0 table, JSON, from `in` (file `path`) as it is parsed; only
// built with the JSON library.
std::string readBiomJson(const std::string &path, TextStream &in, CountTable &table);

// Whether this build reads BIOM 1.0 (JSON) files.
bool readsBiomJson();

#endif
