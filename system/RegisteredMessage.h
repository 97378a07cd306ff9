// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Registered window messages across processes.
//
// RegisterWindowMessageA gives every process the same id for the same name: a case-insensitive FNV-1a
// hash of the name folded into the registered-message range 0xC000..0xFFFF. Two different names can in
// principle share an id; a program registers few names, and the id only routes to one handler.
//
// A window that wants such messages from other processes opens a RegisteredMessageEndpoint: a Unix
// stream socket "window-<pid>.sock" in the per-user runtime directory (system/RuntimeDirectory.h). Only
// peers of the same uid are served (SO_PEERCRED). A sender writes one fixed-size frame (magic, id, wParam,
// lParam) and reads the handler's 64-bit result back, as with SendMessage.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// 0 for a null or empty name, as the platform does on failure.
std::uint32_t RegisterWindowMessageA(const char* name);

namespace varnex::system {

inline constexpr std::uint32_t kFirstRegisteredMessage = 0xC000;
inline constexpr std::uint32_t kLastRegisteredMessage = 0xFFFF;

struct RegisteredMessageFrame {
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
};

class RegisteredMessageEndpoint final {
public:
    using Handler = std::function<std::int64_t(const RegisteredMessageFrame&)>;

    RegisteredMessageEndpoint() = default;
    ~RegisteredMessageEndpoint();
    RegisteredMessageEndpoint(const RegisteredMessageEndpoint&) = delete;
    RegisteredMessageEndpoint& operator=(const RegisteredMessageEndpoint&) = delete;

    // Binds this process's socket; false when the runtime directory is unusable or binding fails.
    bool Open();
    void Close();
    // Non-blocking listening socket, for the caller's event loop to watch for readability.
    int FileDescriptor() const { return listenFd_; }
    const std::string& SocketPath() const { return socketPath_; }

    // Serves what has arrived, without waiting: accepts the senders waiting to connect, reads what each
    // has sent so far, and for every whole frame calls `handler` and writes the result back. Returns the
    // number of frames handled. A sender has `frameTimeout` from its connection to send its frame; peers
    // of another user, malformed frames and senders past their time are dropped without calling the
    // handler. At most kMaxWaitingSenders are kept; a new one displaces the oldest.
    int ServicePending(const Handler& handler,
                       std::chrono::milliseconds frameTimeout = std::chrono::milliseconds(1000));
    // Senders connected whose frames are not whole yet: call ServicePending again soon (for their
    // data, or to drop them at their time).
    bool HasWaitingSenders() const { return !waiting_.empty(); }

    static constexpr std::size_t kMaxWaitingSenders = 16;

private:
    struct WaitingSender {
        int fd = -1;
        std::chrono::steady_clock::time_point deadline;
        std::size_t received = 0;
        unsigned char frame[24] = {};
    };
    void Drop(std::size_t index);

    int listenFd_ = -1;
    std::string socketPath_;
    std::vector<WaitingSender> waiting_;
};

// Delivers the message to every running window endpoint of this user (or only to the one of
// `targetPid` when given) and waits at most `timeout` for each reply. Endpoints whose process is gone
// are removed. Returns the number of endpoints that handled the message; `firstResult` receives the
// first reply.
int SendRegisteredMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam,
                          std::optional<int> targetPid = std::nullopt,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(5000),
                          std::int64_t* firstResult = nullptr);

} // namespace varnex::system
