// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hostlink/Framing.h"
#include "hostlink/HostLink.h"
#include "hostlink/HostServer.h"
#include "hostlink/UnixSocket.h"
#include "support/TestHost.h"

using namespace std::chrono_literals;
using varnex::hostlink::SendStatus;

namespace {

// A listening socket at the endpoint that never accepts: connects succeed, nothing is ever answered.
varnex::hostlink::UniqueFd ListenWithoutServing(const std::filesystem::path& path) {
    varnex::hostlink::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = varnex::hostlink::MakeUnixAddress(path.string());
    EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)), 0);
    EXPECT_EQ(::listen(fd.Get(), 4), 0);
    return fd;
}

// Leaves a socket file without a listener, as a crashed host does.
void LeaveStaleSocket(const std::filesystem::path& path) {
    varnex::hostlink::UniqueFd fd = ListenWithoutServing(path);
    fd.Reset();
    ASSERT_TRUE(std::filesystem::exists(path));
}

varnex::hostlink::UniqueFd ConnectRaw(const std::filesystem::path& path) {
    varnex::hostlink::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = varnex::hostlink::MakeUnixAddress(path.string());
    EXPECT_EQ(::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)), 0);
    return fd;
}

double ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

const std::vector<std::string> kEightCommands = {
    "app.command[chrodisplay:clear]()",
    "app.command[chrodisplay:add](TIC:3)",
    "app.command[chrodisplay:add](TIC:1)",
    "app.command[chrodisplay:setpointer](SCAN:152)",
    "app.command[specdisplay:DDALaunch](/data/sample01.mzML)",
    "app.command[specdisplay:clear]()",
    "app.command[specdisplay:combine](12:15:3:/data/sample01.mzML)",
    "app.command[specdisplay:add](1:152)",
};

} // namespace

TEST(FrameDecoder, ReassemblesFramesFedByteByByte) {
    const std::string stream = varnex::hostlink::EncodeFrame("first") + varnex::hostlink::EncodeFrame("") +
                               varnex::hostlink::EncodeFrame(std::string("with\0nul", 8));
    varnex::hostlink::FrameDecoder decoder;
    std::vector<std::string> frames;
    std::string payload;
    for (const char byte : stream) {
        decoder.Feed(&byte, 1);
        while (decoder.Next(payload) == varnex::hostlink::FrameDecoder::Status::Frame) {
            frames.push_back(payload);
        }
    }
    EXPECT_EQ(frames, (std::vector<std::string>{"first", "", std::string("with\0nul", 8)}));
    EXPECT_EQ(decoder.BufferedBytes(), 0u);
}

TEST(FrameDecoder, RejectsAnnouncedFrameAboveLimitBeforeItsBytesArrive) {
    varnex::hostlink::FrameDecoder decoder(16);
    const std::string header = varnex::hostlink::EncodeFrame(std::string(17, 'x')).substr(0, 4);
    decoder.Feed(header.data(), header.size());
    std::string payload;
    EXPECT_EQ(decoder.Next(payload), varnex::hostlink::FrameDecoder::Status::Oversized);
}

class HostLinkTest : public ::testing::Test {
protected:
    ScopedRuntimeDirectory runtime_;
};

TEST_F(HostLinkTest, NotRunningWithoutSocket) {
    EXPECT_FALSE(IsQuorixRunning());
    const auto result = varnex::hostlink::SendCommand(kEightCommands[0], 1000);
    EXPECT_EQ(result.status, SendStatus::NoHost);
    EXPECT_EQ(SendHostCommand(kEightCommands[0].c_str(), 1000), 0);
}

TEST_F(HostLinkTest, StaleSocketOfCrashedHostCountsAsNotRunning) {
    LeaveStaleSocket(runtime_.SocketPath());
    EXPECT_FALSE(IsQuorixRunning());
    EXPECT_EQ(varnex::hostlink::SendCommand("app.command[chrodisplay:clear]()", 1000).status,
              SendStatus::NoHost);
}

TEST_F(HostLinkTest, NewHostReplacesStaleSocketAndIsSeenRunning) {
    LeaveStaleSocket(runtime_.SocketPath());
    ThreadedHost host;
    EXPECT_TRUE(IsQuorixRunning());
    struct stat socketInfo {};
    ASSERT_EQ(::stat(runtime_.SocketPath().c_str(), &socketInfo), 0);
    EXPECT_EQ(socketInfo.st_mode & 0777, 0600u) << "only the user may talk to the host";
    host.Stop();
    EXPECT_FALSE(IsQuorixRunning());
    EXPECT_FALSE(std::filesystem::exists(runtime_.SocketPath())) << "a host that ends removes its socket";
}

TEST_F(HostLinkTest, SecondHostRefusesToTakeOverLiveEndpoint) {
    ThreadedHost first;
    varnex::hostlink::HostCommandServer second;
    std::string error;
    EXPECT_FALSE(second.Listen(error));
    EXPECT_NE(error.find("already listening"), std::string::npos) << error;
    EXPECT_EQ(SendHostCommand("still served", 1000), 1);
}

TEST_F(HostLinkTest, HostRefusesToDeleteFileThatIsNotSocket) {
    std::FILE* file = std::fopen(runtime_.SocketPath().c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    varnex::hostlink::HostCommandServer server;
    std::string error;
    EXPECT_FALSE(server.Listen(error));
    EXPECT_TRUE(std::filesystem::is_regular_file(runtime_.SocketPath()));
}

TEST_F(HostLinkTest, EightCommandsArriveInOrderAndAreAccepted) {
    ThreadedHost host;
    ASSERT_TRUE(IsQuorixRunning());
    for (const std::string& command : kEightCommands) {
        EXPECT_EQ(SendHostCommand(command.c_str(), 10000), 1);
    }
    EXPECT_EQ(host.Received(), kEightCommands);
}

TEST_F(HostLinkTest, OddPathsArriveAsExactlyOneCommandEach) {
    const std::vector<std::string> paths = {
        "/data/my run/sample 01.mzML",
        "D:\\data\\sample01",
        "/data/a:b:c/x:y.mzML",
        "/données/échantillon_µ/試料.mzML",
        std::string("/latin1/\xE9\xE8.mzML"),
        "/new\nline/and\r\nreturn.mzML",
        "/trailing)/paren)",
        std::string(60000, 'p'),
    };
    ThreadedHost host;
    std::vector<std::string> sent;
    for (const std::string& path : paths) {
        sent.push_back("app.command[specdisplay:combine](12:15:3:" + path + ")");
        const auto result = varnex::hostlink::SendCommand(sent.back(), 10000);
        EXPECT_EQ(result.status, SendStatus::Accepted) << result.reply;
    }
    const std::string withNul("app.command[specdisplay:DDALaunch](/a\0b)", 40);
    sent.push_back(withNul);
    EXPECT_EQ(varnex::hostlink::SendCommand(withNul, 10000).status, SendStatus::Accepted);
    EXPECT_EQ(host.Received(), sent);
}

TEST_F(HostLinkTest, CommandLongerThanFrameLimitIsNotSent) {
    ThreadedHost host;
    const auto result =
        varnex::hostlink::SendCommand(std::string(varnex::hostlink::kMaxFrameBytes + 1, 'x'), 1000);
    EXPECT_EQ(result.status, SendStatus::Failed);
    EXPECT_TRUE(host.Received().empty());
}

TEST_F(HostLinkTest, HostRejectionIsReportedWithItsReason) {
    ThreadedHost host({}, [](std::string_view) { return std::string("error: unknown verb"); });
    const auto result = varnex::hostlink::SendCommand("app.command[nodisplay:dance]()", 1000);
    EXPECT_EQ(result.status, SendStatus::Rejected);
    EXPECT_EQ(result.reply, "error: unknown verb");
    EXPECT_EQ(SendHostCommand("app.command[nodisplay:dance]()", 1000), 0);
}

TEST_F(HostLinkTest, HostThatNeverAcceptsCostsAtMostTheTimeout) {
    varnex::hostlink::UniqueFd listener = ListenWithoutServing(runtime_.SocketPath());
    ASSERT_TRUE(IsQuorixRunning());
    const auto start = std::chrono::steady_clock::now();
    const auto result = varnex::hostlink::SendCommand(kEightCommands[0], 300);
    const double elapsedMs = ElapsedMs(start);
    EXPECT_EQ(result.status, SendStatus::TimedOut);
    EXPECT_GE(elapsedMs, 290.0);
    EXPECT_LT(elapsedMs, 3000.0);
}

TEST_F(HostLinkTest, HostThatStopsAnsweringCostsAtMostTheTimeoutPerCommand) {
    std::mutex release;
    release.lock();
    ThreadedHost host({}, [&](std::string_view) {
        std::lock_guard<std::mutex> wait(release); // hangs until the test ends
        return std::string(varnex::hostlink::kReplyOk);
    });
    for (int i = 0; i < 2; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SendHostCommand(kEightCommands[i].c_str(), 200), 0);
        EXPECT_LT(ElapsedMs(start), 3000.0);
    }
    release.unlock();
}

TEST_F(HostLinkTest, HostDyingMidSequenceLeavesTheRestUndeliveredWithoutHanging) {
    std::vector<int> results;
    {
        ThreadedHost host;
        for (std::size_t i = 0; i < 3; ++i) {
            results.push_back(SendHostCommand(kEightCommands[i].c_str(), 10000));
        }
    }
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 3; i < kEightCommands.size(); ++i) {
        results.push_back(SendHostCommand(kEightCommands[i].c_str(), 10000));
    }
    EXPECT_LT(ElapsedMs(start), 3000.0);
    EXPECT_EQ(results, (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0}));
}

TEST_F(HostLinkTest, HostClosingBeforeReadingDoesNotRaiseSigpipe) {
    varnex::hostlink::UniqueFd listener = ListenWithoutServing(runtime_.SocketPath());
    std::thread rude([&] {
        for (int i = 0; i < 5; ++i) {
            varnex::hostlink::UniqueFd(::accept(listener.Get(), nullptr, nullptr)); // closed at once
        }
    });
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(varnex::hostlink::SendCommand(
                      std::string(200000, 'x').substr(0, varnex::hostlink::kMaxFrameBytes), 2000)
                      .status,
                  SendStatus::Failed);
    }
    rude.join();
}

TEST_F(HostLinkTest, RuntimeDirectoryOpenToOthersIsRefused) {
    ThreadedHost host;
    ASSERT_EQ(::chmod(runtime_.Path().c_str(), 0755), 0);
    EXPECT_FALSE(IsQuorixRunning());
    EXPECT_EQ(varnex::hostlink::SendCommand("x", 1000).status, SendStatus::Failed);
    ASSERT_EQ(::chmod(runtime_.Path().c_str(), 0700), 0);
    EXPECT_TRUE(IsQuorixRunning());
}

// With XDG_RUNTIME_DIR unset the endpoints live in /tmp/varnex-<uid>, which another user can make first
// and so block the host; the message says so and how to choose another directory.
TEST_F(HostLinkTest, RuntimeDirectoryTakenByAnotherUserIsNamedInTheMessage) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as two users";
    }
    constexpr uid_t kOther = 65534;
    const std::string taken = "/tmp/varnex-" + std::to_string(kOther);
    if (::mkdir(taken.c_str(), 0700) != 0) {
        GTEST_SKIP() << taken << " exists already; it is left alone";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::unsetenv("VARNEX_RUNTIME_DIR");
        ::unsetenv("XDG_RUNTIME_DIR");
        if (::setgid(kOther) != 0 || ::setuid(kOther) != 0) {
            ::_exit(100);
        }
        std::string error;
        const bool refused = !varnex::hostlink::EndpointPath(error);
        for (const std::string& part :
             {taken, std::string("another user"), std::string("XDG_RUNTIME_DIR is not set"),
              std::string("VARNEX_RUNTIME_DIR")}) {
            if (error.find(part) == std::string::npos) {
                std::fprintf(stderr, "message lacks '%s': %s\n", part.c_str(), error.c_str());
                ::_exit(1);
            }
        }
        ::_exit(refused ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::rmdir(taken.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(HostLinkTest, RuntimeDirectoryThatIsSymlinkIsRefused) {
    const auto link = runtime_.Path().string() + "-link";
    std::filesystem::create_directory_symlink(runtime_.Path(), link);
    ThreadedHost host;
    ::setenv("VARNEX_RUNTIME_DIR", link.c_str(), 1);
    EXPECT_FALSE(IsQuorixRunning());
    ::setenv("VARNEX_RUNTIME_DIR", runtime_.Path().c_str(), 1);
    std::filesystem::remove(link);
}

TEST_F(HostLinkTest, OversizedFrameDropsOnlyThatClient) {
    varnex::hostlink::HostCommandServer::Limits limits;
    limits.maxFrameBytes = 1024;
    ThreadedHost host(limits);
    varnex::hostlink::UniqueFd garbage = ConnectRaw(runtime_.SocketPath());
    const std::string header = varnex::hostlink::EncodeFrame(std::string(1025, 'g')).substr(0, 4);
    ASSERT_EQ(::send(garbage.Get(), header.data(), header.size(), MSG_NOSIGNAL), 4);
    char buffer[256];
    ssize_t total = 0;
    for (ssize_t got; (got = ::recv(garbage.Get(), buffer, sizeof(buffer), 0)) > 0;) {
        total += got; // the error reply, then end of stream: the host hung up
    }
    EXPECT_GT(total, 0);
    EXPECT_EQ(host.Server().DroppedClients(), 1u);
    EXPECT_EQ(SendHostCommand("after the garbage", 1000), 1);
    EXPECT_EQ(host.Received(), std::vector<std::string>{"after the garbage"});
}

TEST_F(HostLinkTest, IdleClientsAreDroppedSoTheyCannotHoldEverySlot) {
    varnex::hostlink::HostCommandServer::Limits limits;
    limits.maxClients = 3;
    limits.idleTimeoutMs = 200;
    ThreadedHost host(limits);
    std::vector<varnex::hostlink::UniqueFd> idle;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(ConnectRaw(runtime_.SocketPath()));
    }
    const std::string partial = varnex::hostlink::EncodeFrame("never finished").substr(0, 7);
    ASSERT_EQ(::send(idle[0].Get(), partial.data(), partial.size(), MSG_NOSIGNAL), 7);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(SendHostCommand("served once the idle clients are gone", 2000), 1);
    EXPECT_GE(host.Server().DroppedClients(), 3u);
}

// Clients holding every place (32 of them, each sending a byte now and then) once locked every new
// client out. A new client now displaces the one that has gone longest without a whole frame, and a
// client that trickles its frame is dropped when the frame outlasts its time, however busy it looks.
TEST_F(HostLinkTest, ClientsHoldingEveryPlaceCannotLockOutNewOnes) {
    varnex::hostlink::HostCommandServer::Limits limits;
    limits.frameTimeoutMs = 300;
    ThreadedHost host(limits);
    std::vector<varnex::hostlink::UniqueFd> holders;
    for (std::size_t i = 0; i < limits.maxClients; ++i) {
        holders.push_back(ConnectRaw(runtime_.SocketPath()));
    }
    EXPECT_EQ(SendHostCommand("served while every place is taken", 2000), 1);
    EXPECT_EQ(host.Received(), std::vector<std::string>{"served while every place is taken"});

    varnex::hostlink::UniqueFd trickler = ConnectRaw(runtime_.SocketPath());
    const std::string frame = varnex::hostlink::EncodeFrame("trickled");
    for (std::size_t k = 0; k < 8; ++k) {
        ::send(trickler.Get(), frame.data() + k, 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(100ms);
    }
    char byte = 0;
    EXPECT_EQ(::recv(trickler.Get(), &byte, 1, MSG_DONTWAIT), 0) << "the trickling client is still served";
    EXPECT_EQ(host.Received().size(), 1u);
}

TEST_F(HostLinkTest, FloodOfPipelinedCommandsIsServedInOrder) {
    ThreadedHost host;
    varnex::hostlink::UniqueFd client = ConnectRaw(runtime_.SocketPath());
    std::string burst;
    std::vector<std::string> sent;
    for (int i = 0; i < 2000; ++i) {
        sent.push_back("app.command[chrodisplay:add](TIC:" + std::to_string(i) + ")");
        burst += varnex::hostlink::EncodeFrame(sent.back());
    }
    std::thread reader([&] {
        varnex::hostlink::FrameDecoder decoder;
        std::string reply;
        std::size_t replies = 0;
        char buffer[4096];
        while (replies < sent.size()) {
            const ssize_t got = ::recv(client.Get(), buffer, sizeof(buffer), 0);
            if (got <= 0) {
                break;
            }
            decoder.Feed(buffer, static_cast<std::size_t>(got));
            while (decoder.Next(reply) == varnex::hostlink::FrameDecoder::Status::Frame) {
                ++replies;
            }
        }
        EXPECT_EQ(replies, sent.size());
    });
    std::size_t offset = 0;
    while (offset < burst.size()) {
        const ssize_t written =
            ::send(client.Get(), burst.data() + offset, burst.size() - offset, MSG_NOSIGNAL);
        ASSERT_GT(written, 0);
        offset += static_cast<std::size_t>(written);
    }
    reader.join();
    EXPECT_EQ(host.Received(), sent);
}
