// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Carries out host commands on a thread of its own, in arrival order, so that opening a large data set
// never stalls the endpoint or the window. The queue is bounded: when it is full the command is refused
// and the sender told so. Whenever the queue runs empty the observer gets a snapshot of the displays'
// state.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/HostDisplayModel.h"

namespace varnex::host {

class CommandExecutor final {
public:
    using Observer = std::function<void(std::shared_ptr<const HostDisplayState>)>;

    explicit CommandExecutor(Observer observer, std::size_t maxQueued = 256);
    ~CommandExecutor();
    CommandExecutor(const CommandExecutor&) = delete;
    CommandExecutor& operator=(const CommandExecutor&) = delete;

    // False when the queue is full.
    bool Enqueue(std::string commandText);
    // Queues a DDALaunch of `path` (the data set given on the command line).
    bool EnqueueLaunch(const std::string& path);
    std::shared_ptr<const HostDisplayState> Latest() const;
    // Waits until at least `revision` commands have been carried out.
    bool WaitForRevision(unsigned long long revision, std::chrono::milliseconds timeout) const;
    void Stop();

private:
    void Work();

    Observer observer_;
    std::size_t maxQueued_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
    std::shared_ptr<const HostDisplayState> latest_;
    HostDisplayModel model_; // used on the worker thread only
    std::thread worker_;
};

} // namespace varnex::host
