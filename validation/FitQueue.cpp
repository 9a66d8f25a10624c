#include "validation/FitQueue.h"

#include <algorithm>

FitQueue::FitQueue(std::vector<FitTask> tasks, int jobs, Fit fit, Done done)
    : tasks(std::move(tasks)), fit(std::move(fit)), done(std::move(done)),
      results(this->tasks.size()), failures(this->tasks.size()), finished(this->tasks.size(), 0)
{
    const std::size_t nThreads = jobs > 1 ? std::min<std::size_t>(jobs, this->tasks.size()) : 0;
    // A thread that cannot be started (no memory for its stack under an
    // address-space limit, a process limit) leaves the fits to fewer threads,
    // or to result() itself when none started. Nothing may escape here: the
    // threads already running would end the program unjoined.
    threads.reserve(nThreads);
    try {
        for (std::size_t n = 0; n < nThreads; n++)
            threads.emplace_back(&FitQueue::work, this);
    } catch (...) {
    }
}

FitQueue::~FitQueue()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    for (std::thread &thread : threads)
        thread.join();
}

void FitQueue::runTask(std::size_t t)
{
    // Each fit works on data of its own; only the bookkeeping below is shared.
    FitResult result;
    std::exception_ptr failure;
    try {
        result = fit(tasks[t]);
    } catch (...) {
        failure = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex);
    results[t] = std::move(result);
    failures[t] = failure;
    finished[t] = 1;
    nDone++;
    if (!failure && done)
        done(tasks[t], nDone, tasks.size());
    changed.notify_all();
}

void FitQueue::work()
{
    while (true) {
        std::size_t t;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping || nextTask >= tasks.size())
                return;
            t = nextTask++;
        }
        runTask(t);
    }
}

FitResult &FitQueue::result(std::size_t t)
{
    if (threads.empty()) {
        // One thread: fit in order, up to the task asked for.
        while (nextTask <= t)
            runTask(nextTask++);
    } else {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return finished[t] != 0; });
    }
    if (failures[t])
        std::rethrow_exception(failures[t]);
    return results[t];
}
