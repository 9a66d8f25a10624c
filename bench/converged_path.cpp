// Times one warm-started path of converged fits against single cyclic fits at
// the same lambdas, in one process on the same data: the path runs from
// lambda_max down to RATIO x lambda_max over LAMBDAS log-spaced values.
// Processor seconds of the fits alone (reading the files is left out).
// MODE picks what runs: "both" (the default) prints one row comparing the
// two; "path" runs the path alone and prints its seconds, then each lambda
// with its objective; "cyclic" runs the cyclic fits alone (the two last give
// each one's peak memory to a caller that measures it); "point" fits the last
// lambda alone, converged from zero and cyclic, and prints both times.
// A ninth argument "gradient" keeps the converged fit to its proximal-gradient
// steps (no Newton steps), to compare the two.
// usage: converged_path SAMPLES LABELS TREE W [LAMBDAS] [RATIO] [TOL] [MODE] [gradient]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "model/Converged.h"
#include "model/LambdaMax.h"
#include "model/Logistic.h"
#include "tree/newick.h"

namespace {

double seconds(std::clock_t since)
{
    return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC;
}

struct PathRun {
    double seconds = 0, worstGap = 0;
    int iterations = 0;
    std::vector<double> objectives;
};

PathRun runPath(const Data &all, vessik::Tree &tree, float w, const std::vector<float> &lambdas,
                const ConvergedOptions &options)
{
    PathRun run;
    Logistic path(selectRows(all, {}), tree.copy());
    const std::clock_t start = std::clock();
    fitConvergedPath(path, w, lambdas, options, [&](std::size_t, const ConvergedResult &result) {
        run.iterations += result.iterations;
        run.worstGap = std::max(run.worstGap, result.gap);
        run.objectives.push_back(result.objective);
    });
    run.seconds = seconds(start);
    path.del();
    return run;
}

double runCyclic(const Data &all, vessik::Tree &tree, float w, const std::vector<float> &lambdas)
{
    double total = 0;
    for (const float lambda : lambdas) {
        Logistic single(selectRows(all, {}), tree.copy());
        const std::clock_t start = std::clock();
        single.Train(lambda);
        single.Learn(w);
        total += seconds(start);
        single.del();
    }
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s SAMPLES LABELS TREE W [LAMBDAS] [RATIO] [TOL] [MODE] [gradient]\n", argv[0]);
        return 1;
    }
    const float w = std::strtof(argv[4], nullptr);
    const int count = argc > 5 ? std::atoi(argv[5]) : 40;
    const double ratio = argc > 6 ? std::strtod(argv[6], nullptr) : 0.01;
    ConvergedOptions options;
    if (argc > 7)
        options.tol = std::strtod(argv[7], nullptr);
    const std::string mode = argc > 8 ? argv[8] : "both";
    options.newton = !(argc > 9 && std::string(argv[9]) == "gradient");
    Data all(argv[1], argv[2], {});
    const std::unique_ptr<vessik::Tree> tree(vessik::readNewickTree(argv[3]));
    if (!tree || all.N == 0 || count < 1)
        return 1;

    Logistic top(selectRows(all, {}), tree->copy());
    top.LoadTheTree(w);
    const double largest = lambdaMax(top);
    top.del();
    std::vector<float> lambdas;
    for (int l = 0; l < count; l++)
        lambdas.push_back(static_cast<float>(largest * std::pow(ratio, count > 1 ? l / (count - 1.0) : 0)));

    int status = 0;
    if (mode == "path") {
        const PathRun run = runPath(all, *tree, w, lambdas, options);
        std::printf("%.4g\t%d\n", run.seconds, run.iterations);
        for (std::size_t l = 0; l < lambdas.size(); l++)
            std::printf("%.9g\t%.15g\n", lambdas[l], run.objectives[l]);
        status = run.worstGap > options.tol;
    } else if (mode == "cyclic") {
        std::printf("%.4g\n", runCyclic(all, *tree, w, lambdas));
    } else if (mode == "point") {
        const std::vector<float> last{lambdas.back()};
        const PathRun run = runPath(all, *tree, w, last, options);
        const double cyclic = runCyclic(all, *tree, w, last);
        std::printf("%g\t%.4g\t%.4g\t%.4g\t%.4g\t%.3g\t%d\n", w, largest, last[0], run.seconds, cyclic,
                    run.seconds / cyclic, run.iterations);
        status = run.worstGap > options.tol;
    } else {
        const PathRun run = runPath(all, *tree, w, lambdas, options);
        const double cyclic = runCyclic(all, *tree, w, lambdas);
        std::printf("%g\t%d\t%.4g\t%.4g\t%.2f\t%.2f\t%.3g\t%d\t%.2f\n", w, count, largest, lambdas.back(),
                    run.seconds, cyclic, run.seconds / cyclic, run.iterations, run.seconds / (cyclic / count));
        status = run.worstGap > options.tol;
    }
    if (status != 0)
        std::printf("# some fit stopped above the tolerance\n");
    freeData(all);
    return 0;
}
