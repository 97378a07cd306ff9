// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace varnex::model {

// A small fixed set of threads that run the tasks handed to them, for the one pass of the build that
// pays for parallel work. The threads live as long as the pool; the pool lives inside one pass. Tasks
// wait in a bounded queue, so a producer that runs ahead blocks instead of piling up work. With one
// thread there is no thread at all: Submit runs the task at once on the caller, in submission order,
// which is the reference every parallel run must match.
class WorkerPool final {
public:
    // hardware_concurrency, at least 1 and at most kMaxThreads.
    static unsigned DefaultThreadCount();
    static constexpr unsigned kMaxThreads = 8;

    // `threadCount` 0 means DefaultThreadCount(); larger counts are cut to kMaxThreads.
    explicit WorkerPool(unsigned threadCount);
    ~WorkerPool(); // waits for the queued tasks, then joins
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned ThreadCount() const { return threadCount_; }

    // Tasks must not throw and must only write what no other task touches.
    void Submit(std::function<void()> task);
    // Returns when every task submitted so far has run; what they wrote is then visible to the caller.
    void Wait();

private:
    void Run();

    unsigned threadCount_;
    std::size_t queueLimit_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable spaceOrDone_;
    std::deque<std::function<void()>> queue_;
    std::size_t running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace varnex::model
