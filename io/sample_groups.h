// Reading a data folder's groups file, groups.tsv: which samples belong
// together (a patient's repeated samples, the two of a pair), so that
// cross-validation keeps them in one fold.
#ifndef ORVANE_IO_SAMPLE_GROUPS_H
#define ORVANE_IO_SAMPLE_GROUPS_H

#include <string>
#include <vector>

// Reads the header "line<TAB>group", then one line "K<TAB>NAME" for each
// line K (from 1) of a sample table of nSamples samples, in any order, each
// once; empty lines are skipped. An empty NAME means no group (Orvane-prepare
// -group writes missing values so): that sample is a group of its own.
// groupOfSample gets nSamples entries, the group number of sample line i+1,
// groups numbered from 0 in the order of their first sample line; nGroups
// their count.
// `samplesPath` names the sample table in messages. Returns "" or the
// message (naming the file and line) to print after "error: ".
std::string readSampleGroups(const std::string &path, int nSamples, const std::string &samplesPath,
                             std::vector<int> &groupOfSample, int &nGroups);

#endif
