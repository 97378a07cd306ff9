// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostlink/HostServer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hostlink/HostLink.h"

namespace varnex::hostlink {
namespace {

struct Client {
    UniqueFd fd;
    FrameDecoder decoder;
    std::string unsent; // the tail of a reply the socket could not take yet
    Clock::time_point lastActivity;
    Clock::time_point lastFrame;                               // connected, or last whole frame received
    Clock::time_point frameStarted = Clock::time_point::max(); // first byte of the frame in progress

    bool MidFrame() const { return unsent.empty() && decoder.BufferedBytes() > 0; }
};

enum class ClientState { Open, Closed, Dropped };

// Writes what the socket takes now; the rest waits in `unsent` until the client reads.
bool Flush(Client& client) {
    while (!client.unsent.empty()) {
        const ssize_t written =
            ::send(client.fd.Get(), client.unsent.data(), client.unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            client.unsent.erase(0, static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            return written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    return true;
}

// Answers the frames already buffered, one at a time, and stops while a reply is unsent: a client that
// pipelines commands faster than it reads replies is slowed down rather than buffered without bound.
ClientState AnswerBufferedFrames(Client& client, const HostCommandServer::Handler& handler) {
    std::string payload;
    while (client.unsent.empty()) {
        switch (client.decoder.Next(payload)) {
        case FrameDecoder::Status::NeedMore:
            return ClientState::Open;
        case FrameDecoder::Status::Oversized:
            client.unsent = EncodeFrame(std::string(kReplyErrorPrefix) + "frame too large");
            Flush(client);
            return ClientState::Dropped;
        case FrameDecoder::Status::Frame:
            client.lastFrame = Clock::now();
            client.frameStarted = Clock::time_point::max();
            client.unsent = EncodeFrame(handler(payload));
            if (!Flush(client)) {
                return ClientState::Dropped;
            }
            break;
        }
    }
    return ClientState::Open;
}

ClientState ServeClient(Client& client, short events, const HostCommandServer::Handler& handler) {
    if (!client.unsent.empty()) {
        if (!(events & (POLLOUT | POLLHUP | POLLERR))) {
            return ClientState::Open;
        }
        if (!Flush(client)) {
            return ClientState::Dropped;
        }
        client.lastActivity = Clock::now();
        return AnswerBufferedFrames(client, handler);
    }
    if (!(events & (POLLIN | POLLHUP | POLLERR))) {
        return ClientState::Open;
    }
    // One bounded read per turn keeps clients fair and the buffer within one chunk plus one frame.
    char buffer[16 * 1024];
    const ssize_t received = ::recv(client.fd.Get(), buffer, sizeof(buffer), 0);
    if (received == 0) {
        return ClientState::Closed;
    }
    if (received < 0) {
        return errno == EAGAIN || errno == EINTR ? ClientState::Open : ClientState::Dropped;
    }
    client.lastActivity = Clock::now();
    client.decoder.Feed(buffer, static_cast<std::size_t>(received));
    return AnswerBufferedFrames(client, handler);
}

} // namespace

HostCommandServer::HostCommandServer(Limits limits) : limits_(limits) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeRead_.Reset(fds[0]);
        wakeWrite_.Reset(fds[1]);
    }
}

HostCommandServer::~HostCommandServer() {
    RemoveSocketFile();
}

bool HostCommandServer::Listen(std::string& error) {
    const auto path = EndpointPath(error);
    return path && Listen(*path, error);
}

bool HostCommandServer::Listen(const std::string& socketPath, std::string& error) {
    if (listener_.Valid()) {
        error = "already listening at " + socketPath_;
        return false;
    }
    const auto address = MakeUnixAddress(socketPath);
    if (!address) {
        error = socketPath + " is too long for a socket address";
        return false;
    }
    if (!wakeRead_.Valid()) {
        error = "cannot create the wake-up pipe";
        return false;
    }
    struct stat existing {};
    if (::lstat(socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = socketPath + " exists and is not a socket";
            return false;
        }
        UniqueFd probe = MakeStreamSocket();
        if (::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) == 0 ||
            errno == EAGAIN) {
            error = "a host is already listening at " + socketPath;
            return false;
        }
        ::unlink(socketPath.c_str()); // left by a host that crashed
    }
    UniqueFd listener = MakeStreamSocket();
    if (!listener.Valid()) {
        error = ErrnoText("socket");
        return false;
    }
    // The directory is private already, so the socket file can be made private after it is bound (the
    // file-creation mask is the whole process's: narrowing it here would narrow other threads' files too).
    if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0) {
        error = ErrnoText(("bind " + socketPath).c_str());
        return false;
    }
    ::chmod(socketPath.c_str(), 0600);
    if (::listen(listener.Get(), 16) != 0) {
        error = ErrnoText("listen");
        ::unlink(socketPath.c_str());
        return false;
    }
    struct stat boundInfo {};
    if (::lstat(socketPath.c_str(), &boundInfo) == 0) {
        socketDevice_ = boundInfo.st_dev;
        socketInode_ = boundInfo.st_ino;
    }
    listener_ = std::move(listener);
    socketPath_ = socketPath;
    return true;
}

void HostCommandServer::Run(const Handler& handler) {
    if (!listener_.Valid()) {
        return;
    }
    std::vector<Client> clients;
    std::vector<pollfd> entries;
    while (!stopRequested_.load()) {
        // The poll entries: the wake-up pipe, the listening socket, then one per client in order.
        constexpr std::size_t kWakeEntry = 0;
        constexpr std::size_t kListenerEntry = 1;
        constexpr std::size_t kFirstClientEntry = 2;
        entries.clear();
        entries.push_back({wakeRead_.Get(), POLLIN, 0});
        entries.push_back({listener_.Get(), POLLIN, 0});
        auto nextDeadline = Clock::time_point::max();
        for (const Client& client : clients) {
            entries.push_back(
                {client.fd.Get(), static_cast<short>(client.unsent.empty() ? POLLIN : POLLOUT), 0});
            nextDeadline = std::min(nextDeadline,
                                    client.lastActivity + std::chrono::milliseconds(limits_.idleTimeoutMs));
            if (client.MidFrame()) {
                nextDeadline = std::min(nextDeadline, client.frameStarted +
                                                          std::chrono::milliseconds(limits_.frameTimeoutMs));
            }
        }
        const int timeoutMs = clients.empty() ? -1 : std::max(1, MillisecondsLeft(nextDeadline));
        if (::poll(entries.data(), entries.size(), timeoutMs) < 0 && errno != EINTR) {
            break;
        }
        if (entries[kWakeEntry].revents != 0) {
            char drain[64];
            while (::read(wakeRead_.Get(), drain, sizeof(drain)) > 0) {
            }
            continue;
        }

        std::vector<bool> keep(clients.size(), true);
        const auto now = Clock::now();
        for (std::size_t i = 0; i < clients.size(); ++i) {
            Client& client = clients[i];
            ClientState state = ServeClient(client, entries[kFirstClientEntry + i].revents, handler);
            if (!client.MidFrame()) {
                client.frameStarted = Clock::time_point::max();
            } else if (client.frameStarted == Clock::time_point::max()) {
                client.frameStarted = now;
            }
            if (state == ClientState::Open && entries[kFirstClientEntry + i].revents == 0 &&
                now - client.lastActivity >= std::chrono::milliseconds(limits_.idleTimeoutMs)) {
                state = ClientState::Dropped;
            }
            if (state == ClientState::Open && client.MidFrame() &&
                now - client.frameStarted >= std::chrono::milliseconds(limits_.frameTimeoutMs)) {
                state = ClientState::Dropped;
            }
            keep[i] = state == ClientState::Open;
            if (state == ClientState::Dropped) {
                ++droppedClients_;
            }
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (!keep[i]) {
                continue;
            }
            if (kept != i) { // a self-move would empty the buffers
                clients[kept] = std::move(clients[i]);
            }
            ++kept;
        }
        clients.resize(kept);

        if (entries[kListenerEntry].revents & POLLIN) {
            // Take everything waiting so a burst of connections cannot outgrow the backlog.
            for (;;) {
                UniqueFd accepted(::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
                if (!accepted.Valid()) {
                    break;
                }
                const auto uid = PeerUid(accepted.Get());
                if (!uid || *uid != ::getuid() || limits_.maxClients == 0) {
                    ++droppedClients_;
                    continue;
                }
                if (clients.size() >= limits_.maxClients) {
                    // Full: a client that has sent nothing whole for longest makes room, so that clients
                    // holding their connections cannot lock everyone else out.
                    const auto oldest = std::min_element(
                        clients.begin(), clients.end(),
                        [](const Client& a, const Client& b) { return a.lastFrame < b.lastFrame; });
                    clients.erase(oldest);
                    ++droppedClients_;
                }
                const auto connected = Clock::now();
                clients.push_back(Client{
                    std::move(accepted), FrameDecoder(limits_.maxFrameBytes), {}, connected, connected});
            }
        }
    }
    // A host that no longer serves must not look running.
    listener_.Reset();
    RemoveSocketFile();
}

void HostCommandServer::Stop() {
    stopRequested_.store(true);
    if (wakeWrite_.Valid()) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_.Get(), &byte, 1);
    }
}

void HostCommandServer::RemoveSocketFile() {
    if (socketPath_.empty()) {
        return;
    }
    // Only our own socket: a newer host may have replaced it meanwhile.
    struct stat current {};
    if (::lstat(socketPath_.c_str(), &current) == 0 && current.st_dev == socketDevice_ &&
        current.st_ino == socketInode_) {
        ::unlink(socketPath_.c_str());
    }
    socketPath_.clear();
}

} // namespace varnex::hostlink
