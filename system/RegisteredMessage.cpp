// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/RegisteredMessage.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "system/RuntimeDirectory.h"

using varnex::system::VarnexRuntimeDirectory;

namespace {

constexpr std::uint32_t kFrameMagic = 0x314D5856; // "VXM1"
constexpr const char* kSocketPrefix = "window-";
constexpr const char* kSocketSuffix = ".sock";

struct WireFrame {
    std::uint32_t magic;
    std::uint32_t message;
    std::uint64_t wParam;
    std::int64_t lParam;
};
static_assert(sizeof(WireFrame) == 24);

class ScopedFd final {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Moves exactly `size` bytes in either direction before the deadline; false on timeout, error or EOF.
bool TransferAll(int fd, void* data, std::size_t size, bool reading, Clock::time_point deadline) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        pollfd p{fd, static_cast<short>(reading ? POLLIN : POLLOUT), 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t n = reading ? ::recv(fd, bytes + done, size - done, 0)
                                  : ::send(fd, bytes + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The pid in "window-<pid>.sock", or nullopt for any other name.
std::optional<int> EndpointPid(const char* fileName) {
    const std::size_t prefixLength = std::strlen(kSocketPrefix);
    const std::size_t suffixLength = std::strlen(kSocketSuffix);
    const std::size_t length = std::strlen(fileName);
    if (length <= prefixLength + suffixLength || std::strncmp(fileName, kSocketPrefix, prefixLength) != 0 ||
        std::strcmp(fileName + length - suffixLength, kSocketSuffix) != 0) {
        return std::nullopt;
    }
    long pid = 0;
    for (std::size_t i = prefixLength; i < length - suffixLength; ++i) {
        if (fileName[i] < '0' || fileName[i] > '9' || pid > 100000000) {
            return std::nullopt;
        }
        pid = pid * 10 + (fileName[i] - '0');
    }
    return pid > 0 ? std::optional<int>(static_cast<int>(pid)) : std::nullopt;
}

std::string EndpointPath(const std::string& directory, int pid) {
    return directory + "/" + kSocketPrefix + std::to_string(pid) + kSocketSuffix;
}

// One request to one endpoint. A socket nobody listens on whose process is gone is removed.
bool SendToEndpoint(const std::string& path, int pid, const WireFrame& frame,
                    std::chrono::milliseconds timeout, std::int64_t& result) {
    sockaddr_un address;
    if (!FillAddress(path, address)) {
        return false;
    }
    ScopedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0) {
        return false;
    }
    const auto deadline = Clock::now() + timeout;
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // Unix sockets connect at once or not at all (EAGAIN: the listener's backlog is full).
        if (errno == ECONNREFUSED && ::kill(pid, 0) != 0 && errno == ESRCH) {
            ::unlink(path.c_str());
        }
        return false;
    }
    WireFrame copy = frame;
    return TransferAll(fd.Get(), &copy, sizeof copy, false, deadline) &&
           TransferAll(fd.Get(), &result, sizeof result, true, deadline);
}

} // namespace

std::uint32_t RegisterWindowMessageA(const char* name) {
    if (name == nullptr || *name == '\0') {
        return 0;
    }
    // Registered names compare without case, so fold before hashing.
    std::uint32_t hash = 2166136261u;
    for (const char* p = name; *p != '\0'; ++p) {
        char c = *p;
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    using varnex::system::kFirstRegisteredMessage;
    using varnex::system::kLastRegisteredMessage;
    constexpr std::uint32_t rangeSize = kLastRegisteredMessage - kFirstRegisteredMessage + 1;
    return kFirstRegisteredMessage + hash % rangeSize;
}

namespace varnex::system {

RegisteredMessageEndpoint::~RegisteredMessageEndpoint() {
    Close();
}

bool RegisteredMessageEndpoint::Open() {
    Close();
    const std::string directory = VarnexRuntimeDirectory();
    if (directory.empty()) {
        return false;
    }
    const std::string path = EndpointPath(directory, static_cast<int>(::getpid()));
    sockaddr_un address;
    if (!FillAddress(path, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    // A file of our own pid can only be left over from an earlier process that had the same pid.
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    listenFd_ = fd;
    socketPath_ = path;
    return true;
}

void RegisteredMessageEndpoint::Close() {
    while (!waiting_.empty()) {
        Drop(waiting_.size() - 1);
    }
    if (listenFd_ < 0) {
        return;
    }
    ::close(listenFd_);
    ::unlink(socketPath_.c_str());
    listenFd_ = -1;
    socketPath_.clear();
}

void RegisteredMessageEndpoint::Drop(std::size_t index) {
    ::close(waiting_[index].fd);
    waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(index));
}

int RegisteredMessageEndpoint::ServicePending(const Handler& handler,
                                              std::chrono::milliseconds frameTimeout) {
    if (listenFd_ < 0) {
        return 0;
    }
    static_assert(sizeof(WaitingSender::frame) == sizeof(WireFrame));
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            break;
        }
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
            credentials.uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        if (waiting_.size() >= kMaxWaitingSenders) {
            Drop(0);
        }
        waiting_.push_back(WaitingSender{fd, Clock::now() + frameTimeout, 0, {}});
    }
    int handled = 0;
    const auto now = Clock::now();
    for (std::size_t i = 0; i < waiting_.size();) {
        WaitingSender& sender = waiting_[i];
        const ssize_t n =
            ::recv(sender.fd, sender.frame + sender.received, sizeof sender.frame - sender.received, 0);
        if (n > 0) {
            sender.received += static_cast<std::size_t>(n);
        }
        const bool wouldWait = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        if (sender.received < sizeof sender.frame) {
            if (n == 0 || (n < 0 && !wouldWait) || now >= sender.deadline) {
                Drop(i);
            } else {
                ++i;
            }
            continue;
        }
        WireFrame frame{};
        std::memcpy(&frame, sender.frame, sizeof frame);
        // Taken out before the handler runs: it may run a nested event loop that serves this endpoint.
        const int fd = sender.fd;
        waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(i));
        if (frame.magic == kFrameMagic) {
            std::int64_t result =
                handler ? handler(RegisteredMessageFrame{frame.message, frame.wParam, frame.lParam}) : 0;
            // Eight bytes fit an empty socket buffer; a sender that gave up meanwhile loses its reply.
            [[maybe_unused]] const ssize_t sent =
                ::send(fd, &result, sizeof result, MSG_NOSIGNAL | MSG_DONTWAIT);
            ++handled;
        }
        ::close(fd);
    }
    return handled;
}

int SendRegisteredMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam,
                          std::optional<int> targetPid, std::chrono::milliseconds timeout,
                          std::int64_t* firstResult) {
    const std::string directory = VarnexRuntimeDirectory();
    if (directory.empty() || message == 0) {
        return 0;
    }
    const WireFrame frame{kFrameMagic, message, wParam, lParam};
    int delivered = 0;
    auto deliver = [&](int pid) {
        std::int64_t result = 0;
        if (!SendToEndpoint(EndpointPath(directory, pid), pid, frame, timeout, result)) {
            return;
        }
        if (delivered++ == 0 && firstResult) {
            *firstResult = result;
        }
    };
    if (targetPid) {
        deliver(*targetPid);
        return delivered;
    }
    DIR* listing = ::opendir(directory.c_str());
    if (!listing) {
        return 0;
    }
    std::vector<int> pids;
    while (const dirent* entry = ::readdir(listing)) {
        if (const auto pid = EndpointPid(entry->d_name)) {
            pids.push_back(*pid);
        }
    }
    ::closedir(listing);
    for (int pid : pids) {
        deliver(pid);
    }
    return delivered;
}

} // namespace varnex::system
