// A synthetic cohort in Orvane's input formats, shaped like a microbiome
// study: a random binary tree over the features, a few clades per class
// whose taxa are more often present and more abundant in that class, and
// sparse Dirichlet-multinomial counts (each sample draws which taxa are
// present, their proportions from a Dirichlet over those, and a read depth
// spread over them multinomially).
// usage: cohort SAMPLES FEATURES CLASSES PRESENT SEED FOLDER
//   PRESENT: the share of a sample's taxa drawn as present outside the
//   enriched clades (0.05 gives about 95% zeros). Writes FOLDER/samples.txt,
//   labels.txt and tree.tre.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

struct Range {
    int lo, hi;  // the features of a clade: lo .. hi - 1
};

// Newick text of the subtree over features lo .. hi - 1, split at a point of
// the middle half (so the nesting stays shallow); every clade goes to `clades`.
void subtree(int lo, int hi, std::mt19937_64 &random, std::vector<Range> &clades, std::string &out)
{
    std::uniform_real_distribution<double> branch(0.01, 0.21);
    if (hi - lo == 1) {
        out += std::to_string(lo);
    } else {
        const int span = hi - lo;
        int cut = lo + span / 4 + static_cast<int>(std::uniform_real_distribution<double>(0, span / 2.0)(random));
        cut = std::min(std::max(cut, lo + 1), hi - 1);
        clades.push_back({lo, hi});
        out += '(';
        subtree(lo, cut, random, clades, out);
        out += ',';
        subtree(cut, hi, random, clades, out);
        out += ')';
    }
    char length[32];
    std::snprintf(length, sizeof length, ":%.3f", branch(random));
    out += length;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: cohort SAMPLES FEATURES CLASSES PRESENT SEED FOLDER\n");
        return 2;
    }
    const int N = std::atoi(argv[1]), M = std::atoi(argv[2]), C = std::atoi(argv[3]);
    const double present = std::atof(argv[4]);
    std::mt19937_64 random(std::strtoull(argv[5], nullptr, 10));
    const std::string dir = argv[6];
    if (N < C || M < 2 || C < 2 || !(present > 0 && present <= 1)) {
        std::fprintf(stderr, "cohort: need SAMPLES >= CLASSES >= 2, FEATURES >= 2, 0 < PRESENT <= 1\n");
        return 2;
    }

    std::vector<Range> clades;
    std::string newick;
    subtree(0, M, random, clades, newick);
    std::ofstream(dir + "/tree.tre") << newick << ";\n";

    // Three clades of 10 to 200 taxa per class.
    std::vector<std::vector<char>> enriched(C, std::vector<char>(M, 0));
    std::vector<Range> small;
    for (const Range &r : clades)
        if (r.hi - r.lo >= 10 && r.hi - r.lo <= 200)
            small.push_back(r);
    for (int k = 0; k < C && !small.empty(); k++)
        for (int c = 0; c < 3; c++) {
            const Range r = small[std::uniform_int_distribution<std::size_t>(0, small.size() - 1)(random)];
            std::fill(enriched[k].begin() + r.lo, enriched[k].begin() + r.hi, 1);
        }

    // How common and how abundant each taxon is: log-normal, a few dominate.
    std::lognormal_distribution<double> popularity(0.0, 1.0);
    std::vector<double> alpha(M);
    for (double &a : alpha)
        a = 0.2 * popularity(random);

    std::ofstream samples(dir + "/samples.txt");
    std::vector<std::string> members(C);
    std::uniform_real_distribution<double> uniform(0, 1);
    std::vector<int> taxa;
    std::vector<double> weight;
    std::vector<long long> counts(M, 0);
    std::string line;
    for (int i = 0; i < N; i++) {
        const int k = i % C;
        members[k] += (members[k].empty() ? "" : " ") + std::to_string(i + 1);
        taxa.clear();
        weight.clear();
        double total = 0;
        for (int j = 0; j < M; j++) {
            const bool up = enriched[k][j];
            if (uniform(random) < (up ? std::min(1.0, 6 * present) : present)) {
                taxa.push_back(j);
                weight.push_back(std::gamma_distribution<double>(up ? 4 * alpha[j] : alpha[j], 1.0)(random));
                total += weight.back();
            }
        }
        if (taxa.empty() || total <= 0) {
            taxa.assign(1, std::uniform_int_distribution<int>(0, M - 1)(random));
            weight.assign(1, total = 1);
        }
        // The reads spread over the present taxa by conditional binomials.
        long long depth = 2000 + std::uniform_int_distribution<int>(0, 18000)(random);
        for (std::size_t t = 0; t < taxa.size(); t++) {
            const double p = t + 1 == taxa.size() ? 1.0 : std::min(1.0, weight[t] / total);
            const long long n = p >= 1.0 ? depth : std::binomial_distribution<long long>(depth, p)(random);
            counts[taxa[t]] = n;
            depth -= n;
            total -= weight[t];
        }
        line = std::to_string(i + 1);
        for (int j = 0; j < M; j++) {
            line += '\t';
            line += std::to_string(counts[j]);
        }
        line += '\n';
        samples << line;
        for (int t : taxa)
            counts[t] = 0;
    }
    std::ofstream labels(dir + "/labels.txt");
    for (int k = 0; k < C; k++)
        labels << ">class" << k + 1 << '\n' << members[k] << '\n';
    return 0;
}
