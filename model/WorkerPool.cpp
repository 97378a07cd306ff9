// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/WorkerPool.h"

#include <algorithm>
#include <utility>

namespace varnex::model {

unsigned WorkerPool::DefaultThreadCount() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
}

WorkerPool::WorkerPool(unsigned threadCount)
    : threadCount_(threadCount == 0 ? DefaultThreadCount() : std::min(threadCount, kMaxThreads)),
      queueLimit_(2 * std::size_t{threadCount_}) {
    if (threadCount_ < 2) {
        return;
    }
    threads_.reserve(threadCount_);
    for (unsigned i = 0; i < threadCount_; ++i) {
        threads_.emplace_back([this] { Run(); });
    }
}

WorkerPool::~WorkerPool() {
    Wait();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void WorkerPool::Submit(std::function<void()> task) {
    if (threads_.empty()) {
        task();
        return;
    }
    {
        std::unique_lock lock(mutex_);
        spaceOrDone_.wait(lock, [this] { return queue_.size() < queueLimit_; });
        queue_.push_back(std::move(task));
    }
    workAvailable_.notify_one();
}

void WorkerPool::Wait() {
    std::unique_lock lock(mutex_);
    spaceOrDone_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
}

void WorkerPool::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return; // stopping, and nothing left
        }
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        lock.unlock();
        spaceOrDone_.notify_all();
        task();
        task = nullptr; // whatever the task captured goes before the pool counts it done
        lock.lock();
        --running_;
        if (queue_.empty() && running_ == 0) {
            spaceOrDone_.notify_all();
        }
    }
}

} // namespace varnex::model
