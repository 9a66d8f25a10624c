// Times one warm-started path of converged fits against single cyclic fits at
// the same lambdas, in one process on the same data: the path runs from
// lambda_max down to RATIO x lambda_max over LAMBDAS log-spaced values.
// Processor seconds of the fits alone (reading the files is left out).
// usage: converged_path SAMPLES LABELS TREE W [LAMBDAS] [RATIO] [TOL]
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

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s SAMPLES LABELS TREE W [LAMBDAS] [RATIO] [TOL]\n", argv[0]);
        return 1;
    }
    const float w = std::strtof(argv[4], nullptr);
    const int count = argc > 5 ? std::atoi(argv[5]) : 40;
    const double ratio = argc > 6 ? std::strtod(argv[6], nullptr) : 0.01;
    ConvergedOptions options;
    if (argc > 7)
        options.tol = std::strtod(argv[7], nullptr);
    Data all(argv[1], argv[2], {});
    const std::unique_ptr<vessik::Tree> tree(vessik::readNewickTree(argv[3]));
    if (!tree || all.N == 0 || count < 1)
        return 1;

    Logistic path(selectRows(all, {}), tree->copy());
    path.LoadTheTree(w);
    const double top = lambdaMax(path);
    std::vector<float> lambdas;
    for (int l = 0; l < count; l++)
        lambdas.push_back(static_cast<float>(top * std::pow(ratio, count > 1 ? l / (count - 1.0) : 0)));
    int iterations = 0;
    double worstGap = 0;
    std::clock_t start = std::clock();
    fitConvergedPath(path, w, lambdas, options, [&](std::size_t, const ConvergedResult &result) {
        iterations += result.iterations;
        worstGap = std::max(worstGap, result.gap);
    });
    const double pathTime = seconds(start);
    path.del();

    double cyclicTime = 0;
    for (const float lambda : lambdas) {
        Logistic single(selectRows(all, {}), tree->copy());
        start = std::clock();
        single.Train(lambda);
        single.Learn(w);
        cyclicTime += seconds(start);
        single.del();
    }
    std::printf("%g\t%d\t%.4g\t%.4g\t%.2f\t%.2f\t%.3g\t%d\t%.2f\n", w, count, top, lambdas.back(), pathTime,
                cyclicTime, pathTime / cyclicTime, iterations, pathTime / (cyclicTime / count));
    if (worstGap > options.tol)
        std::printf("# some fit stopped above the tolerance: largest gap %g\n", worstGap);
    freeData(all);
    return 0;
}
