// The converged fit: the tree-penalised multinomial objective minimised in
// double precision over the sparse feature columns, stopped on a relative
// duality gap, by accelerated proximal gradient (FISTA with backtracking and
// gradient restarts) or, where the penalty is a plain weighted lasso, by
// proximal Newton steps.
//
// Newton steps (w = 1, where no group carries weight): at x, the loss is
// modelled by its second-order expansion, whose Hessian in the scores of row
// i is diag(p_i) - p_i p_i'. Coordinate descent minimises the model plus the
// penalty (soft-thresholding per coordinate), keeping the step's scores and,
// per row, their product with p_i, so that one coordinate costs two passes
// over its column. A backtracking line search on the true objective then
// takes the step. With 2000 samples the loss is ill-conditioned and FISTA
// needs hundreds of iterations per fit where Newton needs a few. Where the
// groups carry weight the penalty couples the coordinates, coordinate
// descent can stop away from the minimum, and an exact inner solver of the
// model (FISTA again) would cost the same two passes over the columns per
// inner step as the gradient steps themselves: there FISTA runs directly.
//
// The proximal step of the penalty is exact. Per class, the groups (one per
// internal node, one per leaf) are nested or disjoint, so the proximal
// operator of their weighted sum is the composition of the groups' own ones
// taken from the leaves up to the root: soft-thresholding at every leaf, then
// the shrinkage of the whole vector below each internal node. One pass up the
// tree finds each node's shrink factor from its children's squared norms, one
// pass down multiplies the factors into the leaves: O(C x (M + V)).
//
// The certificate: from the residuals R = P - Y of the current coefficients,
// the dual point Y + s R (s in [0, 1], so every row stays a distribution) is
// feasible when s times the penalty's dual norm of the gradient X'R is at most
// lambda. Its dual value is the sum of the rows' entropies, and the primal
// objective minus it bounds the distance to the minimum. The dual norm of a
// class's gradient g is the least t at which the proximal step of t times the
// penalty maps g to 0; that happens when the norm left at the root after the
// pass up the tree, rho(t), reaches 0. rho is convex and nonincreasing in t, so
// Newton's method from t = lambda (only a norm above lambda matters) climbs
// to that point without passing it.
//
// Working sets: the iterations run over a set of leaf features (with the
// groups restricted to them), from the features the warm start selects. At
// the set's own minimum, the gradient of the whole problem is checked: a
// feature outside the set may stay 0 when what its gradient leaves after its
// own threshold and those of the groups above it, up to the set or the root,
// is 0. The features that fail the check all enter (adding them a few at a
// time costs more rounds than it saves in iterations), until the whole
// problem's gap is below the tolerance. So every iteration costs in
// proportion to the set's nonzeros.
//
// Screening: the dual objective is 1-strongly concave, so the optimal dual
// point lies within sqrt(2 gap) of the current one and each gradient entry at
// the minimum within that times its column's norm of s times the current
// one. A feature whose thresholds hold even that bound is 0 at every minimum
// and is kept out of the set.
//
// Along a path, a fit starts where the polynomial in log lambda through the
// last solutions leads at the new lambda (a coordinate that reached 0 or
// would cross it stays where it is): the line through the last two where
// Newton steps run, the parabola through the last three where the gradient
// method does.
//
// Internally the coefficients are feature-major (j*C + k) and the scores
// row-major (i*C + k), so that the inner loops run over the classes.
#include "model/Converged.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/FeatureColumns.h"

namespace {

// Iterations between two duality-gap checks.
const int checkEvery = 10;
// Doublings of the curvature estimate one step may take: from the largest
// plausible curvature, 2^200 more is past any loss a double can tell apart.
const int maxDoublings = 200;
// Coordinate-descent sweeps per Newton step, at most; the step is taken when
// a whole sweep moves the model this share of what the first sweep did.
const int maxSweeps = 200;
const double sweepTolerance = 1e-6;
// Halvings of a Newton step: past 2^-40 its change is lost in the rounding.
const int maxHalvings = 40;
// Newton steps in a row that may leave the gap where it was before the
// gradient steps take over.
const int maxStalled = 3;

struct NewtonWork;

// What Solver::leftOver finds: what is left per node and class (`node`) and
// per feature and class (`leaf`), and per node whether some feature of the
// set lies below it. Held only while the set is screened or grown, so that it
// never adds to the iterations' memory.
struct Leftover {
    std::vector<double> node, leaf;
    std::vector<char> holds;
};

// The groups of the penalty over a set of leaf features: the internal nodes
// with some of those leaves below them, numbered so that children come after
// their parent, each with its internal children and its leaves in the set.
struct Groups {
    int V = 0;
    std::vector<int> leaves;           // leaf features, ascending
    std::vector<double> weight;        // V group weights
    std::vector<int> childStart, childList; // internal children of each node
    std::vector<int> leafStart, leafList;   // leaf children of each node
    // Whether every group weight is 0 (w = 1): the penalty is then a
    // weighted lasso, separable by coordinate.
    bool separable = true;

    void findSeparable()
    {
        separable = std::all_of(weight.begin(), weight.end(), [](double w) { return w == 0; });
    }
};

// The data, the tree and the weights of one model at one w, in the layouts
// the solver reads.
struct TreeProblem {
    int N = 0, M = 0, C = 0;
    const FeatureColumns &columns; // the model's own
    std::vector<double> leafWeight;    // M
    std::vector<double> columnNorm;    // M, the Euclidean norm of each feature column
    std::vector<int> label;            // class of each row, 0-based
    Groups tree;                       // every leaf of the tree

    TreeProblem(Logistic &model, float w);
};

TreeProblem::TreeProblem(Logistic &model, float w)
    : N(model.data.N), M(model.nFeatures), C(model.nClasses), columns(model.featureColumns())
{
    if (model.leafWeight == nullptr)
        model.LoadTheTree(w);
    tree.V = model.nNodes;
    tree.leaves = model.leafFeatures;
    leafWeight.assign(model.leafWeight, model.leafWeight + std::max(M, 0));
    tree.weight.assign(model.groupWeight, model.groupWeight + tree.V);
    tree.findSeparable();
    tree.childStart.push_back(0);
    tree.leafStart.push_back(0);
    for (int v = 0; v < tree.V; v++) {
        tree.childList.insert(tree.childList.end(), model.nodeChildren[v].begin(), model.nodeChildren[v].end());
        tree.leafList.insert(tree.leafList.end(), model.nodeLeaves[v].begin(), model.nodeLeaves[v].end());
        tree.childStart.push_back(static_cast<int>(tree.childList.size()));
        tree.leafStart.push_back(static_cast<int>(tree.leafList.size()));
    }
    columnNorm.assign(std::max(M, 0), 0.0);
    for (int j = 0; j < M; j++) {
        double sq = 0;
        for (std::int64_t e = columns.start[j]; e < columns.start[j + 1]; e++)
            sq += static_cast<double>(columns.values[e]) * columns.values[e];
        columnNorm[j] = std::sqrt(sq);
    }
    label.resize(N);
    for (int i = 0; i < N; i++)
        label[i] = model.data.classes[i] - 1;
}

// The groups of `full` restricted to the leaves marked in `inSet` (M flags).
Groups restrictGroups(const Groups &full, const std::vector<char> &inSet)
{
    std::vector<int> id(full.V, -1);
    std::vector<char> kept(full.V, 0);
    for (int v = full.V - 1; v >= 0; v--) {
        for (int e = full.leafStart[v]; e < full.leafStart[v + 1] && !kept[v]; e++)
            kept[v] = inSet[full.leafList[e]];
        for (int e = full.childStart[v]; e < full.childStart[v + 1] && !kept[v]; e++)
            kept[v] = kept[full.childList[e]];
    }
    Groups part;
    for (int v = 0; v < full.V; v++)
        if (kept[v])
            id[v] = part.V++;
    part.childStart.push_back(0);
    part.leafStart.push_back(0);
    for (int v = 0; v < full.V; v++) {
        if (!kept[v])
            continue;
        part.weight.push_back(full.weight[v]);
        for (int e = full.childStart[v]; e < full.childStart[v + 1]; e++)
            if (kept[full.childList[e]])
                part.childList.push_back(id[full.childList[e]]);
        for (int e = full.leafStart[v]; e < full.leafStart[v + 1]; e++)
            if (inSet[full.leafList[e]])
                part.leafList.push_back(full.leafList[e]);
        part.childStart.push_back(static_cast<int>(part.childList.size()));
        part.leafStart.push_back(static_cast<int>(part.leafList.size()));
    }
    for (const int j : full.leaves)
        if (inSet[j])
            part.leaves.push_back(j);
    part.findSeparable();
    return part;
}

class Solver {
public:
    explicit Solver(const TreeProblem &problem);

    // Minimises from x (feature-major, zero off the leaves) at lambda: on a
    // working set of features grown until the whole problem's gap is below
    // options.tol.
    ConvergedResult solve(double lambda, const ConvergedOptions &options);

    // Minimises from x over the leaves of `part` alone (the others stay 0),
    // to its own gap below options.tol: by Newton steps where that is
    // allowed and the part's penalty is separable, else by solveGradient.
    ConvergedResult solveOn(const Groups &part, double lambda, const ConvergedOptions &options);

    // Marks the features whose coefficients are 0 at every minimum at
    // lambda, as the gap at x certifies: the rows of the optimal dual point
    // lie within sqrt(2 gap) of the current one.
    void screen(double lambda, std::vector<char> &zero);

    // Sets x from coefficients C x M, class-major (0 off the leaves).
    void place(const std::vector<double> &coefficients);

    // Moves x, the solution at the last lambda, to weight[0] times it plus
    // weight[a] times past[a - 1] (the solutions before it, newest first,
    // feature-major), and keeps the last solution at the front of `past`,
    // which holds at most `keep` solutions.
    void extrapolate(const std::vector<double> &weight, std::vector<std::vector<float>> &past, std::size_t keep);

    // screen() at x, after the gap there.
    void screenAtX(double lambda, std::vector<char> &zero);

    std::vector<double> x; // the current coefficients, feature-major

private:
    // solveOn by accelerated proximal-gradient steps.
    ConvergedResult solveGradient(const Groups &part, double lambda, const ConvergedOptions &options);
    // solveOn by proximal Newton steps, for a part whose groups carry no
    // weight; it hands over to solveGradient when the line search finds no
    // step or maxStalled steps in a row leave the gap where it was.
    ConvergedResult solveNewton(const Groups &part, double lambda, const ConvergedOptions &options);
    // The Newton step from x (after relativeGap there, which leaves the
    // part's gradient in g): the minimum over the part's leaves of the
    // quadratic model of the loss plus the penalty, by coordinate descent.
    // Returns the model's linear change, g . step + lambda (penalty(x +
    // step) - penalty(x)), which is negative for a descent direction.
    double newtonStep(const Groups &part, double lambda, const std::vector<double> &mx, NewtonWork &n);
    // Halves the Newton step until the objective falls by a share of the
    // predicted change; moves x (and mx) there, or returns false.
    bool newtonLineSearch(const Groups &part, double lambda, double primal, double predicted,
                          std::vector<double> &mx, NewtonWork &n);
    // One sweep of coordinate descent over the model (only over the nonzero
    // coordinates unless `full`); returns its largest curvature times squared move.
    double newtonSweep(const Groups &part, double lambda, bool full, NewtonWork &n);
    void scores(const std::vector<double> &b, std::vector<double> &m) const;
    // Adds column j times the coefficients bj (C) to the scores m.
    void addColumn(int j, const double *bj, std::vector<double> &m) const;
    // The row-wise softmax of the scores m.
    void probabilities(const std::vector<double> &m, std::vector<double> &out) const;
    double loss(const std::vector<double> &m, std::vector<double> *residual) const;
    void gradient(const std::vector<double> &residual, std::vector<double> &g) const;
    // The proximal step of tau times the penalty from y - step g, into out:
    // soft-thresholding at the leaves, then the groups' shrinkage up the tree.
    void prox(const std::vector<double> &y, double step, double tau, std::vector<double> &out);
    // The scores of the step xNext from y (after x), with what the quadratic
    // bound and the restart test read: g . d, |d|^2 for d = xNext - y, and
    // (y - xNext) . (xNext - x).
    void stepScores(const std::vector<double> &y, const std::vector<double> &xNext, std::vector<double> &mNext,
                    double &linear, double &square, double &against) const;
    double penalty(const std::vector<double> &b);
    // nodeSq of node v, per class: the squares of b's leaves directly below v
    // plus the children's nodeSq (which must be current).
    double *groupSquares(int v, const std::vector<double> &b);
    // The dual norm of class k's gradient, or `from` when it is not above
    // that: near a minimum the norm is close to lambda, and Newton's method
    // started there needs a round or two.
    double dualNorm(const std::vector<double> &g, int k, double from);
    // Raises L until the proximal step from y (loss fy, gradient g) keeps the
    // loss under its quadratic bound; writes the step, its scores and the
    // restart test's product (stepScores). False when no finite L does
    // within a bounded number of doublings.
    bool backtrack(double lambda, const std::vector<double> &y, double fy, std::vector<double> &xNext,
                   std::vector<double> &mNext, double &against);
    // Relative duality gap at x with scores mx over the current groups; sets
    // `primal`, and dualScale and absoluteGap.
    // With `reuse`, the loss, residual and g are taken as they are.
    double relativeGap(double lambda, const std::vector<double> &mx, double &primal, bool reuse = false);
    // From the leaves up over the whole tree, for the features not in
    // `inSet`: what is left of |s g| + radius * column norm after each leaf's
    // and each group's threshold at lambda.
    Leftover leftOver(double lambda, double gradientScale, double radius, const std::vector<char> &inSet);
    // Adds to `inSet` the features whose zero the gradient at x contradicts;
    // returns how many.
    int grow(double lambda, std::vector<char> &inSet, const std::vector<char> &zero);

    const TreeProblem &p;
    const Groups *groups; // the groups the iterations run over
    std::size_t nB, nM;
    double L; // the step's curvature estimate, kept from fit to fit
    double lossAtZero; // N log C, the scale of the certificate
    double dualScale = 1, absoluteGap = 0; // of the last gap computed
    double lastLoss = 0; // the loss in the last gap computed
    // Whether residual, g and lastLoss hold the residuals, the gradient over
    // the whole tree and the loss at x, from solve's last check (along a
    // path, the check at a new lambda starts where the one before ended).
    bool wholeCurrent = false;
    // The lambda of the last fit when g still holds the gradient over the
    // whole tree at its solution (from its last check), else 0.
    double wholeLambda = 0;
    std::vector<double> nodeSq, scale, rho, slope;
    std::vector<double> residual, g;
};

Solver::Solver(const TreeProblem &problem)
    : x(static_cast<std::size_t>(problem.M) * problem.C, 0.0), p(problem), groups(&problem.tree),
      nB(x.size()), nM(static_cast<std::size_t>(problem.N) * problem.C)
{
    const std::size_t nodes = static_cast<std::size_t>(p.tree.V) * p.C;
    nodeSq.resize(nodes);
    scale.resize(nodes);
    rho.resize(p.tree.V);
    slope.resize(p.tree.V);
    residual.resize(nM);
    g.resize(nB);
    // A lower bound of the loss's curvature: the largest diagonal entry of its
    // Hessian bound, half the squared norm of a feature column.
    L = 0;
    for (const int j : p.tree.leaves)
        L = std::max(L, 0.5 * p.columnNorm[j] * p.columnNorm[j]);
    if (!(L > 0))
        L = 1;
    lossAtZero = p.N * std::log(static_cast<double>(p.C));
}

bool Solver::backtrack(double lambda, const std::vector<double> &y, double fy, std::vector<double> &xNext,
                       std::vector<double> &mNext, double &against)
{
    // The loss is a sum of N rows, each rounded: a step whose true change is
    // below that rounding must not be refused for it.
    const double slack = 1e-13 * (std::fabs(fy) + p.N);
    const double before = L;
    L *= 0.9;
    for (int doubling = 0; doubling < maxDoublings && std::isfinite(L); doubling++, L *= 2) {
        prox(y, 1 / L, lambda / L, xNext);
        double linear = 0, square = 0;
        stepScores(y, xNext, mNext, linear, square, against);
        const double fx = loss(mNext, nullptr);
        if (fx <= fy + linear + 0.5 * L * square + slack)
            return true;
    }
    L = before;
    return false;
}

void Solver::scores(const std::vector<double> &b, std::vector<double> &m) const
{
    const int C = p.C;
    std::fill(m.begin(), m.end(), 0.0);
    for (const int j : groups->leaves) {
        const double *bj = &b[static_cast<std::size_t>(j) * C];
        bool any = false;
        for (int k = 0; k < C; k++)
            any = any || bj[k] != 0;
        if (any)
            addColumn(j, bj, m);
    }
}

void Solver::addColumn(int j, const double *bj, std::vector<double> &m) const
{
    const int C = p.C;
    const std::int32_t *rows = p.columns.rows.get();
    const float *values = p.columns.values.get();
    for (std::int64_t e = p.columns.start[j]; e < p.columns.start[j + 1]; e++) {
        double *__restrict mi = &m[static_cast<std::size_t>(rows[e]) * C];
        const double v = values[e];
        for (int k = 0; k < C; k++)
            mi[k] += v * bj[k];
    }
}

void Solver::stepScores(const std::vector<double> &y, const std::vector<double> &xNext, std::vector<double> &mNext,
                        double &linear, double &square, double &against) const
{
    const int C = p.C;
    std::fill(mNext.begin(), mNext.end(), 0.0);
    linear = square = against = 0;
    for (const int j : groups->leaves) {
        const std::size_t at = static_cast<std::size_t>(j) * C;
        const double *__restrict bj = &xNext[at], *__restrict yj = &y[at], *__restrict xj = &x[at],
                                 *__restrict gj = &g[at];
        bool any = false;
        for (int k = 0; k < C; k++) {
            const double d = bj[k] - yj[k];
            linear += gj[k] * d;
            square += d * d;
            against += (yj[k] - bj[k]) * (bj[k] - xj[k]);
            any = any || bj[k] != 0;
        }
        if (any)
            addColumn(j, bj, mNext);
    }
}

double Solver::loss(const std::vector<double> &m, std::vector<double> *residualOut) const
{
    const int C = p.C;
    double total = 0;
    for (int i = 0; i < p.N; i++) {
        const double *mi = &m[static_cast<std::size_t>(i) * C];
        const double top = *std::max_element(mi, mi + C);
        double sum = 0;
        for (int k = 0; k < C; k++)
            sum += std::exp(mi[k] - top);
        const double logNorm = top + std::log(sum);
        total += logNorm - mi[p.label[i]];
        if (residualOut != nullptr) {
            double *ri = &(*residualOut)[static_cast<std::size_t>(i) * C];
            for (int k = 0; k < C; k++)
                ri[k] = std::exp(mi[k] - logNorm) - (k == p.label[i] ? 1.0 : 0.0);
        }
    }
    return total;
}

void Solver::gradient(const std::vector<double> &r, std::vector<double> &out) const
{
    const int C = p.C;
    const std::int32_t *rows = p.columns.rows.get();
    const float *values = p.columns.values.get();
    // Two running sums per class, over alternate entries of the column: one
    // sum's chain of additions would hold the loop to its latency.
    std::vector<double> odd(C);
    for (const int j : groups->leaves) {
        double *__restrict gj = &out[static_cast<std::size_t>(j) * C];
        double *__restrict oj = odd.data();
        std::fill(gj, gj + C, 0.0);
        std::fill(oj, oj + C, 0.0);
        const std::int64_t end = p.columns.start[j + 1];
        std::int64_t e = p.columns.start[j];
        for (; e + 1 < end; e += 2) {
            const double *__restrict ri = &r[static_cast<std::size_t>(rows[e]) * C];
            const double *__restrict si = &r[static_cast<std::size_t>(rows[e + 1]) * C];
            const double v = values[e], u = values[e + 1];
            for (int k = 0; k < C; k++) {
                gj[k] += v * ri[k];
                oj[k] += u * si[k];
            }
        }
        if (e < end) {
            const double *__restrict ri = &r[static_cast<std::size_t>(rows[e]) * C];
            const double v = values[e];
            for (int k = 0; k < C; k++)
                gj[k] += v * ri[k];
        }
        for (int k = 0; k < C; k++)
            gj[k] += oj[k];
    }
}

void Solver::prox(const std::vector<double> &y, double step, double tau, std::vector<double> &out)
{
    const int C = p.C;
    for (const int j : groups->leaves) {
        const double threshold = tau * p.leafWeight[j];
        const std::size_t at = static_cast<std::size_t>(j) * C;
        const double *__restrict yj = &y[at], *__restrict gj = &g[at];
        double *__restrict oj = &out[at];
        for (int k = 0; k < C; k++) {
            const double z = yj[k] - gj[k] * step;
            const double a = std::fabs(z) - threshold;
            oj[k] = a > 0 ? std::copysign(a, z) : 0.0;
        }
    }
    // Up: children have higher preorder numbers than their parent.
    for (int v = groups->V - 1; v >= 0; v--) {
        double *sq = groupSquares(v, out);
        const double threshold = tau * groups->weight[v];
        double *f = &scale[static_cast<std::size_t>(v) * C];
        for (int k = 0; k < C; k++) {
            const double norm = std::sqrt(sq[k]);
            f[k] = norm > threshold ? 1 - threshold / norm : 0.0;
            sq[k] *= f[k] * f[k];
        }
    }
    // Down: each node's factor times its ancestors', into the leaves.
    for (int v = 0; v < groups->V; v++) {
        const double *f = &scale[static_cast<std::size_t>(v) * C];
        for (int e = groups->childStart[v]; e < groups->childStart[v + 1]; e++) {
            double *child = &scale[static_cast<std::size_t>(groups->childList[e]) * C];
            for (int k = 0; k < C; k++)
                child[k] *= f[k];
        }
        for (int e = groups->leafStart[v]; e < groups->leafStart[v + 1]; e++) {
            double *bj = &out[static_cast<std::size_t>(groups->leafList[e]) * C];
            for (int k = 0; k < C; k++)
                bj[k] = f[k] == 0 ? 0.0 : bj[k] * f[k];
        }
    }
}

double *Solver::groupSquares(int v, const std::vector<double> &b)
{
    const int C = p.C;
    double *sq = &nodeSq[static_cast<std::size_t>(v) * C];
    std::fill(sq, sq + C, 0.0);
    for (int e = groups->leafStart[v]; e < groups->leafStart[v + 1]; e++) {
        const double *bj = &b[static_cast<std::size_t>(groups->leafList[e]) * C];
        for (int k = 0; k < C; k++)
            sq[k] += bj[k] * bj[k];
    }
    for (int e = groups->childStart[v]; e < groups->childStart[v + 1]; e++) {
        const double *child = &nodeSq[static_cast<std::size_t>(groups->childList[e]) * C];
        for (int k = 0; k < C; k++)
            sq[k] += child[k];
    }
    return sq;
}

double Solver::penalty(const std::vector<double> &b)
{
    const int C = p.C;
    double total = 0;
    for (const int j : groups->leaves)
        for (int k = 0; k < C; k++)
            total += p.leafWeight[j] * std::fabs(b[static_cast<std::size_t>(j) * C + k]);
    for (int v = groups->V - 1; v >= 0; v--) {
        const double *sq = groupSquares(v, b);
        for (int k = 0; k < C; k++)
            total += groups->weight[v] * std::sqrt(sq[k]);
    }
    return total;
}

double Solver::dualNorm(const std::vector<double> &grad, int k, double from)
{
    if (groups->V == 0)
        return from;
    const int C = p.C;
    // Without group weights the norm is the largest gradient entry over its
    // leaf's weight.
    if (groups->separable) {
        double largest = from;
        for (const int j : groups->leaves) {
            const double entry = std::fabs(grad[static_cast<std::size_t>(j) * C + k]);
            if (entry > largest * p.leafWeight[j])
                largest = p.leafWeight[j] > 0 ? entry / p.leafWeight[j] : std::numeric_limits<double>::infinity();
        }
        return largest;
    }
    double t = from;
    for (int round = 0; round < 200; round++) {
        // rho(t) and its right derivative at every node, from the leaves up.
        for (int v = groups->V - 1; v >= 0; v--) {
            double sq = 0, dsq = 0;
            for (int e = groups->leafStart[v]; e < groups->leafStart[v + 1]; e++) {
                const int j = groups->leafList[e];
                const double a = std::fabs(grad[static_cast<std::size_t>(j) * C + k]) - t * p.leafWeight[j];
                if (a > 0) {
                    sq += a * a;
                    dsq -= a * p.leafWeight[j];
                }
            }
            for (int e = groups->childStart[v]; e < groups->childStart[v + 1]; e++) {
                const int c = groups->childList[e];
                sq += rho[c] * rho[c];
                dsq += rho[c] * slope[c];
            }
            const double norm = std::sqrt(sq);
            const double left = norm - t * groups->weight[v];
            rho[v] = left > 0 ? left : 0.0;
            slope[v] = left > 0 ? dsq / norm - groups->weight[v] : 0.0;
        }
        if (rho[0] <= 0)
            return t;
        if (!(slope[0] < 0)) // a coefficient no weight penalises
            return std::numeric_limits<double>::infinity();
        const double next = t - rho[0] / slope[0];
        if (!(next > t))
            return t;
        t = next;
    }
    return t;
}

double Solver::relativeGap(double lambda, const std::vector<double> &mx, double &primal, bool reuse)
{
    const int C = p.C;
    if (!reuse) {
        lastLoss = loss(mx, &residual);
        gradient(residual, g);
    }
    const double fit = lastLoss;
    primal = fit + lambda * penalty(x);
    double largest = 0;
    for (int k = 0; k < C; k++)
        largest = std::max(largest, dualNorm(g, k, lambda));
    const double s = largest > lambda ? lambda / largest : 1.0;
    dualScale = s;
    // The dual value: the entropies of the rows Y + s R.
    double dual = 0;
    for (int i = 0; i < p.N; i++)
        for (int k = 0; k < C; k++) {
            const double q = (k == p.label[i] ? 1.0 : 0.0) + s * residual[static_cast<std::size_t>(i) * C + k];
            if (q > 0)
                dual -= q * std::log(q);
        }
    // Relative to the objective, or to the loss of the all-zero model when
    // that is larger: near lambda = 0 on separable data the objective tends
    // to 0, and a gap relative to it alone would ask for ever more digits.
    absoluteGap = std::max(primal - dual, 0.0);
    const double gap = absoluteGap / std::max({primal, lossAtZero, 1e-300});
    return std::isnan(gap) ? std::numeric_limits<double>::infinity() : gap;
}

ConvergedResult Solver::solveOn(const Groups &part, double lambda, const ConvergedOptions &options)
{
    wholeCurrent = false;
    return options.newton && part.separable ? solveNewton(part, lambda, options) : solveGradient(part, lambda, options);
}

ConvergedResult Solver::solveGradient(const Groups &part, double lambda, const ConvergedOptions &options)
{
    groups = &part;
    ConvergedResult result;
    std::vector<double> mx(nM), mNext(nM), my(nM), xNext(nB), y(x);
    scores(x, mx);
    double primal = 0;
    result.gap = relativeGap(lambda, mx, primal);
    std::vector<double> best(x);
    my = mx;
    double t = 1;
    // Copies the coefficients of the part's leaves: elsewhere both are 0.
    const auto copyLeaves = [&](const std::vector<double> &from, std::vector<double> &to) {
        for (const int j : part.leaves)
            std::copy_n(&from[static_cast<std::size_t>(j) * p.C], p.C, &to[static_cast<std::size_t>(j) * p.C]);
    };
    const auto check = [&]() {
        double objective = 0;
        const double gap = relativeGap(lambda, mx, objective);
        if (gap < result.gap) {
            result.gap = gap;
            primal = objective;
            copyLeaves(x, best);
        }
    };
    while (result.gap > options.tol && result.iterations < options.maxIterations) {
        const double fy = loss(my, &residual);
        gradient(residual, g);
        // Backtracking: the step 1/L must keep the loss under its quadratic bound.
        double against = 0;
        if (!backtrack(lambda, y, fy, xNext, mNext, against)) {
            // No step passes the test: the loss is at the end of its rounding.
            // Drop the momentum once; from a plain iterate nothing is left to do.
            if (t == 1) {
                check();
                break;
            }
            copyLeaves(x, y);
            my = mx;
            t = 1;
            continue;
        }
        result.iterations++;
        // Momentum, restarted when it points against the step just taken.
        const double tNext = (1 + std::sqrt(1 + 4 * t * t)) / 2;
        const double momentum = against > 0 ? 0.0 : (t - 1) / tNext;
        t = against > 0 ? 1.0 : tNext;
        for (const int j : groups->leaves)
            for (int k = 0; k < p.C; k++) {
                const std::size_t q = static_cast<std::size_t>(j) * p.C + k;
                y[q] = xNext[q] + momentum * (xNext[q] - x[q]);
            }
        for (std::size_t q = 0; q < nM; q++)
            my[q] = mNext[q] + momentum * (mNext[q] - mx[q]);
        x.swap(xNext);
        mx.swap(mNext);
        if (result.iterations % checkEvery == 0 || result.iterations == options.maxIterations)
            check();
    }
    // Near the minimum the iterates wander along directions in which the
    // objective barely changes while the certificate does: the best certified
    // one is the answer.
    x.swap(best);
    result.objective = primal;
    groups = &p.tree;
    return result;
}

// The Newton steps' work space: the step over the working set, the rest
// per row.
struct NewtonWork {
    std::vector<double> probability; // N x C, at x
    std::vector<double> curvature;   // set x C, the model's second derivative per coordinate
    std::vector<double> step;        // set x C
    std::vector<double> dm;          // N x C, the scores of the step
    std::vector<double> dot;         // N, per row the probabilities times dm
    std::vector<double> trial;       // N x C, the scores along the line search

    NewtonWork(std::size_t rows, int C, std::size_t set)
        : probability(rows * C), curvature(set * C), step(set * C), dm(rows * C), dot(rows), trial(rows * C)
    {
    }
};

void Solver::probabilities(const std::vector<double> &m, std::vector<double> &out) const
{
    const int C = p.C;
    for (int i = 0; i < p.N; i++) {
        const double *mi = &m[static_cast<std::size_t>(i) * C];
        double *pi = &out[static_cast<std::size_t>(i) * C];
        const double top = *std::max_element(mi, mi + C);
        double sum = 0;
        for (int k = 0; k < C; k++)
            sum += pi[k] = std::exp(mi[k] - top);
        for (int k = 0; k < C; k++)
            pi[k] /= sum;
    }
}

double Solver::newtonStep(const Groups &part, double lambda, const std::vector<double> &mx, NewtonWork &n)
{
    const int C = p.C;
    const std::size_t set = part.leaves.size();
    probabilities(mx, n.probability);
    // The model's Hessian in the scores of row i is diag(p_i) - p_i p_i'; its
    // diagonal in coordinate (j, k) is the sum over column j of x^2 p (1 - p).
    // A small share of the curvature bound (p (1 - p) <= 1/4) is added, so
    // that a coordinate whose probabilities have saturated moves a bounded way.
    for (std::size_t a = 0; a < set; a++) {
        const int j = part.leaves[a];
        double *h = &n.curvature[a * C];
        std::fill(h, h + C, 1e-6 * 0.25 * p.columnNorm[j] * p.columnNorm[j]);
        for (std::int64_t e = p.columns.start[j]; e < p.columns.start[j + 1]; e++) {
            const double v = p.columns.values[e];
            const double *pi = &n.probability[static_cast<std::size_t>(p.columns.rows[e]) * C];
            for (int k = 0; k < C; k++)
                h[k] += v * v * pi[k] * (1 - pi[k]);
        }
    }
    std::fill(n.step.begin(), n.step.end(), 0.0);
    std::fill(n.dm.begin(), n.dm.end(), 0.0);
    std::fill(n.dot.begin(), n.dot.end(), 0.0);
    // Cyclic sweeps, over the nonzero coordinates until they settle, then
    // over all to confirm; a sweep's largest h d^2 (twice what its largest
    // move gained) measures how far the model is from its minimum.
    double first = -1;
    bool full = true;
    for (int sweep = 0; sweep < maxSweeps; sweep++) {
        const double largest = newtonSweep(part, lambda, full, n);
        if (first < 0)
            first = largest;
        const bool settled = largest <= sweepTolerance * first;
        if (settled && full)
            break;
        full = settled;
    }
    double predicted = 0;
    for (std::size_t a = 0; a < set; a++) {
        const int j = part.leaves[a];
        for (int k = 0; k < C; k++) {
            const double b = x[static_cast<std::size_t>(j) * C + k], d = n.step[a * C + k];
            predicted += g[static_cast<std::size_t>(j) * C + k] * d +
                         lambda * p.leafWeight[j] * (std::fabs(b + d) - std::fabs(b));
        }
    }
    return predicted;
}

double Solver::newtonSweep(const Groups &part, double lambda, bool full, NewtonWork &n)
{
    const int C = p.C;
    double largest = 0;
    for (std::size_t a = 0; a < part.leaves.size(); a++) {
        const int j = part.leaves[a];
        const std::int64_t begin = p.columns.start[j], end = p.columns.start[j + 1];
        for (int k = 0; k < C; k++) {
            const std::size_t q = static_cast<std::size_t>(j) * C + k;
            const double b = x[q] + n.step[a * C + k], h = n.curvature[a * C + k];
            if ((!full && b == 0) || !(h > 0))
                continue;
            // The model's gradient: g plus the Hessian times the step so far.
            double slope = g[q];
            for (std::int64_t e = begin; e < end; e++) {
                const std::size_t i = static_cast<std::size_t>(p.columns.rows[e]);
                slope += p.columns.values[e] * n.probability[i * C + k] * (n.dm[i * C + k] - n.dot[i]);
            }
            const double z = b - slope / h, threshold = lambda * p.leafWeight[j] / h;
            const double moved = (std::fabs(z) > threshold ? std::copysign(std::fabs(z) - threshold, z) : 0.0) - b;
            if (moved == 0)
                continue;
            n.step[a * C + k] += moved;
            for (std::int64_t e = begin; e < end; e++) {
                const std::size_t i = static_cast<std::size_t>(p.columns.rows[e]);
                const double change = moved * p.columns.values[e];
                n.dm[i * C + k] += change;
                n.dot[i] += n.probability[i * C + k] * change;
            }
            largest = std::max(largest, h * moved * moved);
        }
    }
    return largest;
}

bool Solver::newtonLineSearch(const Groups &part, double lambda, double primal, double predicted,
                              std::vector<double> &mx, NewtonWork &n)
{
    const int C = p.C;
    // As in backtrack: the rounding of the objective's N rows. Near the
    // minimum the predicted change drowns in it, and a full step is taken
    // unless the objective rises past the rounding: there Newton's steps
    // still shrink the gradient the certificate reads.
    const double slack = 1e-13 * (std::fabs(primal) + p.N);
    if (!(predicted < 0))
        return false;
    double share = 1;
    for (int halving = 0; halving < maxHalvings; halving++, share /= 2) {
        for (std::size_t q = 0; q < nM; q++)
            n.trial[q] = mx[q] + share * n.dm[q];
        double objective = loss(n.trial, nullptr);
        for (std::size_t a = 0; a < part.leaves.size(); a++) {
            const int j = part.leaves[a];
            for (int k = 0; k < C; k++)
                objective += lambda * p.leafWeight[j] *
                             std::fabs(x[static_cast<std::size_t>(j) * C + k] + share * n.step[a * C + k]);
        }
        if (objective <= primal + 1e-4 * share * predicted + slack) {
            for (std::size_t a = 0; a < part.leaves.size(); a++)
                for (int k = 0; k < C; k++)
                    x[static_cast<std::size_t>(part.leaves[a]) * C + k] += share * n.step[a * C + k];
            // The scores afresh, so that rounding does not pile up along the steps.
            scores(x, mx);
            return true;
        }
    }
    return false;
}

ConvergedResult Solver::solveNewton(const Groups &part, double lambda, const ConvergedOptions &options)
{
    groups = &part;
    NewtonWork work(static_cast<std::size_t>(p.N), p.C, part.leaves.size());
    std::vector<double> mx(nM);
    scores(x, mx);
    ConvergedResult result;
    double primal = 0;
    result.gap = relativeGap(lambda, mx, primal);
    double best = result.gap;
    int stalled = 0; // steps in a row that have not lowered the gap
    while (result.gap > options.tol && result.iterations < options.maxIterations) {
        const double predicted = newtonStep(part, lambda, mx, work);
        if (stalled == maxStalled || !newtonLineSearch(part, lambda, primal, predicted, mx, work)) {
            // Newton's model no longer predicts what the loss does (its
            // rounding, or curvature the model misses): gradient steps finish.
            ConvergedOptions rest = options;
            rest.maxIterations = options.maxIterations - result.iterations;
            ConvergedResult finished = solveGradient(part, lambda, rest);
            finished.iterations += result.iterations;
            return finished;
        }
        result.iterations++;
        result.gap = relativeGap(lambda, mx, primal);
        stalled = result.gap < best ? 0 : stalled + 1;
        best = std::min(best, result.gap);
    }
    result.objective = primal;
    groups = &p.tree;
    return result;
}

ConvergedResult Solver::solve(double lambda, const ConvergedOptions &options)
{
    groups = &p.tree;
    const double lastLambda = wholeLambda;
    wholeLambda = 0;
    // A tree of one leaf has no group for the set to grow through.
    if (!options.workingSet || p.tree.V == 0)
        return solveOn(p.tree, lambda, options);
    // The working set starts from the features the warm start selects.
    std::vector<char> inSet(std::max(p.M, 0), 0), zero(std::max(p.M, 0), 0);
    for (const int j : p.tree.leaves) {
        const double *xj = &x[static_cast<std::size_t>(j) * p.C];
        inSet[j] = std::any_of(xj, xj + p.C, [](double b) { return b != 0; });
    }
    ConvergedResult result;
    std::vector<double> mx(nM);
    bool solved = false; // whether the set as it stands has been solved on
    // Along a path, the strong rule: a feature whose gradient at the last
    // solution clears its thresholds at 2 lambda - lambda_last will most
    // likely be nonzero at lambda. The set it gives is solved on before the
    // first check of the whole problem, which then both certifies and grows:
    // one gradient over every feature per lambda where the rule is right.
    const double strong = 2 * lambda - lastLambda;
    if (lastLambda > lambda && strong > 0) {
        grow(strong, inSet, zero);
        solved = true;
        result.iterations += solveOn(restrictGroups(p.tree, inSet), lambda, options).iterations;
    }
    while (true) {
        scores(x, mx);
        result.gap = relativeGap(lambda, mx, result.objective, wholeCurrent);
        wholeCurrent = true;
        if (result.gap <= options.tol || result.iterations >= options.maxIterations)
            break;
        screen(lambda, zero);
        const int added = grow(lambda, inSet, zero);
        if (added == 0 && solved) // the last round stopped short of its gap: no more to gain
            break;
        solved = true;
        const Groups part = restrictGroups(p.tree, inSet);
        ConvergedOptions inner = options;
        inner.maxIterations = options.maxIterations - result.iterations;
        result.iterations += solveOn(part, lambda, inner).iterations;
    }
    wholeLambda = lambda;
    return result;
}

void Solver::place(const std::vector<double> &coefficients)
{
    wholeCurrent = false;
    wholeLambda = 0;
    for (const int j : p.tree.leaves)
        for (int k = 0; k < p.C; k++)
            x[static_cast<std::size_t>(j) * p.C + k] = coefficients[static_cast<std::size_t>(k) * p.M + j];
}

void Solver::extrapolate(const std::vector<double> &weight, std::vector<std::vector<float>> &past, std::size_t keep)
{
    wholeCurrent = false;
    std::vector<float> last(x.begin(), x.end());
    for (std::size_t q = 0; q < nB; q++) {
        const double now = x[q];
        double ahead = weight[0] * now;
        for (std::size_t a = 1; a < weight.size(); a++)
            ahead += weight[a] * past[a - 1][q];
        // A coefficient that has reached 0 stays there, and none crosses 0:
        // the curve through the last points says nothing past a kink of the
        // penalty.
        x[q] = now == 0 || ahead * now < 0 ? now : ahead;
    }
    past.insert(past.begin(), std::move(last));
    past.resize(std::min(past.size(), keep));
}

void Solver::screenAtX(double lambda, std::vector<char> &zero)
{
    groups = &p.tree;
    std::vector<double> mx(nM);
    scores(x, mx);
    double primal = 0;
    relativeGap(lambda, mx, primal);
    screen(lambda, zero);
}

Leftover Solver::leftOver(double lambda, double gradientScale, double radius, const std::vector<char> &inSet)
{
    const int C = p.C;
    Leftover out;
    out.leaf.resize(nB);
    out.node.resize(static_cast<std::size_t>(p.tree.V) * C);
    std::vector<double> &leafLeft = out.leaf, &left = out.node;
    // Just below lambda: a coefficient is certainly 0 only where the
    // gradient stays strictly inside the thresholds.
    const double t = lambda * (1 - 1e-9);
    for (const int j : p.tree.leaves)
        for (int k = 0; k < C; k++) {
            const std::size_t q = static_cast<std::size_t>(j) * C + k;
            const double bound = gradientScale * std::fabs(g[q]) + radius * p.columnNorm[j];
            leafLeft[q] = inSet[j] ? 0.0 : std::max(bound - t * p.leafWeight[j], 0.0);
        }
    std::vector<char> &holds = out.holds;
    holds.assign(p.tree.V, 0);
    std::vector<double> sq(C);
    for (int v = p.tree.V - 1; v >= 0; v--) {
        std::fill(sq.begin(), sq.end(), 0.0);
        for (int e = p.tree.leafStart[v]; e < p.tree.leafStart[v + 1]; e++) {
            const int j = p.tree.leafList[e];
            holds[v] = holds[v] || inSet[j];
            for (int k = 0; k < C; k++)
                sq[k] += leafLeft[static_cast<std::size_t>(j) * C + k] * leafLeft[static_cast<std::size_t>(j) * C + k];
        }
        for (int e = p.tree.childStart[v]; e < p.tree.childStart[v + 1]; e++) {
            const int c = p.tree.childList[e];
            holds[v] = holds[v] || holds[c];
            for (int k = 0; k < C && !holds[c]; k++)
                sq[k] += left[static_cast<std::size_t>(c) * C + k] * left[static_cast<std::size_t>(c) * C + k];
        }
        for (int k = 0; k < C; k++)
            left[static_cast<std::size_t>(v) * C + k] = std::max(std::sqrt(sq[k]) - t * p.tree.weight[v], 0.0);
    }
    return out;
}

void Solver::screen(double lambda, std::vector<char> &zero)
{
    const int C = p.C;
    // Rounding in the objective and its bound, on top of the gap.
    const double radius = std::sqrt(2 * (absoluteGap + 1e-12 * (lossAtZero + 1)));
    const Leftover left = leftOver(lambda, dualScale, radius, std::vector<char>(zero.size(), 0));
    // A coefficient is 0 when its own threshold or that of a group above it
    // holds the whole of what lies below: mark such groups from the root down.
    std::vector<char> closed(static_cast<std::size_t>(p.tree.V) * C, 0);
    for (int v = 0; v < p.tree.V; v++) {
        char *shut = &closed[static_cast<std::size_t>(v) * C];
        for (int k = 0; k < C; k++)
            shut[k] = shut[k] || left.node[static_cast<std::size_t>(v) * C + k] == 0;
        for (int e = p.tree.childStart[v]; e < p.tree.childStart[v + 1]; e++)
            for (int k = 0; k < C; k++)
                closed[static_cast<std::size_t>(p.tree.childList[e]) * C + k] = shut[k];
        for (int e = p.tree.leafStart[v]; e < p.tree.leafStart[v + 1]; e++) {
            const int j = p.tree.leafList[e];
            bool all = true;
            for (int k = 0; k < C; k++)
                all = all && (shut[k] || left.leaf[static_cast<std::size_t>(j) * C + k] == 0);
            zero[j] = all;
        }
    }
}

int Solver::grow(double lambda, std::vector<char> &inSet, const std::vector<char> &zero)
{
    const int C = p.C;
    const Leftover left = leftOver(lambda, 1.0, 0.0, inSet);
    const std::vector<char> &holds = left.holds;
    const auto anyLeft = [&](const std::vector<double> &values, int at) {
        const double *a = &values[static_cast<std::size_t>(at) * C];
        return std::any_of(a, a + C, [](double value) { return value > 0; });
    };
    // A part of the tree outside the set is open when what its groups leave
    // of the gradient reaches its top: its zero is then no minimum. Only
    // the features reached through open groups can enter.
    std::vector<char> open(p.tree.V, 0);
    if (p.tree.V > 0)
        open[0] = !holds[0] && anyLeft(left.node, 0);
    int added = 0;
    for (int v = 0; v < p.tree.V; v++) {
        if (!holds[v] && !open[v])
            continue;
        for (int e = p.tree.childStart[v]; e < p.tree.childStart[v + 1]; e++) {
            const int c = p.tree.childList[e];
            open[c] = !holds[c] && anyLeft(left.node, c);
        }
        for (int e = p.tree.leafStart[v]; e < p.tree.leafStart[v + 1]; e++) {
            const int j = p.tree.leafList[e];
            if (inSet[j] || zero[j] || !anyLeft(left.leaf, j))
                continue;
            inSet[j] = 1;
            added++;
        }
    }
    return added;
}

// The weights that carry values at the `through` lambdas before lambdas[at]
// (newest first) to lambdas[at] along the polynomial in log lambda through
// them (Lagrange's); {1} for one.
std::vector<double> carryWeights(const std::vector<float> &lambdas, std::size_t at, std::size_t through)
{
    if (through <= 1)
        return {1.0};
    const double to = std::log(static_cast<double>(lambdas[at]));
    std::vector<double> from(through), weight(through, 1.0);
    for (std::size_t a = 0; a < through; a++)
        from[a] = std::log(static_cast<double>(lambdas[at - 1 - a]));
    for (std::size_t a = 0; a < through; a++)
        for (std::size_t b = 0; b < through; b++)
            if (a != b)
                weight[a] *= (to - from[b]) / (from[a] - from[b]);
    return weight;
}

// The solver's coefficients into model.beta (class-major floats) and the result.
void store(const TreeProblem &problem, const Solver &solver, Logistic &model, float lambda,
           ConvergedResult &result)
{
    const int C = problem.C, M = problem.M;
    if (model.beta == nullptr)
        model.beta = new float[static_cast<std::size_t>(C) * M]();
    model.lambda = lambda;
    result.coefficients.assign(static_cast<std::size_t>(C) * M, 0.0);
    for (int k = 0; k < C; k++)
        for (int j = 0; j < M; j++) {
            const double b = solver.x[static_cast<std::size_t>(j) * C + k];
            const float rounded = static_cast<float>(b);
            result.coefficients[static_cast<std::size_t>(k) * M + j] = b;
            model.beta[static_cast<std::size_t>(k) * M + j] = rounded == 0 ? 0.0f : rounded;
        }
}

} // namespace

ConvergedResult fitConverged(Logistic &model, float w, float lambda,
                             const ConvergedOptions &options, const std::vector<double> *start)
{
    const TreeProblem problem(model, w);
    Solver solver(problem);
    if (start != nullptr && start->size() == solver.x.size())
        solver.place(*start);
    ConvergedResult result = solver.solve(lambda, options);
    store(problem, solver, model, lambda, result);
    return result;
}

void fitConvergedPath(Logistic &model, float w, const std::vector<float> &lambdas,
                      const ConvergedOptions &options,
                      const std::function<void(std::size_t, const ConvergedResult &)> &each)
{
    const TreeProblem problem(model, w);
    Solver solver(problem);
    // Each fit starts where the last solutions point to, along the
    // polynomial in log lambda through them: a path moves smoothly in log
    // lambda between kinks. Through three points where the gradient method
    // runs (10 to 20% fewer iterations than two points, which took a quarter
    // fewer than the last solution alone); through two for Newton steps,
    // which overshoot from a start carried further. The solutions before the
    // last are kept in single precision: they only aim the start.
    const std::size_t points = options.newton && problem.tree.separable ? 2 : 3;
    std::vector<std::vector<float>> past;
    for (std::size_t l = 0; l < lambdas.size(); l++) {
        std::size_t through = 1; // the last solutions whose lambdas fall into this one
        while (through < std::min(points, l) && lambdas[l - through - 1] > lambdas[l - through])
            through++;
        if (l == 0 || !(lambdas[l - 1] > lambdas[l] && lambdas[l] > 0))
            through = 1;
        solver.extrapolate(carryWeights(lambdas, l, std::min(through, past.size() + 1)), past, points - 1);
        ConvergedResult result = solver.solve(lambdas[l], options);
        store(problem, solver, model, lambdas[l], result);
        each(l, result);
    }
}

std::vector<bool> certainlyZero(Logistic &model, float w, float lambda, const std::vector<double> &coefficients)
{
    const TreeProblem problem(model, w);
    Solver solver(problem);
    solver.place(coefficients);
    std::vector<char> zero(std::max(problem.M, 0), 0);
    solver.screenAtX(lambda, zero);
    std::vector<bool> flags(zero.size());
    for (const int j : problem.tree.leaves)
        flags[j] = zero[j] != 0;
    return flags;
}

double treeObjective(const Logistic &model, float lambda)
{
    const int C = model.nClasses, M = model.nFeatures, N = model.data.N;
    // A model that was never fitted still holds its rows.
    const FeatureColumns copied = model.columns.built() ? FeatureColumns() : buildFeatureColumns(model.data);
    const FeatureColumns &columns = model.columns.built() ? model.columns : copied;
    std::vector<double> m(static_cast<std::size_t>(N) * C, 0.0);
    for (int j = 0; j < M; j++)
        for (std::int64_t e = columns.start[j]; e < columns.start[j + 1]; e++)
            for (int k = 0; k < C; k++)
                m[static_cast<std::size_t>(columns.rows[e]) * C + k] +=
                    static_cast<double>(columns.values[e]) * model.beta[static_cast<std::size_t>(k) * M + j];
    double total = 0;
    for (int i = 0; i < N; i++) {
        const double *mi = &m[static_cast<std::size_t>(i) * C];
        const double top = *std::max_element(mi, mi + C);
        double sum = 0;
        for (int k = 0; k < C; k++)
            sum += std::exp(mi[k] - top);
        total += top + std::log(sum) - mi[model.data.classes[i] - 1];
    }
    // Squared norms below each node, children (higher numbers) first.
    double penalty = 0;
    std::vector<double> sq(static_cast<std::size_t>(model.nNodes) * C, 0.0);
    for (int v = model.nNodes - 1; v >= 0; v--)
        for (int k = 0; k < C; k++) {
            double &s = sq[static_cast<std::size_t>(v) * C + k];
            for (const int j : model.nodeLeaves[v]) {
                const double b = model.beta[static_cast<std::size_t>(k) * M + j];
                s += b * b;
                penalty += model.leafWeight[j] * std::fabs(b);
            }
            for (const int c : model.nodeChildren[v])
                s += sq[static_cast<std::size_t>(c) * C + k];
            penalty += model.groupWeight[v] * std::sqrt(s);
        }
    return total + lambda * penalty;
}
