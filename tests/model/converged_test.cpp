// The converged fit against what a minimum must satisfy: the optimality
// conditions checked direction by direction on small problems, the zero model
// from lambda_max on, the coordinate-descent fit's objective, and the order of
// the features. (A lasso case worked out by hand is in the tests of Orvane.)
#include "tree/newick.h"

#include <cmath>
#include <numeric>
#include <random>

#include "model/Converged.h"
#include "model/LambdaMax.h"

#include "model_test_util.h"

namespace {

// Random counts, some 0, as a sample table and a labels file, and the rows
// scaled to sum 1 with their classes (1..C; every class has a sample).
struct Rows {
    int M, C;
    std::vector<std::vector<double>> x;
    std::vector<int> classes;
    std::string samples, labels;

    Rows(int N, int M, int C, unsigned seed) : M(M), C(C)
    {
        std::mt19937 random(seed);
        std::vector<std::string> members(C);
        for (int i = 0; i < N; i++) {
            std::vector<double> row(M);
            for (double &value : row)
                value = random() % 3 == 0 ? 0 : random() % 100 + 1;
            row[random() % M] += 10;
            samples += std::to_string(i + 1);
            for (const double value : row)
                samples += "\t" + std::to_string(static_cast<int>(value));
            samples += "\n";
            const double sum = std::accumulate(row.begin(), row.end(), 0.0);
            for (double &value : row)
                value /= sum;
            x.push_back(row);
            classes.push_back(i < C ? i + 1 : static_cast<int>(random() % C) + 1);
            members[classes.back() - 1] += std::to_string(i + 1) + " ";
        }
        for (const std::string &line : members)
            labels += ">class\n" + line + "\n";
    }

    // The class probabilities of every row under coefficients b (C x M, class-major), row by row.
    std::vector<double> probabilities(const std::vector<double> &b) const
    {
        std::vector<double> out;
        for (const std::vector<double> &row : x) {
            std::vector<double> e(C, 0.0);
            for (int k = 0; k < C; k++)
                for (int j = 0; j < M; j++)
                    e[k] += b[k * M + j] * row[j];
            const double top = *std::max_element(e.begin(), e.end());
            double sum = 0;
            for (double &value : e)
                sum += value = std::exp(value - top);
            for (const double value : e)
                out.push_back(value / sum);
        }
        return out;
    }
};

// A model read from the files of `rows` and a Newick tree, freed at the end of the test.
struct Model {
    Model(const Rows &rows, const std::string &newick)
        : model(scratchFile("samples", rows.samples), scratchFile("labels", rows.labels),
                scratchFile("tree", newick), {})
    {
    }
    ~Model() { model.del(); }
    Logistic model;
};

// The leaf features below each internal node.
std::vector<std::vector<int>> leavesBelow(const Logistic &m)
{
    std::vector<std::vector<int>> below(m.nNodes);
    for (int v = m.nNodes - 1; v >= 0; v--) { // children come after their parent
        below[v] = m.nodeLeaves[v];
        for (const int c : m.nodeChildren[v])
            below[v].insert(below[v].end(), below[c].begin(), below[c].end());
    }
    return below;
}

// Whether b (C x M, class-major) is a minimum: no direction descends by more
// than `slack` per unit length. Along d the objective changes at the rate
// <gradient, d> plus lambda times, for each leaf and group, the derivative of
// its norm where it is away from zero and the norm of d where it is at zero.
// The directions: every coordinate both ways, and minus the gradient below
// each node of each class.
bool isMinimum(const Logistic &m, const Rows &rows, double lambda, const std::vector<double> &b,
               double slack)
{
    const int C = rows.C, M = rows.M;
    std::vector<double> grad(C * M, 0.0);
    for (std::size_t i = 0; i < rows.x.size(); i++) {
        std::vector<double> e(C, 0.0);
        for (int k = 0; k < C; k++)
            for (int j = 0; j < M; j++)
                e[k] += b[k * M + j] * rows.x[i][j];
        for (double &value : e)
            value = std::exp(value);
        const double sum = std::accumulate(e.begin(), e.end(), 0.0);
        for (int k = 0; k < C; k++)
            for (int j = 0; j < M; j++)
                grad[k * M + j] += rows.x[i][j] * (e[k] / sum - (rows.classes[i] == k + 1));
    }
    const std::vector<std::vector<int>> below = leavesBelow(m);
    const auto slope = [&](const std::vector<double> &d) {
        double rate = std::inner_product(grad.begin(), grad.end(), d.begin(), 0.0);
        for (int k = 0; k < C; k++) {
            for (const int j : m.leafFeatures)
                rate += lambda * m.leafWeight[j] *
                        (b[k * M + j] > 0 ? d[k * M + j] : b[k * M + j] < 0 ? -d[k * M + j] : std::fabs(d[k * M + j]));
            for (int v = 0; v < m.nNodes; v++) {
                double bb = 0, bd = 0, dd = 0;
                for (const int j : below[v])
                    bb += b[k * M + j] * b[k * M + j], bd += b[k * M + j] * d[k * M + j], dd += d[k * M + j] * d[k * M + j];
                rate += lambda * m.groupWeight[v] * (bb > 0 ? bd / std::sqrt(bb) : std::sqrt(dd));
            }
        }
        return rate / std::sqrt(std::inner_product(d.begin(), d.end(), d.begin(), 0.0));
    };
    std::vector<std::vector<double>> directions;
    for (int k = 0; k < C; k++) {
        for (const int j : m.leafFeatures)
            for (const double sign : {1.0, -1.0}) {
                directions.emplace_back(C * M, 0.0);
                directions.back()[k * M + j] = sign;
            }
        for (int v = 0; v < m.nNodes; v++) {
            directions.emplace_back(C * M, 0.0);
            for (const int j : below[v])
                directions.back()[k * M + j] = grad[k * M + j] == 0 ? 1 : -grad[k * M + j];
        }
    }
    for (const std::vector<double> &d : directions)
        if (slope(d) < -slack)
            return false;
    return true;
}

const char *const kSmallTree = "((0:1,1:2,(2:1,3:0.5):1):1,(4:1,5:3):0.5);";

// Small random problems at every kind of w: the fit is a minimum, the
// coordinate-descent fit is not (where it selects much) and never ends lower,
// and from lambda_max on nothing is selected.
TEST(Converged, MinimisesTheObjective)
{
    const Rows rows(9, 6, 3, 11);
    ConvergedOptions tight;
    tight.tol = 1e-9;
    tight.maxIterations = 200000;
    for (const float w : {0.3f, 0.7f, 1.0f, 0.0f, -1.0f, -2.0f})
        for (const double share : {0.05, 0.3, 0.8, 1.0, 60.0}) {
            Model fit(rows, kSmallTree), cyclic(rows, kSmallTree);
            fit.model.LoadTheTree(w);
            const float lambda = static_cast<float>(share * lambdaMax(fit.model));
            const ConvergedResult result = fitConverged(fit.model, w, lambda, tight);
            EXPECT_LE(result.gap, tight.tol) << w << " " << lambda;
            EXPECT_TRUE(isMinimum(fit.model, rows, lambda, result.coefficients, 1e-5)) << w << " " << lambda;
            EXPECT_NEAR(result.objective, treeObjective(fit.model, lambda), 1e-5 * result.objective);
            EXPECT_EQ(std::count(fit.model.beta, fit.model.beta + 18, 0.0f) == 18, share >= 1) << w << " " << share;

            cyclic.model.Train(lambda);
            cyclic.model.Learn(w);
            EXPECT_LE(treeObjective(fit.model, lambda), treeObjective(cyclic.model, lambda)) << w << " " << lambda;
            if (share < 0.1) {
                EXPECT_FALSE(isMinimum(cyclic.model, rows, lambda, {cyclic.model.beta, cyclic.model.beta + 18}, 1e-5))
                    << w << " " << lambda;
            }
        }
}

// The example data with its columns permuted and the tree's leaves renamed
// to match: the same model, feature by feature, up to the tolerance.
TEST(Converged, DoesNotDependOnTheOrderOfTheFeatures)
{
    const std::string folder = EXAMPLE_DIR;
    std::istringstream lines(readFile(folder + "samples.txt"));
    std::vector<int> to; // column j moves to to[j]
    std::string permuted;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::vector<std::string> row(1);
        for (std::string field; fields >> field;)
            row.push_back(field);
        for (std::size_t j = to.size(); j + 2 < row.size(); j++)
            to.push_back(static_cast<int>((j * 7 + 3) % (row.size() - 2))); // a permutation: 7 is prime to 300
        std::vector<std::string> moved(to.size());
        for (std::size_t j = 0; j < to.size(); j++)
            moved[to[j]] = row[j + 2];
        permuted += row[1];
        for (const std::string &field : moved)
            permuted += "\t" + field;
        permuted += "\n";
    }
    const std::string permutedPath = scratchFile("permuted", permuted);
    const int M = static_cast<int>(to.size());
    for (const float w : {0.3f, 0.8f}) {
        Logistic plain(folder + "samples.txt", folder + "labels.txt", folder + "tree.tre", {});
        Logistic other(permutedPath, folder + "labels.txt", folder + "tree.tre", {});
        for (int n = 0; n < other.tree->nnodes; n++)
            if (other.tree->nodes[n]->nchildren == 0)
                other.tree->nodes[n]->longname = std::to_string(to[std::stoi(other.tree->nodes[n]->longname)]);
        ConvergedOptions options;
        options.tol = 1e-9;
        const ConvergedResult a = fitConverged(plain, w, 0.05f, options), b = fitConverged(other, w, 0.05f, options);
        EXPECT_NEAR(a.objective, b.objective, 1e-8 * a.objective);
        double largest = 0, apart = 0;
        int sameSupport = 0;
        for (int k = 0; k < plain.nClasses; k++)
            for (int j = 0; j < M; j++) {
                const double x = a.coefficients[k * M + j], y = b.coefficients[k * M + to[j]];
                largest = std::max(largest, std::fabs(x));
                apart = std::max(apart, std::fabs(x - y));
                sameSupport += (x != 0) == (y != 0);
            }
        EXPECT_LT(apart, 1e-3 * largest) << w;
        EXPECT_EQ(sameSupport, plain.nClasses * M) << w;
        plain.del(), other.del();
    }
}

// A random binary tree over the leaves first..last, branch lengths 1 to 3.
std::string randomTree(int first, int last, std::mt19937 &random)
{
    if (first == last)
        return std::to_string(first);
    const int split = first + static_cast<int>(random() % (last - first));
    return "(" + randomTree(first, split, random) + ":" + std::to_string(1 + random() % 3) + "," +
           randomTree(split + 1, last, random) + ":" + std::to_string(1 + random() % 3) + ")";
}

// On random problems of 40 features: what the gap at a rough fit proves to be
// 0 is 0 at the minimum, and the working set, grown from nothing or from the
// fit before along a path (picked by the strong rule where lambda falls by
// less than half), ends where iterating on every feature ends.
TEST(Converged, ScreeningAndWorkingSetsKeepTheMinimum)
{
    ConvergedOptions rough, tight, full;
    rough.tol = 1e-5;
    tight.tol = full.tol = 1e-10;
    full.workingSet = false;
    int screened = 0, zeros = 0;
    for (const unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 random(seed);
        const Rows rows(30, 40, 3, seed);
        const std::string newick = randomTree(0, 39, random) + ";";
        for (const float w : {0.5f, 1.0f, -1.0f}) {
            Model fit(rows, newick);
            fit.model.LoadTheTree(w);
            const double top = lambdaMax(fit.model);
            std::vector<float> lambdas;
            for (const double share : {0.6, 0.5, 0.4, 0.2, 0.15, 0.05})
                lambdas.push_back(static_cast<float>(share * top));
            std::vector<ConvergedResult> path;
            fitConvergedPath(fit.model, w, lambdas, tight,
                             [&](std::size_t, const ConvergedResult &result) { path.push_back(result); });
            for (std::size_t l = 0; l < lambdas.size(); l++) {
                const ConvergedResult whole = fitConverged(fit.model, w, lambdas[l], full);
                const ConvergedResult start = fitConverged(fit.model, w, lambdas[l], rough);
                EXPECT_LE(path[l].gap, tight.tol) << seed << " " << w << " " << l << " " << path[l].iterations;
                EXPECT_NEAR(path[l].objective, whole.objective, 1e-8 * whole.objective) << seed << " " << w;
                double largest = 0, apart = 0;
                for (std::size_t q = 0; q < whole.coefficients.size(); q++) {
                    largest = std::max(largest, std::fabs(whole.coefficients[q]));
                    apart = std::max(apart, std::fabs(whole.coefficients[q] - path[l].coefficients[q]));
                }
                EXPECT_LT(apart, 1e-3 * largest) << seed << " " << w << " " << l;

                const std::vector<bool> zero = certainlyZero(fit.model, w, lambdas[l], start.coefficients);
                for (int j = 0; j < 40; j++) {
                    for (int k = 0; k < 3 && zero[j]; k++)
                        EXPECT_EQ(whole.coefficients[k * 40 + j], 0.0) << seed << " " << w << " " << j;
                    screened += zero[j];
                    zeros += whole.coefficients[j] == 0 && whole.coefficients[40 + j] == 0 &&
                             whole.coefficients[80 + j] == 0;
                }
            }
        }
    }
    // Most of the features that are 0 at the minimum are proven so.
    EXPECT_GT(screened, zeros / 2) << screened << " of " << zeros;
}

// Newton steps against proximal-gradient steps alone, on random problems with
// more samples than features (where the loss is ill-conditioned) and fewer,
// at several class counts, along a path and from zero: the same objective
// and the same class probabilities (the coefficients may differ: with rows
// that sum to 1, adding one number to every coefficient leaves the loss
// unchanged, and the lasso need not pick a single minimum along that line),
// and at w = 1 (where the Newton steps run) far fewer steps.
TEST(Converged, NewtonStepsReachTheSameMinimum)
{
    ConvergedOptions newton, gradient;
    newton.tol = gradient.tol = 1e-9;
    gradient.newton = false;
    newton.maxIterations = gradient.maxIterations = 200000;
    for (const unsigned seed : {4u, 5u, 6u}) {
        const int C = static_cast<int>(seed) - 2, M = 20 + 5 * static_cast<int>(seed);
        const int N = seed == 5u ? 12 : 100;
        std::mt19937 random(seed);
        const Rows rows(N, M, C, seed);
        const std::string newick = randomTree(0, M - 1, random) + ";";
        for (const float w : {1.0f, 0.5f}) {
            Model fit(rows, newick);
            fit.model.LoadTheTree(w);
            const double top = lambdaMax(fit.model);
            const std::vector<float> lambdas{static_cast<float>(0.5 * top), static_cast<float>(0.05 * top),
                                             static_cast<float>(0.005 * top)};
            std::vector<ConvergedResult> path;
            fitConvergedPath(fit.model, w, lambdas, newton,
                             [&](std::size_t, const ConvergedResult &result) { path.push_back(result); });
            for (std::size_t l = 0; l < lambdas.size(); l++) {
                const ConvergedResult plain = fitConverged(fit.model, w, lambdas[l], gradient);
                const ConvergedResult single = fitConverged(fit.model, w, lambdas[l], newton);
                const ConvergedResult &warm = path[l];
                const std::vector<double> expected = rows.probabilities(plain.coefficients);
                for (const ConvergedResult *result : {&warm, &single}) {
                    EXPECT_LE(result->gap, newton.tol) << seed << " " << w << " " << l;
                    EXPECT_NEAR(result->objective, plain.objective, 1e-8 * plain.objective) << seed << " " << w;
                    const std::vector<double> found = rows.probabilities(result->coefficients);
                    for (std::size_t q = 0; q < found.size(); q++)
                        EXPECT_NEAR(found[q], expected[q], 1e-4) << seed << " " << w << " " << l;
                }
                if (w == 1.0f && l > 0) {
                    EXPECT_LT(5 * single.iterations, plain.iterations) << seed << " " << l;
                }
            }
        }
    }
}

// A path whose fits start from the parabola through the three solutions
// before (the line through two, second along the path and once the lambdas
// fall again), on random problems where the groups carry weight (w = 0.5 and
// 0.2) with 2 to 4 classes: every fit reaches the objective of a fit from
// zero by gradient steps alone, also after the lambdas turn back up (where no
// curve applies) and come down again.
TEST(Converged, ExtrapolatedPathStartsKeepTheMinimum)
{
    ConvergedOptions options, gradient;
    options.tol = gradient.tol = 1e-9;
    gradient.newton = false;
    options.maxIterations = gradient.maxIterations = 200000;
    for (const unsigned seed : {11u, 12u, 13u}) {
        const int C = static_cast<int>(seed) - 9, M = 30;
        std::mt19937 random(seed);
        const Rows rows(seed == 12u ? 15 : 80, M, C, seed);
        const std::string newick = randomTree(0, M - 1, random) + ";";
        for (const float w : {0.5f, 0.2f}) {
            Model fit(rows, newick);
            fit.model.LoadTheTree(w);
            const double top = lambdaMax(fit.model);
            std::vector<float> lambdas;
            for (const double share : {0.8, 0.4, 0.2, 0.1, 0.05, 0.025, 0.2, 0.1, 0.05})
                lambdas.push_back(static_cast<float>(share * top));
            std::vector<ConvergedResult> path;
            fitConvergedPath(fit.model, w, lambdas, options,
                             [&](std::size_t, const ConvergedResult &result) { path.push_back(result); });
            for (std::size_t l = 0; l < lambdas.size(); l++) {
                const ConvergedResult plain = fitConverged(fit.model, w, lambdas[l], gradient);
                EXPECT_LE(path[l].gap, options.tol) << seed << " " << w << " " << l;
                EXPECT_NEAR(path[l].objective, plain.objective, 1e-8 * plain.objective) << seed << " " << w << " " << l;
            }
        }
    }
}

// Down to lambda_max / 1e8, on the example and on data that one feature per
// class separates (where the loss has no minimum at lambda = 0): every fit
// ends, the step never stalls into a hang, and the gap is reached (at w = 1,
// where Newton steps run, in a few steps).
TEST(Converged, SmallLambdasEnd)
{
    const std::string folder = EXAMPLE_DIR;
    Rows separable(12, 6, 3, 5); // its classes; feature k + 3 only in the rows of class k + 1
    std::string samples;
    for (std::size_t i = 0; i < separable.x.size(); i++) {
        samples += std::to_string(i + 1);
        for (int j = 0; j < 6; j++)
            samples += "\t" + std::to_string(j < 3 ? 1 + (i * 7 + j) % 5 : (separable.classes[i] == j - 2) * 9);
        samples += "\n";
    }
    separable.samples = samples;
    for (const float w : {0.5f, 1.0f})
        for (const double share : {1e-4, 1e-6, 1e-8}) {
            Logistic example(folder + "samples.txt", folder + "labels.txt", folder + "tree.tre", {});
            Model split(separable, kSmallTree);
            for (Logistic *model : {&example, &split.model}) {
                model->LoadTheTree(w);
                const float lambda = static_cast<float>(share * lambdaMax(*model));
                const ConvergedResult result = fitConverged(*model, w, lambda, ConvergedOptions());
                EXPECT_LE(result.gap, 1e-6) << w << " " << share << " " << result.iterations;
                EXPECT_LT(result.iterations, w == 1.0f ? 50 : 20000) << w << " " << share; // Newton steps at w = 1
            }
            example.del();
        }
}

} // namespace
