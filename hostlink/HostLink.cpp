// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostlink/HostLink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "hostlink/Framing.h"
#include "hostlink/UnixSocket.h"
#include "system/RuntimeDirectory.h"

using varnex::system::VarnexRuntimeDirectory;

namespace varnex::hostlink {
namespace {

enum class ConnectOutcome { Connected, NoHost, Busy, Failed };

// Unix stream connects complete at once or fail; EAGAIN means the host's backlog is full.
ConnectOutcome TryConnect(int fd, const sockaddr_un& address) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return ConnectOutcome::Connected;
    }
    switch (errno) {
    case ECONNREFUSED: // a socket file without a listener: a host that crashed
    case ENOENT:
    case ENOTDIR:
        return ConnectOutcome::NoHost;
    case EAGAIN:
    case EINTR:
        return ConnectOutcome::Busy;
    default:
        return ConnectOutcome::Failed;
    }
}

bool IsOwnPeer(int fd) {
    const auto uid = PeerUid(fd);
    return uid && *uid == ::getuid();
}

// Waits for `events` on fd until the deadline; false on timeout or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

SendResult Fail(SendStatus status, std::string text) {
    return SendResult{status, std::move(text)};
}

} // namespace

std::optional<std::string> EndpointPath(std::string& error) {
    const std::string directory = VarnexRuntimeDirectory(&error);
    if (directory.empty()) {
        return std::nullopt;
    }
    std::string path = directory + "/" + kSocketFileName;
    if (!MakeUnixAddress(path)) {
        error = path + " is too long for a socket address";
        return std::nullopt;
    }
    return path;
}

SendResult SendCommand(std::string_view command, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    if (command.size() > kMaxFrameBytes) {
        return Fail(SendStatus::Failed, "command longer than " + std::to_string(kMaxFrameBytes) + " bytes");
    }
    std::string error;
    const auto path = EndpointPath(error);
    if (!path) {
        return Fail(SendStatus::Failed, error);
    }
    const auto address = MakeUnixAddress(*path);

    UniqueFd socket = MakeStreamSocket();
    if (!socket.Valid()) {
        return Fail(SendStatus::Failed, ErrnoText("socket"));
    }
    for (;;) {
        const ConnectOutcome outcome = TryConnect(socket.Get(), *address);
        if (outcome == ConnectOutcome::Connected) {
            break;
        }
        if (outcome == ConnectOutcome::NoHost) {
            return Fail(SendStatus::NoHost, "no host listens at " + *path);
        }
        if (outcome == ConnectOutcome::Failed) {
            return Fail(SendStatus::Failed, ErrnoText("connect"));
        }
        if (Clock::now() >= deadline) {
            return Fail(SendStatus::TimedOut, "the host accepts no connections");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(5, MillisecondsLeft(deadline))));
    }
    if (!IsOwnPeer(socket.Get())) {
        return Fail(SendStatus::Failed, "the endpoint belongs to another user");
    }

    const std::string frame = EncodeFrame(command);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t written = ::send(socket.Get(), frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (written >= 0) {
            sent += static_cast<std::size_t>(written);
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!WaitFor(socket.Get(), POLLOUT, deadline)) {
                return Fail(SendStatus::TimedOut, "the host does not read");
            }
        } else {
            return Fail(SendStatus::Failed, ErrnoText("send"));
        }
    }

    FrameDecoder decoder;
    std::string reply;
    char buffer[512];
    for (;;) {
        switch (decoder.Next(reply)) {
        case FrameDecoder::Status::Frame:
            return {reply == kReplyOk ? SendStatus::Accepted : SendStatus::Rejected, reply};
        case FrameDecoder::Status::Oversized:
            return Fail(SendStatus::Failed, "the host's reply is malformed");
        case FrameDecoder::Status::NeedMore:
            break;
        }
        if (!WaitFor(socket.Get(), POLLIN, deadline)) {
            return Fail(SendStatus::TimedOut, "the host did not answer");
        }
        const ssize_t received = ::recv(socket.Get(), buffer, sizeof(buffer), 0);
        if (received > 0) {
            decoder.Feed(buffer, static_cast<std::size_t>(received));
        } else if (received == 0) {
            return Fail(SendStatus::Failed, "the host closed the connection");
        } else if (errno != EAGAIN && errno != EINTR) {
            return Fail(SendStatus::Failed, ErrnoText("recv"));
        }
    }
}

} // namespace varnex::hostlink

bool IsQuorixRunning() {
    std::string error;
    const auto path = varnex::hostlink::EndpointPath(error);
    if (!path) {
        return false;
    }
    varnex::hostlink::UniqueFd socket = varnex::hostlink::MakeStreamSocket();
    if (!socket.Valid()) {
        return false;
    }
    switch (varnex::hostlink::TryConnect(socket.Get(), *varnex::hostlink::MakeUnixAddress(*path))) {
    case varnex::hostlink::ConnectOutcome::Connected:
        return varnex::hostlink::IsOwnPeer(socket.Get());
    case varnex::hostlink::ConnectOutcome::Busy:
        return true; // listening, only its backlog is full
    default:
        return false;
    }
}

int SendHostCommand(const char* command, int timeoutMs) {
    if (!command) {
        return 0;
    }
    return varnex::hostlink::SendCommand(command, timeoutMs).status == varnex::hostlink::SendStatus::Accepted
               ? 1
               : 0;
}
