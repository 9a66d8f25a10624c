// The cross-validation harness: reads every fold's lists once, fits each fold
// at each grid point (on several threads if asked), and writes the logs from
// the results in grid order, so that they do not depend on the threads.
#include "validation/Testing.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <limits>
#include <numeric>
#include <sstream>

#include "tree/messages.h"
#include "tree/newick.h"
#include "validation/runFiles.h"

namespace {

// Reads a word as atoi does (optional sign, then the leading digits; no
// digits read as 0), but saturates at int's range instead of overflowing.
int wordToInt(const std::string &word)
{
    const long long value = std::strtoll(word.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// The fold number of a header line: its second word, or its only word.
int headerFold(const std::string &line)
{
    std::istringstream words(line);
    std::string first, second;
    words >> first;
    if (words >> second)
        return wordToInt(second);
    return wordToInt(first);
}

void appendIndices(const std::string &line, std::vector<int> &indices)
{
    std::istringstream words(line);
    std::string word;
    while (words >> word)
        indices.push_back(wordToInt(word));
}

// First value of a grid; NaN stands in for the value of an empty grid.
float firstOf(const std::vector<float> &grid)
{
    return grid.empty() ? std::numeric_limits<float>::quiet_NaN() : grid[0];
}

// The nonzero coefficients of a fitted model, in cell order.
std::vector<std::pair<std::int32_t, float>> nonzeroCoefficients(const Logistic &model)
{
    std::vector<std::pair<std::int32_t, float>> nonzero;
    const std::int64_t cells = static_cast<std::int64_t>(std::max(model.nClasses, 0)) * std::max(model.nFeatures, 0);
    for (std::int64_t q = 0; q < cells; q++)
        if (model.beta[q] != 0.0f)
            nonzero.emplace_back(static_cast<std::int32_t>(q), model.beta[q]);
    return nonzero;
}

} // namespace

void setSets(int fold, std::string fileName, std::vector<int> &testSamples,
             std::vector<int> &trainSamples)
{
    std::ifstream in(fileName);
    std::string line;
    // getline fails at the end of the file and on any read error alike, so an
    // unreadable file ends the scan at once.
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '>' || headerFold(line) != fold)
            continue;
        if (!std::getline(in, line))
            break;
        appendIndices(line, testSamples);
        if (!std::getline(in, line))
            break;
        appendIndices(line, trainSamples);
    }
}

Testing::Testing(std::string xFileName, std::string yFileName, std::string tFileName, int NTests,
                 int KFold, std::string setsPrefix, std::string logPrefix, std::string resultLabel)
    : Testing(xFileName, yFileName, tFileName, NTests, KFold, setsPrefix, logPrefix, resultLabel,
              {0.4f}, {1.0f})
{
}

Testing::Testing(std::string xFileName, std::string yFileName, std::string tFileName, int NTests,
                 int KFold, std::string setsPrefix, std::string logPrefix, std::string resultLabel,
                 std::vector<float> ws, std::vector<float> lambdas)
{
    setUp(xFileName, yFileName, tFileName, NTests, KFold, setsPrefix, logPrefix, ws, lambdas);
    readData = Data(xFileName, yFileName, {});
    readTree.reset(vessik::readNewickTree(tFileName.c_str()));
    all = &readData;
    tree = readTree.get();
    readFolds();
    runGrid(1, nullptr, resultLabel);
    logError = appendLogs();
}

Testing::~Testing()
{
    freeData(readData);
}

Testing::Testing(const Data &all, vessik::Tree *tree, std::string xFileName,
                 std::string yFileName, std::string tFileName, int NTests, int KFold,
                 std::string setsPrefix, std::string logPrefix, std::string resultLabel,
                 std::vector<float> ws, std::vector<float> lambdas, int jobs,
                 std::ostream *progress, const ConvergedOptions *converged,
                 std::vector<std::vector<float>> lambdasOfW)
    : all(&all), tree(tree), jobs(jobs), useConverged(converged != nullptr)
{
    if (converged != nullptr)
        convergedOptions = *converged;
    setUp(xFileName, yFileName, tFileName, NTests, KFold, setsPrefix, logPrefix, ws, lambdas);
    if (!lambdasOfW.empty())
        this->lambdasOfW = std::move(lambdasOfW);
    readFolds();
    runGrid(jobs, progress, resultLabel);
}

void Testing::setUp(const std::string &x, const std::string &y, const std::string &t, int nTests,
                    int kFold, const std::string &setsPrefix, const std::string &logPrefix,
                    const std::vector<float> &ws, const std::vector<float> &lambdas)
{
    xFileName = x;
    yFileName = y;
    tFileName = t;
    NTests = nTests;
    KFold = kFold;
    setsFileNames.assign(NTests > 0 ? NTests : 0, "");
    for (int i = 0; i < NTests; i++)
        setsFileNames[i] = setsPrefix + std::to_string(i) + ".txt";
    vessik::sendMessage(vessik::MessageKind::Output, std::to_string(NTests) + "\n");
    detailedLogName = logPrefix + "log_detailed.txt";
    resultLogName = logPrefix + "log_result.txt";
    avrLogName = logPrefix + "log_avr.txt";
    vessik::sendMessage(vessik::MessageKind::Output, detailedLogName + "\n");
    Ws = ws;
    Lambdas = lambdas;
    NW = static_cast<int>(Ws.size());
    NLambdas = static_cast<int>(Lambdas.size());
    lambdasOfW.assign(NW, Lambdas);
}

void Testing::readFolds()
{
    const int nFolds = NTests > 0 && KFold > 0 ? NTests * KFold : 0;
    testLines.assign(nFolds, {});
    trainLines.assign(nFolds, {});
    for (int i = 0; i < NTests; i++)
        for (int j = 0; j < KFold; j++) {
            std::vector<int> &test = testLines[i * KFold + j];
            setSets(j, setsFileNames[i], test, trainLines[i * KFold + j]);
            // The held-out rows as the model scores them: ascending and distinct,
            // every row when the list is empty.
            if (test.empty())
                for (int s = 0; s < all->N; s++)
                    test.push_back(s);
            std::sort(test.begin(), test.end());
            test.erase(std::unique(test.begin(), test.end()), test.end());
            test.erase(std::remove_if(test.begin(), test.end(),
                                      [this](int s) { return s < 0 || s >= all->N; }),
                       test.end());
        }
}

namespace {

// The score of every class for each of `lines` (ascending, as TestRows
// takes them), sample-major; the fit itself is not touched.
std::vector<float> heldOutScores(const Logistic &model, const Data &all, const std::vector<int> &lines)
{
    const std::vector<char> finite = model.finiteClasses();
    std::vector<float> scores;
    scores.reserve(lines.size() * static_cast<std::size_t>(model.nClasses));
    for (const int i : lines)
        for (int k = 0; k < model.nClasses; k++)
            scores.push_back(model.classScore(all, i, k, finite[k]));
    return scores;
}

} // namespace

FitResult Testing::fitFold(const FitTask &task) const
{
    const int f = task.repetition * KFold + task.fold;
    // Each fit has its own columns and its own copy of the tree: nothing it
    // changes is shared with the other threads.
    Logistic model(Data(), nullptr);
    model.selectFrom(*all, trainLines[f], tree != nullptr ? tree->copy() : nullptr);
    model.Train(task.lambda);
    model.Learn(task.w);
    FitResult result;
    result.error = model.TestRows(*all, testLines[f], result.predicted);
    result.nonzero = nonzeroCoefficients(model);
    result.scores = heldOutScores(model, *all, testLines[f]);
    model.del();
    return result;
}

FitResult Testing::fitPath(const FitTask &task, std::size_t perW)
{
    const int f = task.repetition * KFold + task.fold;
    Logistic model(Data(), nullptr);
    model.selectFrom(*all, trainLines[f], tree != nullptr ? tree->copy() : nullptr);
    // From the largest lambda down; equal lambdas keep their grid order.
    std::vector<int> order(NLambdas);
    std::iota(order.begin(), order.end(), 0);
    const std::vector<float> &lambdas = lambdasOfW[task.wIndex];
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lambdas[a] > lambdas[b]; });
    std::vector<float> path;
    for (const int l : order)
        path.push_back(lambdas[l]);
    // Each path writes its own cells of `fits` and `gaps` only.
    fitConvergedPath(model, task.w, path, convergedOptions,
                     [&](std::size_t n, const ConvergedResult &result) {
                         const std::size_t t = task.wIndex * perW +
                                               (static_cast<std::size_t>(order[n]) * NTests + task.repetition) * KFold +
                                               task.fold;
                         fits[t].error = model.TestRows(*all, testLines[f], fits[t].predicted);
                         fits[t].nonzero = nonzeroCoefficients(model);
                         fits[t].scores = heldOutScores(model, *all, testLines[f]);
                         gaps[t] = result.gap;
                     });
    model.del();
    return {};
}

void Testing::dropCoefficients(int p)
{
    const std::size_t perPoint = NTests > 0 && KFold > 0 ? static_cast<std::size_t>(NTests) * KFold : 0;
    for (std::size_t f = 0; f < perPoint && p >= 0; f++)
        std::vector<std::pair<std::int32_t, float>>().swap(fits[p * perPoint + f].nonzero);
}

std::vector<FitTask> Testing::tasksAt(float w, const std::vector<float> &lambdas) const
{
    std::vector<FitTask> tasks;
    for (int l = 0; l < NLambdas; l++)
        for (int i = 0; i < NTests; i++)
            for (int j = 0; j < KFold; j++)
                tasks.push_back({w, lambdas[l], i, j});
    return tasks;
}

float Testing::logW(const std::string &x, const std::string &y, float w,
                    const std::vector<float> &lambdas, const FitOf &fitOf, int &bestLambda,
                    std::vector<float> &averagesAtW)
{
    float bestError = 1.0f;
    bestLambda = 0;
    averagesAtW.assign(NLambdas, 0.0f);

    std::ostringstream detailed, avr;
    detailed << "xFileName:\t" << x << '\n';
    detailed << "yFileName:\t" << y << '\n';
    detailed << "tFileName:\t" << tFileName << '\n';
    detailed << "NTests:\t" << NTests << '\n';
    detailed << "KFold:\t" << KFold << '\n';
    detailed << "W\tLambda\ti\tj\terror\n";

    for (int l = 0; l < NLambdas; l++) {
        const float lambda = lambdas[l];
        vessik::sendMessage(vessik::MessageKind::Output, std::to_string(NTests) + "\n");
        float sum = 0.0f;
        int count = 0;
        for (int i = 0; i < NTests; i++) {
            vessik::sendMessage(vessik::MessageKind::Output, "i " + std::to_string(i) + "\n");
            for (int j = 0; j < KFold; j++) {
                const float error = fitOf(l, i, j).error;
                sum += error;
                count++;
                detailed << w << '\t' << lambda << '\t' << i << '\t' << j << '\t' << error << '\n';
            }
        }
        const float average = sum / static_cast<float>(count);
        averagesAtW[l] = average;
        detailed << "Avr:\t" << w << '\t' << lambda << '\t' << average << '\n';
        avr << w << '\t' << lambda << '\t' << average << '\n';
        // Less or equal: ties go to the later lambda; a NaN never wins.
        if (average <= bestError) {
            bestError = average;
            bestLambda = l;
        }
    }
    const float shownLambda = NLambdas > 0 ? lambdas[bestLambda] : firstOf(lambdas);
    detailed << "Best Lambda:\t" << w << '\t' << shownLambda << '\t' << bestError << '\n';
    detailedText += detailed.str();
    avrText += avr.str();
    return bestError;
}

void Testing::runGrid(int jobs, std::ostream *progress, const std::string &resultLabel)
{
    std::vector<FitTask> tasks;
    for (int v = 0; v < NW; v++) {
        const std::vector<FitTask> atW = tasksAt(Ws[v], lambdasOfW[v]);
        tasks.insert(tasks.end(), atW.begin(), atW.end());
    }
    const std::size_t perW = tasks.size() / (Ws.empty() ? 1 : Ws.size());
    fits.assign(tasks.size(), {});
    gaps.assign(useConverged ? tasks.size() : 0, 0.0);
    // Converged fits run as one path per w and fold: the queue holds those.
    std::vector<FitTask> paths;
    for (int v = 0; v < NW && useConverged; v++)
        for (int i = 0; i < NTests; i++)
            for (int j = 0; j < KFold; j++)
                paths.push_back({Ws[v], 0.0f, i, j, v});
    const int nLambdas = NLambdas;
    FitQueue::Done done;
    if (progress != nullptr && useConverged)
        done = [progress, nLambdas](const FitTask &task, std::size_t n, std::size_t total) {
            *progress << "path " << n << " of " << total << " done: w " << task.w << ", "
                      << nLambdas << " lambdas, repetition " << task.repetition << ", fold "
                      << task.fold << std::endl;
        };
    else if (progress != nullptr)
        done = [progress](const FitTask &task, std::size_t n, std::size_t total) {
            *progress << "fit " << n << " of " << total << " done: w " << task.w << ", lambda "
                      << task.lambda << ", repetition " << task.repetition << ", fold "
                      << task.fold << std::endl;
        };
    FitQueue queue(useConverged ? paths : tasks, jobs,
                   [this, perW](const FitTask &task) {
                       return useConverged ? fitPath(task, perW) : fitFold(task);
                   },
                   done);
    averages.assign(static_cast<std::size_t>(NW) * NLambdas, 0.0f);
    bestLambdaIndex.assign(NW, 0);
    float bestError = 1.0f;
    bestWIndex = 0;
    // The folds' coefficients are kept for two points only: the run's choice
    // so far and the best lambda so far of the w being logged.
    int keptPoint = -1;
    int keptAtW = -1;
    // Called once logW has averaged point (v, l) and updated its best lambda.
    const auto settle = [&](int v, int l) {
        if (bestLambdaIndex[v] != l) {
            dropCoefficients(point(v, l));
            return;
        }
        if (keptAtW >= 0)
            dropCoefficients(keptAtW);
        keptAtW = point(v, l);
    };
    for (int v = 0; v < NW; v++) {
        std::vector<float> averagesAtW;
        keptAtW = -1;
        const float error = logW(
            xFileName, yFileName, Ws[v], lambdasOfW[v],
            [&](int l, int i, int j) -> const FitResult & {
                // Point l - 1 is averaged before the first fold of point l is asked for.
                if (l > 0 && i == 0 && j == 0)
                    settle(v, l - 1);
                const std::size_t t = v * perW + (static_cast<std::size_t>(l) * NTests + i) * KFold + j;
                if (useConverged) {
                    queue.result((static_cast<std::size_t>(v) * NTests + i) * KFold + j);
                    return fits[t];
                }
                fits[t] = std::move(queue.result(t));
                return fits[t];
            },
            bestLambdaIndex[v], averagesAtW);
        if (NLambdas > 0)
            settle(v, NLambdas - 1);
        std::copy(averagesAtW.begin(), averagesAtW.end(), averages.begin() + point(v, 0));
        // Strictly less: ties keep the earlier w, and a NaN never wins.
        if (error < bestError) {
            bestError = error;
            bestWIndex = v;
        }
        if (bestWIndex != v) {
            dropCoefficients(keptAtW);
        } else {
            if (keptPoint >= 0)
                dropCoefficients(keptPoint);
            keptPoint = keptAtW;
        }
    }
    std::ostringstream result;
    result << resultLabel << '\t' << (NW > 0 ? Ws[bestWIndex] : firstOf(Ws)) << '\t' << bestError
           << '\n';
    resultText += result.str();
}

float Testing::Test(std::string xFileName, std::string yFileName, std::string /*tFileName*/,
                    float w)
{
    FitQueue queue(tasksAt(w, Lambdas), jobs, [this](const FitTask &task) { return fitFold(task); },
                   nullptr);
    int bestLambda = 0;
    std::vector<float> averagesAtW;
    return logW(
        xFileName, yFileName, w, Lambdas,
        [&](int l, int i, int j) -> const FitResult & {
            return queue.result((static_cast<std::size_t>(l) * NTests + i) * KFold + j);
        },
        bestLambda, averagesAtW);
}

std::string Testing::appendLogs(std::vector<LogMark> *marks) const
{
    return appendWholeRun(
        {{detailedLogName, detailedText}, {avrLogName, avrText}, {resultLogName, resultText}}, marks);
}
