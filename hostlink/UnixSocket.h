// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small POSIX helpers shared by the client and the server side of the host link.

#include <chrono>
#include <optional>
#include <string>

#include <sys/types.h>
#include <sys/un.h>

namespace varnex::hostlink {

// Owns one file descriptor.
class UniqueFd final {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A socket address for `path`; nullopt when the path does not fit sun_path.
std::optional<sockaddr_un> MakeUnixAddress(const std::string& path);
// A non-blocking, close-on-exec stream socket.
UniqueFd MakeStreamSocket();
// The user id of the process at the other end of a connected Unix socket, or nullopt.
std::optional<uid_t> PeerUid(int fd);

using Clock = std::chrono::steady_clock;
// Milliseconds left until `deadline` (0 when past), for poll().
int MillisecondsLeft(Clock::time_point deadline);

std::string ErrnoText(const char* what);

} // namespace varnex::hostlink
