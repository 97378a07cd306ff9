// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's side of the link: listens at the endpoint, accepts only the same user's connections,
// reads framed commands and answers each one with the handler's reply. Memory is bounded: at most
// maxClients connections, each buffering at most one frame; a client that announces an oversized frame,
// stops reading its replies, stays idle too long or takes longer than frameTimeoutMs over one whole
// frame (trickling a byte now and then) is dropped. When every place is taken, a new connection
// displaces the client that has gone longest without sending a whole frame.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "hostlink/Framing.h"
#include "hostlink/UnixSocket.h"

namespace varnex::hostlink {

class HostCommandServer final {
public:
    struct Limits {
        std::size_t maxFrameBytes = kMaxFrameBytes;
        std::size_t maxClients = 32;
        int idleTimeoutMs = 10000;
        int frameTimeoutMs = 2000; // from a frame's first byte to its last
    };
    // Called on the thread that runs Run(), once per frame, in arrival order; returns the reply
    // (kReplyOk to accept).
    using Handler = std::function<std::string(std::string_view command)>;

    HostCommandServer() : HostCommandServer(Limits{}) {}
    explicit HostCommandServer(Limits limits);
    ~HostCommandServer();
    HostCommandServer(const HostCommandServer&) = delete;
    HostCommandServer& operator=(const HostCommandServer&) = delete;

    // Listens at the default endpoint. A socket file without a listener (a crashed host) is replaced;
    // a live host at the endpoint makes this fail.
    bool Listen(std::string& error);
    bool Listen(const std::string& socketPath, std::string& error);
    const std::string& SocketPath() const { return socketPath_; }

    // Serves until Stop(), then stops listening and removes the socket file; returns at once if not
    // listening.
    void Run(const Handler& handler);
    // Safe from any thread and from a signal handler.
    void Stop();

    // Clients dropped for misbehaving or refused, for monitoring and tests.
    std::size_t DroppedClients() const { return droppedClients_.load(); }

private:
    void RemoveSocketFile();

    Limits limits_;
    UniqueFd listener_;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    std::string socketPath_;
    dev_t socketDevice_ = 0;
    ino_t socketInode_ = 0;
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::size_t> droppedClients_{0};
};

} // namespace varnex::hostlink
