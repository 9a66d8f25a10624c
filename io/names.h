// The name files of a data folder: they tie the column numbers, line numbers
// and class numbers that Orvane reads to the IDs and names of a study.
//
//   features.tsv  "column<TAB>feature-id[<TAB>taxonomy[<TAB>grafted]]"  column counted from 0
//   samples.tsv   "line<TAB>sample-id[<TAB>class]"        line of samples.txt counted from 1
//   classes.tsv   "class<TAB>name"                        class number counted from 1
//   nodes.tsv     "node<TAB>label"                        internal node of tree.tre counted from 1
//                                                         in pre-order (node 1 is the root)
//
// Each file has its header line, then one line per item in number order.
// Readers check the whole format and return an empty string, or a message
// naming the file and line, to print after "error: ". Writers expect names
// without tab, carriage return or line feed (checkName tells).
#ifndef ORVANE_IO_NAMES_H
#define ORVANE_IO_NAMES_H

#include <iosfwd>
#include <string>
#include <vector>

struct FeatureNames {
    std::vector<std::string> ids;       // ids[c] names feature column c
    bool hasTaxonomy = false;
    std::vector<std::string> taxonomy;  // one per feature when hasTaxonomy (may be empty), else none
    bool hasGrafted = false;            // a fourth column `grafted` (yes or no); needs hasTaxonomy
    std::vector<bool> grafted;          // one per feature when hasGrafted, else none
};

struct SampleNames {
    std::vector<std::string> ids;      // ids[i] names line i+1 of samples.txt
    bool hasClasses = false;           // false for new samples, which carry no class
    std::vector<std::string> classes;  // class name of each sample when hasClasses, else none
};

struct ClassNames {
    std::vector<std::string> names;  // names[k] names class k+1
};

// The internal nodes' labels as the study's tree wrote them (tree.tre can
// hold only a plain form of them), empty for a node without one.
struct NodeLabels {
    std::vector<std::string> labels;  // labels[v] labels internal node v+1
};

std::string readFeatureNames(const std::string &path, FeatureNames &features);
// Accepts both headers; hasClasses tells which the file had.
std::string readSampleNames(const std::string &path, SampleNames &samples);
std::string readClassNames(const std::string &path, ClassNames &classes);
std::string readNodeLabels(const std::string &path, NodeLabels &nodes);

void writeFeatureNames(std::ostream &out, const FeatureNames &features);
void writeSampleNames(std::ostream &out, const SampleNames &samples);
void writeClassNames(std::ostream &out, const ClassNames &classes);
void writeNodeLabels(std::ostream &out, const NodeLabels &nodes);

// Empty when `name` may stand in a name file, else why not ("holds a tab", ...).
std::string checkName(const std::string &name);

#endif
