// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/TempDirectory.h"
#include "system/RegisteredMessage.h"

using varnex::system::RegisteredMessageEndpoint;
using varnex::system::RegisteredMessageFrame;
using varnex::system::SendRegisteredMessage;

using namespace std::chrono_literals;

namespace {

class WindowEndpoint : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(endpoint_.Open()); }
    void TearDown() override { endpoint_.Close(); }

    // A sender that connects and then sends nothing.
    int ConnectSilently() const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        endpoint_.SocketPath().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        return fd;
    }

    // Serves the endpoint as a window's event loop does, until `done` or the time is up.
    template <typename Done> void ServeUntil(Done done, std::chrono::milliseconds limit = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            served_ += endpoint_.ServicePending(handler_, 1000ms);
            pollfd entry{endpoint_.FileDescriptor(), POLLIN, 0};
            ::poll(&entry, 1, 5);
        }
    }

    support::TempDirectory directory_{"varnex-endpoint"};
    support::ScopedEnvironment runtime_{"VARNEX_RUNTIME_DIR", directory_.Path().string()};
    RegisteredMessageEndpoint endpoint_;
    std::vector<std::uint64_t> received_;
    int served_ = 0;
    RegisteredMessageEndpoint::Handler handler_ = [this](const RegisteredMessageFrame& frame) {
        received_.push_back(frame.wParam);
        return static_cast<std::int64_t>(frame.wParam * 10);
    };
};

} // namespace

// A window once waited up to 200 ms for each sender that connected and said nothing, one after another,
// and dropped it. Now such senders wait on their own while a sender with a whole frame is answered.
TEST_F(WindowEndpoint, SilentSendersDoNotHoldUpOneWhoseFrameIsWhole) {
    std::vector<int> silent;
    for (int i = 0; i < 5; ++i) {
        silent.push_back(ConnectSilently());
    }
    const std::uint32_t message = RegisterWindowMessageA("s_wm_VARNEX_CMD");
    auto reply = std::async(std::launch::async, [&] {
        std::int64_t result = 0;
        const int handled = SendRegisteredMessage(message, 3, 0, ::getpid(), 5s, &result);
        return handled == 1 ? result : -1;
    });
    ServeUntil([&] { return served_ == 1; });
    EXPECT_EQ(reply.get(), 30);
    EXPECT_EQ(received_, std::vector<std::uint64_t>{3});
    EXPECT_TRUE(endpoint_.HasWaitingSenders()) << "the silent senders were waited for and dropped";

    // Past their time they are dropped: the window hangs up on them.
    ServeUntil([&] { return !endpoint_.HasWaitingSenders(); });
    for (const int fd : silent) {
        char byte = 0;
        EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);
        ::close(fd);
    }
}

// Many senders that never finish cannot grow the window's memory: the oldest makes room for a new one.
TEST_F(WindowEndpoint, WaitingSendersAreBoundedOldestFirst) {
    std::vector<int> silent;
    for (std::size_t i = 0; i < RegisteredMessageEndpoint::kMaxWaitingSenders + 3; ++i) {
        silent.push_back(ConnectSilently());
        endpoint_.ServicePending(handler_, 1000ms); // accepted as they come, as the window's loop does
    }
    for (std::size_t i = 0; i < silent.size(); ++i) {
        char byte = 0;
        const ssize_t got = ::recv(silent[i], &byte, 1, MSG_DONTWAIT);
        EXPECT_EQ(got == 0, i < 3) << "sender " << i;
        ::close(silent[i]);
    }
}
