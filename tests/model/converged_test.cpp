// The converged fit against what a minimum must satisfy: the optimality
// conditions checked direction by direction, a lasso case searched
// exhaustively, the zero model from lambda_max on, the order of the features,
// and the coordinate-descent fit's objective.
#include "tree/newick.h"

#include <cmath>
#include <numeric>
#include <random>

#include "model/Converged.h"
#include "model/LambdaMax.h"

#include "model_test_util.h"

namespace {

// Rows scaled to sum 1, as the model sees them, with their classes (1..C).
struct Rows {
    int M = 0, C = 0;
    std::vector<std::vector<double>> x;
    std::vector<int> classes;
};

Data dataOf(const Rows &rows)
{
    Data data;
    data.N = data.NLines = static_cast<int>(rows.x.size());
    data.M = rows.M;
    data.C = rows.C;
    data.X = new float[data.N * data.M];
    data.classes = new int[data.N];
    data.Y = new int[data.N * data.C]();
    for (int i = 0; i < data.N; i++) {
        for (int j = 0; j < data.M; j++)
            data.X[i * data.M + j] = static_cast<float>(rows.x[i][j]);
        data.classes[i] = rows.classes[i];
        data.Y[i * data.C + rows.classes[i] - 1] = 1;
    }
    return data;
}

// A model over `rows` and a Newick tree, freed at the end of the test.
struct Model {
    Model(const Rows &rows, const std::string &newick) : model(dataOf(rows), readText(newick)) {}
    ~Model() { model.del(); }
    Logistic model;
};

// Random counts, some 0, scaled by row; every class has a sample.
Rows randomRows(int N, int M, int C, unsigned seed)
{
    std::mt19937 random(seed);
    Rows rows;
    rows.M = M;
    rows.C = C;
    for (int i = 0; i < N; i++) {
        std::vector<double> row(M);
        for (double &value : row)
            value = random() % 3 == 0 ? 0.0 : static_cast<double>(random() % 100 + 1);
        row[random() % M] += 10;
        const double sum = std::accumulate(row.begin(), row.end(), 0.0);
        for (double &value : row)
            value = static_cast<float>(value / sum);
        rows.x.push_back(row);
        rows.classes.push_back(i < C ? i + 1 : static_cast<int>(random() % C) + 1);
    }
    return rows;
}

// Directional derivative of the objective at b (C x M, class-major) along d,
// from the loss gradient `grad`: each group or leaf at zero adds its weighted
// norm of d, each one away from zero the derivative of its norm.
double slopeAlong(const Logistic &m, double lambda, const std::vector<double> &b,
                  const std::vector<double> &grad, const std::vector<double> &d)
{
    const int C = m.nClasses, M = m.nFeatures;
    double slope = 0;
    for (std::size_t q = 0; q < b.size(); q++)
        slope += grad[q] * d[q];
    for (int k = 0; k < C; k++) {
        for (const int j : m.leafFeatures) {
            const double bj = b[k * M + j], dj = d[k * M + j];
            slope += lambda * m.leafWeight[j] * (bj != 0 ? (bj > 0 ? dj : -dj) : std::fabs(dj));
        }
        for (int v = 0; v < m.nNodes; v++) {
            double bb = 0, bd = 0, dd = 0;
            std::vector<int> stack{v};
            while (!stack.empty()) {
                const int u = stack.back();
                stack.pop_back();
                for (const int j : m.nodeLeaves[u]) {
                    bb += b[k * M + j] * b[k * M + j];
                    bd += b[k * M + j] * d[k * M + j];
                    dd += d[k * M + j] * d[k * M + j];
                }
                stack.insert(stack.end(), m.nodeChildren[u].begin(), m.nodeChildren[u].end());
            }
            slope += lambda * m.groupWeight[v] * (bb > 0 ? bd / std::sqrt(bb) : std::sqrt(dd));
        }
    }
    return slope;
}

// Whether b is a minimum: no direction along the leaf coefficients descends
// by more than `slack` per unit length. The directions: every coordinate
// both ways, minus the gradient below each node of each class, and random ones.
bool isMinimum(const Logistic &m, const Rows &rows, double lambda, const std::vector<double> &b,
               double slack)
{
    const int C = rows.C, M = rows.M;
    std::vector<double> grad(C * M, 0.0);
    for (std::size_t i = 0; i < rows.x.size(); i++) {
        std::vector<double> score(C, 0.0);
        for (int k = 0; k < C; k++)
            for (int j = 0; j < M; j++)
                score[k] += b[k * M + j] * rows.x[i][j];
        double norm = 0;
        for (const double s : score)
            norm += std::exp(s);
        for (int k = 0; k < C; k++)
            for (int j = 0; j < M; j++)
                grad[k * M + j] +=
                    rows.x[i][j] * (std::exp(score[k]) / norm - (rows.classes[i] == k + 1));
    }
    std::vector<std::vector<double>> directions;
    for (int k = 0; k < C; k++)
        for (const int j : m.leafFeatures)
            for (const double sign : {1.0, -1.0}) {
                directions.emplace_back(C * M, 0.0);
                directions.back()[k * M + j] = sign;
            }
    for (int k = 0; k < C; k++)
        for (int v = 0; v < m.nNodes; v++) {
            directions.emplace_back(C * M, 0.0);
            std::vector<int> stack{v};
            while (!stack.empty()) {
                const int u = stack.back();
                stack.pop_back();
                for (const int j : m.nodeLeaves[u])
                    directions.back()[k * M + j] = -grad[k * M + j];
                stack.insert(stack.end(), m.nodeChildren[u].begin(), m.nodeChildren[u].end());
            }
        }
    std::mt19937 random(7);
    std::normal_distribution<double> normal;
    for (int n = 0; n < 50; n++) {
        directions.emplace_back(C * M, 0.0);
        for (const int j : m.leafFeatures)
            for (int k = 0; k < C; k++)
                directions.back()[k * M + j] = normal(random);
    }
    for (const std::vector<double> &d : directions) {
        const double length = std::sqrt(std::inner_product(d.begin(), d.end(), d.begin(), 0.0));
        if (length > 0 && slopeAlong(m, lambda, b, grad, d) < -slack * length)
            return false;
    }
    return true;
}

const char *const kSmallTree = "((0:1,1:2,(2:1,3:0.5):1):1,(4:1,5:3):0.5);";

TEST(Converged, SatisfiesTheOptimalityConditions)
{
    const Rows rows = randomRows(9, 6, 3, 11);
    ConvergedOptions tight;
    tight.tol = 1e-9;
    tight.maxIterations = 200000;
    for (const float w : {0.3f, 0.7f, 1.0f, 0.0f, -1.0f, -2.0f})
        for (const double share : {0.05, 0.3, 0.8}) {
            Model fit(rows, kSmallTree);
            fit.model.LoadTheTree(w);
            const float lambda = static_cast<float>(share * lambdaMax(fit.model));
            const ConvergedResult result = fitConverged(fit.model, w, lambda, tight);
            EXPECT_LE(result.gap, tight.tol) << w << " " << lambda;
            EXPECT_TRUE(isMinimum(fit.model, rows, lambda, result.coefficients, 1e-5))
                << w << " " << lambda;
            EXPECT_NEAR(result.objective, treeObjective(fit.model, lambda), 1e-5 * result.objective);

            // The oracle is sharp enough to reject the coordinate-descent fit
            // where it selects much.
            if (share > 0.1)
                continue;
            Model cyclic(rows, kSmallTree);
            cyclic.model.Train(lambda);
            cyclic.model.Learn(w);
            const std::vector<double> b(cyclic.model.beta, cyclic.model.beta + 3 * 6);
            EXPECT_FALSE(isMinimum(cyclic.model, rows, lambda, b, 1e-5)) << w << " " << lambda;
        }
}

// At w = 1 the penalty is a plain lasso. Two classes and two features: the
// loss depends on the differences d_j of the classes' coefficients, and the
// cheapest split of d_j costs lambda |d_j|, so the minimum is that of a
// two-variable function, found here by a grid search refined around its best point.
TEST(Converged, LassoCaseMatchesAnExhaustiveSearch)
{
    Rows rows;
    rows.M = 2;
    rows.C = 2;
    rows.x = {{0.75, 0.25}, {0.5, 0.5}, {0.125, 0.875}, {1, 0}};
    rows.classes = {1, 1, 2, 2};
    const double lambda = 0.1;
    const auto objective = [&](double d0, double d1) {
        double total = lambda * (std::fabs(d0) + std::fabs(d1));
        for (std::size_t i = 0; i < rows.x.size(); i++) {
            const double margin = rows.x[i][0] * d0 + rows.x[i][1] * d1;
            total += std::log1p(std::exp(rows.classes[i] == 1 ? -margin : margin));
        }
        return total;
    };
    double best0 = 0, best1 = 0, best = objective(0, 0);
    for (double step = 0.01, span = 5; step > 1e-7; span = 20 * step, step /= 10) {
        const double centre0 = best0, centre1 = best1;
        for (double d0 = centre0 - span; d0 <= centre0 + span; d0 += step)
            for (double d1 = centre1 - span; d1 <= centre1 + span; d1 += step)
                if (objective(d0, d1) < best) {
                    best = objective(d0, d1);
                    best0 = d0;
                    best1 = d1;
                }
    }
    Model fit(rows, "(0:1,1:1);");
    ConvergedOptions tight;
    tight.tol = 1e-12;
    const ConvergedResult result = fitConverged(fit.model, 1.0f, lambda, tight);
    const std::vector<double> &b = result.coefficients; // class 1: b[0], b[1]; class 2: b[2], b[3]
    EXPECT_NEAR(b[0] - b[2], best0, 1e-5);
    EXPECT_NEAR(b[1] - b[3], best1, 1e-5);
    EXPECT_NEAR(result.objective, best, 1e-10);
    EXPECT_LE(result.objective, best + 1e-12);
    // Each difference is split across 0: any other split costs more penalty.
    EXPECT_LE(b[0] * b[2], 0);
    EXPECT_LE(b[1] * b[3], 0);
}

TEST(Converged, SelectsNothingFromLambdaMaxOn)
{
    const Rows rows = randomRows(12, 6, 4, 5);
    for (const float w : {0.1f, 0.5f, 1.0f, -1.0f}) {
        Model fit(rows, kSmallTree);
        fit.model.LoadTheTree(w);
        const double top = lambdaMax(fit.model);
        for (const double factor : {1.0, 1.5, 60.0}) {
            const ConvergedResult result = fitConverged(fit.model, w, static_cast<float>(top * factor), {});
            EXPECT_EQ(std::count(fit.model.beta, fit.model.beta + 24, 0.0f), 24) << w << " " << factor;
        }
        // Just below it, something enters.
        fitConverged(fit.model, w, static_cast<float>(top * 0.9), {});
        EXPECT_LT(std::count(fit.model.beta, fit.model.beta + 24, 0.0f), 24) << w;
    }
}

// The example data with its columns permuted and the tree's leaves renamed
// to match: the same model, feature by feature, up to the tolerance.
TEST(Converged, DoesNotDependOnTheOrderOfTheFeatures)
{
    const std::string folder = std::string(EXAMPLE_DIR);
    for (const float w : {0.3f, 0.8f}) {
        Logistic plain(folder + "samples.txt", folder + "labels.txt", folder + "tree.tre", {});
        Logistic permuted(folder + "samples.txt", folder + "labels.txt", folder + "tree.tre", {});
        const int N = plain.data.N, M = plain.data.M, C = plain.nClasses;
        std::vector<int> to(M); // column j moves to to[j]
        std::iota(to.begin(), to.end(), 0);
        std::shuffle(to.begin(), to.end(), std::mt19937(3));
        for (int i = 0; i < N; i++)
            for (int j = 0; j < M; j++)
                permuted.data.X[i * M + to[j]] = plain.data.X[i * M + j];
        for (int n = 0; n < permuted.tree->nnodes; n++) {
            vessik::Node *node = permuted.tree->nodes[n];
            if (node->nchildren == 0)
                node->longname = std::to_string(to[std::stoi(node->longname)]);
        }
        ConvergedOptions options;
        options.tol = 1e-9;
        const ConvergedResult a = fitConverged(plain, w, 0.05f, options);
        const ConvergedResult b = fitConverged(permuted, w, 0.05f, options);
        EXPECT_NEAR(a.objective, b.objective, 1e-8 * a.objective);
        double largest = 0, apart = 0;
        int sameSupport = 0;
        for (int k = 0; k < C; k++)
            for (int j = 0; j < M; j++) {
                const double x = a.coefficients[k * M + j], y = b.coefficients[k * M + to[j]];
                largest = std::max(largest, std::fabs(x));
                apart = std::max(apart, std::fabs(x - y));
                sameSupport += (x != 0) == (y != 0);
            }
        EXPECT_LT(apart, 1e-3 * largest) << w;
        EXPECT_EQ(sameSupport, C * M) << w;
        plain.del();
        permuted.del();
    }
}

TEST(Converged, NeverAboveTheCyclicFit)
{
    const std::string folder = std::string(EXAMPLE_DIR);
    for (const float w : {0.0f, 0.5f, 1.0f, -1.0f, -2.0f})
        for (const float lambda : {0.01f, 0.3f, 2.0f}) {
            Logistic cyclic(folder + "samples.txt", folder + "labels.txt", folder + "tree.tre", {});
            Logistic converged(folder + "samples.txt", folder + "labels.txt", folder + "tree.tre", {});
            cyclic.Train(lambda);
            cyclic.Learn(w);
            fitConverged(converged, w, lambda, {});
            // Both as written to the model file, in single precision.
            EXPECT_LE(treeObjective(converged, lambda), treeObjective(cyclic, lambda))
                << w << " " << lambda;
            cyclic.del();
            converged.del();
        }
}

TEST(Converged, PathMatchesSeparateFits)
{
    const Rows rows = randomRows(10, 6, 3, 9);
    const std::vector<float> lambdas = {0.3f, 0.1f, 0.02f};
    Model path(rows, kSmallTree);
    std::vector<std::vector<float>> along;
    fitConvergedPath(path.model, 0.5f, lambdas, {}, [&](std::size_t, const ConvergedResult &) {
        along.emplace_back(path.model.beta, path.model.beta + 18);
    });
    ASSERT_EQ(along.size(), 3u);
    for (std::size_t l = 0; l < lambdas.size(); l++) {
        Model alone(rows, kSmallTree);
        const ConvergedResult result = fitConverged(alone.model, 0.5f, lambdas[l], {});
        for (int q = 0; q < 18; q++)
            EXPECT_NEAR(along[l][q], alone.model.beta[q], 1e-2) << l;
        EXPECT_LE(result.gap, 1e-6);
    }
}

} // namespace
