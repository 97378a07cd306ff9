// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Fixtures for tests that talk through the host link: a private runtime directory per test, and a
// host that runs the real server on its own thread and records what it receives.

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hostlink/HostLink.h"
#include "hostlink/HostServer.h"
#include "support/TempDirectory.h"

// Points VARNEX_RUNTIME_DIR at a fresh 0700 directory for the lifetime of the object.
class ScopedRuntimeDirectory final {
public:
    const std::filesystem::path& Path() const { return folder_.Path(); }
    std::filesystem::path SocketPath() const { return folder_.Path() / varnex::hostlink::kSocketFileName; }

private:
    support::TempDirectory folder_;
    support::ScopedEnvironment variable_{"VARNEX_RUNTIME_DIR", folder_.Path().string()};
};

// A host on its own thread. The default handler records each command and accepts it.
class ThreadedHost final {
public:
    using Handler = varnex::hostlink::HostCommandServer::Handler;

    explicit ThreadedHost(varnex::hostlink::HostCommandServer::Limits limits = {}, Handler handler = {})
        : server_(limits), handler_(std::move(handler)) {
        std::string error;
        if (!server_.Listen(error)) {
            throw std::runtime_error("host cannot listen: " + error);
        }
        thread_ = std::thread([this] {
            server_.Run([this](std::string_view command) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    received_.emplace_back(command);
                }
                changed_.notify_all();
                return handler_ ? handler_(command) : std::string(varnex::hostlink::kReplyOk);
            });
        });
    }
    ~ThreadedHost() { Stop(); }
    ThreadedHost(const ThreadedHost&) = delete;
    ThreadedHost& operator=(const ThreadedHost&) = delete;

    void Stop() {
        server_.Stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    std::vector<std::string> Received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
    }
    varnex::hostlink::HostCommandServer& Server() { return server_; }

private:
    varnex::hostlink::HostCommandServer server_;
    Handler handler_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> received_;
    std::thread thread_;
};
