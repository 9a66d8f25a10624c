// Runs the fits of a cross-validation on a pool of threads and hands their
// results back in task order, so that everything written from them comes
// out the same whatever the number of threads.
#ifndef ORVANE_FITQUEUE_H
#define ORVANE_FITQUEUE_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// One fit: a grid point and a fold of a repetition.
struct FitTask {
    float w;
    float lambda;
    int repetition;
    int fold;
    int wIndex = 0; // position of w in the grid
};

struct FitResult {
    float error = 0.0f;
    std::vector<int> predicted; // class of each held-out sample, in ascending line order
    // The fold model's nonzero coefficients: (cell k * M + j, value), in cell
    // order; kept only while the fit's grid point may be the one chosen.
    std::vector<std::pair<std::int32_t, float>> nonzero;
    // The score of each class for each held-out sample (sample-major, in the
    // order of `predicted`): what the class probabilities are computed from.
    std::vector<float> scores;
};

class FitQueue {
public:
    using Fit = std::function<FitResult(const FitTask &)>;
    // Called once per finished fit, one call at a time, with the number of fits done.
    using Done = std::function<void(const FitTask &, std::size_t done, std::size_t total)>;

    // With `jobs` of 1 or less no thread is started: result() fits each task
    // itself when it is first asked for. Otherwise min(jobs, tasks) threads
    // fit the tasks in order of their index.
    FitQueue(std::vector<FitTask> tasks, int jobs, Fit fit, Done done);
    // Lets the running fits finish and starts no new one.
    ~FitQueue();

    FitQueue(const FitQueue &) = delete;
    FitQueue &operator=(const FitQueue &) = delete;

    // Waits for task t and returns its result, which the caller may move
    // out; rethrows what its fit threw.
    FitResult &result(std::size_t t);

private:
    void runTask(std::size_t t);
    void work();

    std::vector<FitTask> tasks;
    Fit fit;
    Done done;
    std::vector<FitResult> results;
    std::vector<std::exception_ptr> failures;
    std::vector<char> finished;
    std::size_t nextTask = 0; // the next task a thread (or result()) takes
    std::size_t nDone = 0;
    bool stopping = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::thread> threads;
};

#endif
