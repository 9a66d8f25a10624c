// Cyclic coordinate descent: one bounded Newton step per leaf coefficient
// and class per sweep, with scores and normalisers kept up to date.
//
// Nothing is computed twice while its inputs keep their bits: the
// exponential of every score and the logarithm of every normaliser are
// cached, and so are the partial sums of the objective with no step. Every
// sum still adds the same floats in the same order, so the fit leaves the
// same bits as computing everything afresh. Undoing a trial step does not
// always give back a normaliser's old bits; the caches follow the bits the
// undo leaves.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "model/Logistic.h"

#ifdef ORVANE_CHECK_CACHES
#include <stdexcept>
#include <string>
#endif

namespace {

const int maxSweeps = 500;
const double tolerance = 1e-5;

float clampStep(float step, float bound)
{
    return std::min(bound, std::max(-bound, step));
}

bool sameBits(float a, float b)
{
    std::uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// The objective with no step starts from -(0 + fitSum).
float zeroStepStart(float fitSum)
{
    const float acc = 0;
    return -(acc + fitSum);
}

// Sample i's normaliser takes the value S, with bits other than before.
void setSumExp(Logistic &m, int i, float S)
{
    m.sumExp[i] = S;
    m.logSumExp[i] = m.logSumExpTwin[i] = logf(S);
    m.prefixValid = std::min(m.prefixValid, i); // partial sums past i are stale
}

// The objective from its loss part v, for coefficient p of feature j moved by s.
float objective(const Logistic &m, int p, int j, float s, float v)
{
    const float bNew = m.beta[p] + s;
    return ((std::fabs(bNew) - std::fabs(bNew - s)) * m.leafWeight[j] + m.penaltySum) * m.lambda + v;
}

// Brings the partial sums of the objective with no step up to date through
// entry `upTo` (the sum of the logarithms of samples 0..upTo-1).
void extendPrefix(Logistic &m, int upTo)
{
    const float start = zeroStepStart(m.fitSum);
    if (m.prefixValid < 0 || !sameBits(start, m.logPrefix[0])) {
        m.logPrefix[0] = start;
        m.prefixValid = 0;
    }
    for (int i = m.prefixValid; i < upTo; i++)
        m.logPrefix[i + 1] = m.logPrefix[i] + m.logSumExp[i];
    m.prefixValid = std::max(m.prefixValid, upTo);
}

// The objective's loss part, -(acc + fitSum) plus the N logarithms, with
// coefficient (k, j) moved by s (not 0) in the normalisers. The trial is then
// undone as (trial + exp(score)) - exp(moved score), which need not give
// back the old bits; the normalisers keep whatever it gives.
float trialLoss(Logistic &m, int k, int j, float s)
{
    const int N = m.nSamples;
    const int C = m.nClasses;
    const std::int32_t *rows = m.columns.rows.get() + m.columns.start[j];
    const float *values = m.columns.values.get() + m.columns.start[j];
    const int count = (int)m.columns.count(j);
    const float *expMargin = m.expMargin.data() + (std::size_t)k * N;
    const float *margin = m.margin + (std::size_t)k * N;
    float *scratch = m.trialRows.data();

    float acc = 0;
    for (int r = 0; r < count; r++) {
        const int i = rows[r];
        const float x = values[r];
        acc += (float)m.data.Y[i * C + k] * (s * x);
        const float moved = expf(s * x + margin[i]);
        const float trial = moved + (m.sumExp[i] - expMargin[i]);
        scratch[3 * r] = moved;
        scratch[3 * r + 1] = trial;
        scratch[3 * r + 2] = m.logSumExp[i];
        m.logSumExp[i] = logf(trial);
    }

    // Up to the first moved sample the sum is the one with no step, when it
    // starts from the same value.
    float v = -(acc + m.fitSum);
    int from = 0;
    if (sameBits(v, zeroStepStart(m.fitSum))) {
        from = count > 0 ? rows[0] : N;
        extendPrefix(m, from);
        v = m.logPrefix[from];
    }
    for (int i = from; i < N; i++)
        v += m.logSumExp[i];

    for (int r = 0; r < count; r++) {
        const int i = rows[r];
        const float undone = (scratch[3 * r + 1] + expMargin[i]) - scratch[3 * r];
        if (sameBits(undone, m.sumExp[i]))
            m.logSumExp[i] = scratch[3 * r + 2];
        else
            setSumExp(m, i, undone);
    }
    return v;
}

// The loss parts of an upward and then a downward trial step (neither 0),
// exactly as two evaluations in a row give them: the downward step sees the
// normalisers that undoing the upward one left. The two sums of N
// logarithms are independent and run side by side, one over logSumExp and
// one over its twin, each holding its own trial's logarithms.
void trialLossPair(Logistic &m, int k, int j, float sUp, float sDown, float &vUp, float &vDown)
{
    const int N = m.nSamples;
    const int C = m.nClasses;
    const std::int32_t *rows = m.columns.rows.get() + m.columns.start[j];
    const float *values = m.columns.values.get() + m.columns.start[j];
    const int count = (int)m.columns.count(j);
    const float *expMargin = m.expMargin.data() + (std::size_t)k * N;
    const float *margin = m.margin + (std::size_t)k * N;
    float *scratch = m.trialRows.data();

    float accUp = 0;
    float accDown = 0;
    for (int r = 0; r < count; r++) {
        const int i = rows[r];
        const float x = values[r];
        const float y = (float)m.data.Y[i * C + k];
        const float e = expMargin[i];
        accUp += y * (sUp * x);
        const float movedUp = expf(sUp * x + margin[i]);
        const float trialUp = movedUp + (m.sumExp[i] - e);
        const float afterUp = (trialUp + e) - movedUp;
        accDown += y * (sDown * x);
        const float movedDown = expf(sDown * x + margin[i]);
        const float trialDown = movedDown + (afterUp - e);
        scratch[2 * r] = (trialDown + e) - movedDown;
        scratch[2 * r + 1] = m.logSumExp[i];
        m.logSumExp[i] = logf(trialUp);
        m.logSumExpTwin[i] = logf(trialDown);
    }

    // A sum that starts like the one with no step shares its partial sums up
    // to the first moved sample.
    const float zeroStart = zeroStepStart(m.fitSum);
    const int first = count > 0 ? rows[0] : N;
    vUp = -(accUp + m.fitSum);
    vDown = -(accDown + m.fitSum);
    int fromUp = 0;
    int fromDown = 0;
    if (sameBits(vUp, zeroStart) || sameBits(vDown, zeroStart))
        extendPrefix(m, first);
    if (sameBits(vUp, zeroStart)) {
        vUp = m.logPrefix[first];
        fromUp = first;
    }
    if (sameBits(vDown, zeroStart)) {
        vDown = m.logPrefix[first];
        fromDown = first;
    }
    const float *logUp = m.logSumExp.data();
    const float *logDown = m.logSumExpTwin.data();
    int i = std::min(fromUp, fromDown);
    for (; i < fromDown; i++)
        vUp += logUp[i];
    for (; i < fromUp; i++)
        vDown += logDown[i];
    for (; i < N; i++) {
        vUp += logUp[i];
        vDown += logDown[i];
    }

    for (int r = 0; r < count; r++) {
        const int i = rows[r];
        const float undone = scratch[2 * r];
        if (sameBits(undone, m.sumExp[i]))
            m.logSumExp[i] = m.logSumExpTwin[i] = scratch[2 * r + 1];
        else
            setSumExp(m, i, undone);
    }
}

#ifdef ORVANE_CHECK_CACHES

[[noreturn]] void cacheFault(const char *what, int index)
{
    throw std::logic_error(std::string("cache check failed: ") + what + " at " +
                           std::to_string(index));
}

// Every cache against a fresh computation from the fields it stands for.
void checkCaches(const Logistic &m)
{
    const int N = m.nSamples;
    for (int q = 0; q < m.nClasses * N; q++)
        if (!sameBits(m.expMargin[q], expf(m.margin[q])))
            cacheFault("expMargin", q);
    for (int i = 0; i < N; i++)
        if (!sameBits(m.logSumExp[i], logf(m.sumExp[i])) || !sameBits(m.logSumExpTwin[i], m.logSumExp[i]))
            cacheFault("logSumExp", i);
    // The partial sums hold while they start from the current fitSum.
    float v = zeroStepStart(m.fitSum);
    if (m.prefixValid >= 0 && sameBits(m.logPrefix[0], v)) {
        for (int i = 0; i < m.prefixValid; i++) {
            v += logf(m.sumExp[i]);
            if (!sameBits(m.logPrefix[i + 1], v))
                cacheFault("logPrefix", i + 1);
        }
    }
}

// The objective computed from scratch on a copy of the normalisers, which it
// leaves as the evaluation would.
float freshEval(const Logistic &m, int k, int j, float step, std::vector<float> &sumExp)
{
    const int N = m.nSamples;
    const int M = m.nFeatures;
    const int C = m.nClasses;
    const float s = clampStep(step, m.delta[k * M + j]);
    const float bNew = m.beta[k * M + j] + s;
    const std::int32_t *rows = m.columns.rows.get() + m.columns.start[j];
    const float *values = m.columns.values.get() + m.columns.start[j];
    const int count = (int)m.columns.count(j);
    float acc = 0;
    if (s != 0) {
        for (int r = 0; r < count; r++) {
            const int i = rows[r];
            const float x = values[r];
            acc += (float)m.data.Y[i * C + k] * (s * x);
            sumExp[i] = expf(s * x + m.margin[k * N + i]) + (sumExp[i] - expf(m.margin[k * N + i]));
        }
    }
    float v = -(acc + m.fitSum);
    for (int i = 0; i < N; i++)
        v += logf(sumExp[i]);
    const float result =
        ((std::fabs(bNew) - std::fabs(bNew - s)) * m.leafWeight[j] + m.penaltySum) * m.lambda + v;
    if (s != 0) {
        for (int r = 0; r < count; r++) {
            const int i = rows[r];
            sumExp[i] = (sumExp[i] + expf(m.margin[k * N + i])) -
                        expf(s * values[r] + m.margin[k * N + i]);
        }
    }
    return result;
}

#endif

} // namespace

void Logistic::Train(float lambda)
{
    this->lambda = lambda;
    const int M = std::max(nFeatures, 0);
    // One cell at least: the objective reads coordinate (0, 0) even of an empty model.
    const int cells = std::max(nClasses * M, 1);
    beta = new float[cells]();
    featureColumns();
    std::int64_t longest = 0;
    for (int j = 0; j < M; j++)
        longest = std::max(longest, columns.count(j));
    trialRows.assign(3 * longest, 0.0f);
    delta = new float[cells];
    std::fill(delta, delta + cells, 1.0f);
    fitSum = 0;
    penaltySum = 0;
}

void Logistic::refreshCaches()
{
    const int N = nSamples;
    expMargin.resize((std::size_t)nClasses * N);
    for (std::size_t q = 0; q < expMargin.size(); q++)
        expMargin[q] = expf(margin[q]);
    logSumExp.resize(N);
    for (int i = 0; i < N; i++)
        logSumExp[i] = logf(sumExp[i]);
    logSumExpTwin = logSumExp;
    logPrefix.assign(N + 1, 0.0f);
    prefixValid = -1;
}

void Logistic::Learn(float w)
{
    LoadTheTree(w);
    const int N = nSamples;
    const int M = std::max(nFeatures, 0);
    const int C = nClasses;
    const int V = nNodes;
    const int *Y = data.Y;

    margin = new float[C * N]();
    numBetas = new float[V * C];
    squareSums = new float[V * C];
    dPlus = new float[C * M];
    dMinus = new float[C * M];
    d2 = new float[C * M];
    sumExp = new float[N];
    std::fill(sumExp, sumExp + N, (float)C);
    xty = new float[M * C]();
    for (int j : leafFeatures)
        for (int k = 0; k < C; k++)
            for (std::int64_t e = columns.start[j]; e < columns.start[j + 1]; e++)
                xty[j * C + k] += (float)Y[columns.rows[e] * C + k] * columns.values[e];
    refreshCaches();

    float prev = 0;
    for (int it = 0; it < maxSweeps; it++) {
        Derivatives();
        const float f = eval(0, 0, 0.0f);
        if (std::isnan(f))
            break;
        const float change = std::fabs(f - prev);
        if ((double)change < tolerance && it > 9)
            break;
        if (it > 0 && f > prev)
            break;

        for (int j : leafFeatures) {
            const std::int32_t *rows = columns.rows.get() + columns.start[j];
            const float *values = columns.values.get() + columns.start[j];
            const std::int64_t count = columns.count(j);
            for (int k = 0; k < C; k++) {
                const int p = k * M + j;
                const float d = delta[p];
                const float s = clampStep(compute(k, j), d);
                const float bOld = beta[p];
                const float bNew = s + bOld;
                if (s != 0) {
                    penaltySum += leafWeight[j] * (std::fabs(bNew) - std::fabs(bOld));
                    float *scores = margin + (std::size_t)k * N;
                    float *expScores = expMargin.data() + (std::size_t)k * N;
                    for (std::int64_t r = 0; r < count; r++) {
                        const int i = rows[r];
                        const float rOld = scores[i];
                        scores[i] = values[r] * s + rOld;
                        fitSum += (float)Y[i * C + k] * (s * values[r]);
                        const float moved = expf(scores[i]);
                        const float S = moved + (sumExp[i] - expScores[i]);
                        expScores[i] = moved;
                        if (!sameBits(S, sumExp[i]))
                            setSumExp(*this, i, S);
                    }
                }
                beta[p] = bNew;
                delta[p] = (float)std::max(0.5 * (double)d, 2.0 * std::fabs((double)bNew));
#ifdef ORVANE_CHECK_CACHES
                checkCaches(*this);
#endif
            }
        }
        prev = f;
    }
}

float Logistic::compute(int k, int j)
{
    float g, h;
    dl1(k, j, g, h);
    const int p = k * nFeatures + j;
    const float b = beta[p];
    const float H = h + d2[p];
    if (H == 0)
        return 0.0f;

    if (b > 0) {
        const float s = -(g + dPlus[p]) / H;
        return b + s < 0 ? -b : s;
    }
    if (b < 0) {
        const float s = -(g + dMinus[p]) / H;
        return b + s > 0 ? -b : s;
    }
    if (b == 0) {
        // At zero the penalty has a kink: try both one-sided steps and keep the
        // best objective, preferring the upward step, and no step, on ties.
        const float sUp = -(g + dPlus[p]) / H;
        const float sDown = -(g + dMinus[p]) / H;
        const float f0 = eval(k, j, 0.0f);
        float fUp, fDown;
        evalUpDown(k, j, sUp, sDown, fUp, fDown);
        if (f0 > fUp && fDown >= fUp)
            return sUp;
        if (f0 > fDown && fUp > fDown)
            return sDown;
    }
    return 0.0f;
}

float Logistic::eval(int k, int j, float step)
{
#ifdef ORVANE_CHECK_CACHES
    std::vector<float> freshSumExp(sumExp, sumExp + nSamples);
    const float fresh = freshEval(*this, k, j, step, freshSumExp);
#endif
    const int p = k * nFeatures + j;
    const float s = clampStep(step, delta[p]);
    float v;
    if (s != 0) {
        v = trialLoss(*this, k, j, s);
    } else {
        extendPrefix(*this, nSamples);
        v = logPrefix[nSamples];
    }
    const float result = objective(*this, p, j, s, v);
#ifdef ORVANE_CHECK_CACHES
    if (!sameBits(result, fresh))
        cacheFault("objective of coefficient", p);
    for (int i = 0; i < nSamples; i++)
        if (!sameBits(sumExp[i], freshSumExp[i]))
            cacheFault("sumExp after an evaluation", i);
    checkCaches(*this);
#endif
    return result;
}

void Logistic::evalUpDown(int k, int j, float sUp, float sDown, float &fUp, float &fDown)
{
    const int p = k * nFeatures + j;
    const float up = clampStep(sUp, delta[p]);
    const float down = clampStep(sDown, delta[p]);
    if (up == 0 || down == 0) {
        fUp = eval(k, j, sUp);
        fDown = eval(k, j, sDown);
        return;
    }
#ifdef ORVANE_CHECK_CACHES
    std::vector<float> freshSumExp(sumExp, sumExp + nSamples);
    const float freshUp = freshEval(*this, k, j, sUp, freshSumExp);
    const float freshDown = freshEval(*this, k, j, sDown, freshSumExp);
#endif
    float vUp, vDown;
    trialLossPair(*this, k, j, up, down, vUp, vDown);
    fUp = objective(*this, p, j, up, vUp);
    fDown = objective(*this, p, j, down, vDown);
#ifdef ORVANE_CHECK_CACHES
    if (!sameBits(fUp, freshUp) || !sameBits(fDown, freshDown))
        cacheFault("objectives of the two steps of coefficient", p);
    for (int i = 0; i < nSamples; i++)
        if (!sameBits(sumExp[i], freshSumExp[i]))
            cacheFault("sumExp after two evaluations", i);
    checkCaches(*this);
#endif
}

void Logistic::dl1(int k, int j, float &g, float &h)
{
    const float *expScores = expMargin.data() + (std::size_t)k * nSamples;
    const std::int32_t *rows = columns.rows.get() + columns.start[j];
    const float *values = columns.values.get() + columns.start[j];
    const std::int64_t count = columns.count(j);
    g = -xty[j * nClasses + k];
    h = 0;
    for (std::int64_t r = 0; r < count; r++) {
        const float S = sumExp[rows[r]];
        const float q = S == 0 ? 0.0f : 1 / S;
        const float t = expScores[rows[r]] * q * values[r];
        g += t;
        h += values[r] * t - t * t;
    }
}
