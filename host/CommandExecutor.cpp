// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/CommandExecutor.h"

#include <chrono>
#include <utility>

namespace varnex::host {

CommandExecutor::CommandExecutor(Observer observer, std::size_t maxQueued)
    : observer_(std::move(observer)), maxQueued_(maxQueued), latest_(std::make_shared<HostDisplayState>()) {
    worker_ = std::thread([this] { Work(); });
}

CommandExecutor::~CommandExecutor() {
    Stop();
}

bool CommandExecutor::Enqueue(std::string commandText) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || queue_.size() >= maxQueued_) {
            return false;
        }
        queue_.push_back(std::move(commandText));
    }
    changed_.notify_all();
    return true;
}

bool CommandExecutor::EnqueueLaunch(const std::string& path) {
    return Enqueue("app.command[specdisplay:DDALaunch](" + path + ")");
}

std::shared_ptr<const HostDisplayState> CommandExecutor::Latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

bool CommandExecutor::WaitForRevision(unsigned long long revision, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return latest_->revision >= revision; });
}

void CommandExecutor::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CommandExecutor::Work() {
    for (;;) {
        std::string command;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            command = std::move(queue_.front());
            queue_.pop_front();
        }
        model_.ExecuteText(command);
        {
            // A burst of commands (a double-click sends eight) is shown once, after its last one.
            std::lock_guard<std::mutex> lock(mutex_);
            if (!queue_.empty() && !stopping_) {
                continue;
            }
        }
        auto snapshot = std::make_shared<const HostDisplayState>(model_.State());
        {
            std::lock_guard<std::mutex> lock(mutex_);
            latest_ = snapshot;
        }
        changed_.notify_all();
        if (observer_) {
            observer_(std::move(snapshot));
        }
    }
}

} // namespace varnex::host
