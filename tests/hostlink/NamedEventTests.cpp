// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TestHost.h"
#include "system/NamedEvent.h"

namespace {

// Entries of /dev/shm whose name contains `part`.
int ShmEntriesNaming(const std::string& part) {
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        count += entry.path().filename().string().find(part) != std::string::npos;
    }
    return count;
}

class NamedEventTest : public ::testing::Test {
protected:
    // Each test names its own event, so no test sees another's, nor another test run's. Short enough to be
    // found whole in the name of anything an event leaves behind.
    std::string Name() const {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        return "VarnexTest." + std::to_string(::getpid()) + "." +
               std::to_string(std::hash<std::string>{}(test) % 1000000);
    }

    // Once every handle is closed, an event leaves nothing behind, in the runtime directory or elsewhere.
    void TearDown() override {
        EXPECT_EQ(ShmEntriesNaming(Name()), 0);
        EXPECT_TRUE(std::filesystem::is_empty(runtime_.Path()));
    }

    ScopedRuntimeDirectory runtime_;
};

// Runs `body` in a child process and returns its exit code. The child ends without the exit steps of a
// program, as a crashed one does.
template <typename Body> int InChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same, but the child ends as a program does, through exit().
template <typename Body> int InChildExiting(Body body) {
    std::fflush(nullptr); // or the child would write the parent's buffered output a second time
    const pid_t child = ::fork();
    if (child == 0) {
        std::exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST_F(NamedEventTest, FirstCreateMakesTheEventAndSecondOpensIt) {
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, Name().c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, Name().c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "created not signalled";
    EXPECT_TRUE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0) << "both handles reach one event";
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
}

TEST_F(NamedEventTest, AutomaticResetReleasesOneWaitPerSignal) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, Name().c_str());
    ASSERT_NE(event, nullptr);
    SetEvent(event);
    SetEvent(event); // an event is signalled or not; a second SetEvent adds nothing
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST_F(NamedEventTest, ManualResetStaysSignalledUntilReset) {
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, Name().c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST_F(NamedEventTest, OpeningKeepsTheCreatorsResetModeAndState) {
    HANDLE creator = CreateEventA(nullptr, TRUE, TRUE, Name().c_str());
    HANDLE opener = CreateEventA(nullptr, FALSE, FALSE, Name().c_str());
    ASSERT_NE(opener, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(opener, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(opener, 0), WAIT_OBJECT_0) << "manual reset, as the creator asked";
    CloseHandle(opener);
    CloseHandle(creator);
}

TEST_F(NamedEventTest, EventEndsWithItsLastHandle) {
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, Name().c_str());
    CloseHandle(event);
    HANDLE again = CreateEventA(nullptr, FALSE, FALSE, Name().c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT) << "a fresh event, not the old signalled one";
    CloseHandle(again);
}

TEST_F(NamedEventTest, AnotherProcessOpensTheSameEventAndSignalsIt) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, Name().c_str());
    ASSERT_NE(event, nullptr);
    const std::string name = Name();
    const int childResult = InChild([&] {
        HANDLE opened = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
        if (!opened || GetLastError() != ERROR_ALREADY_EXISTS) {
            return 1;
        }
        return SetEvent(opened) ? 0 : 2;
    });
    EXPECT_EQ(childResult, 0);
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST_F(NamedEventTest, EventOfAProcessThatDiedWithoutClosingIsGone) {
    const std::string name = Name();
    const int childResult = InChild([&] {
        HANDLE event = CreateEventA(nullptr, TRUE, TRUE, name.c_str());
        return event && GetLastError() == ERROR_SUCCESS ? 0 : 1; // exits with the handle open
    });
    ASSERT_EQ(childResult, 0);
    EXPECT_EQ(ShmEntriesNaming(name), 0);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST_F(NamedEventTest, AProgramThatEndsWithHandlesOpenLeavesNothingBehind) {
    const std::string name = Name();
    const int shmBefore = ShmEntriesNaming(name);
    const int childResult = InChildExiting([&] {
        HANDLE first = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
        HANDLE second = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
        return first && second ? 0 : 1; // as the list window does: never closed
    });
    EXPECT_EQ(childResult, 0);
    EXPECT_EQ(ShmEntriesNaming(name), shmBefore);
    EXPECT_TRUE(std::filesystem::is_empty(runtime_.Path()));
    HANDLE again = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the event ended with the program";
    CloseHandle(again);
}

TEST_F(NamedEventTest, AProgramThatEndsDoesNotEndAnEventAnotherStillHolds) {
    HANDLE held = CreateEventA(nullptr, FALSE, FALSE, Name().c_str());
    ASSERT_NE(held, nullptr);
    const std::string name = Name();
    const int childResult = InChildExiting([&] {
        HANDLE opened = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
        return opened && GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1;
    });
    EXPECT_EQ(childResult, 0);
    EXPECT_TRUE(SetEvent(held));
    HANDLE opened = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0) << "still the event this process holds";
    CloseHandle(opened);
    CloseHandle(held);
}

TEST_F(NamedEventTest, HandleLeftOpenKeepsTheEventForLaterCreates) {
    // The precursor window creates its event on every double-click and never closes the handle.
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, "WaitForCombine");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    std::vector<HANDLE> later;
    for (int click = 0; click < 3; ++click) {
        later.push_back(CreateEventA(nullptr, FALSE, FALSE, "WaitForCombine"));
        ASSERT_NE(later.back(), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    }
    for (HANDLE handle : later) {
        CloseHandle(handle);
    }
    CloseHandle(first);
}

TEST_F(NamedEventTest, UnnamedEventsAreIndependent) {
    HANDLE first = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    CloseHandle(first);
    CloseHandle(second);
}

TEST_F(NamedEventTest, InvalidAndClosedHandlesFailCleanly) {
    int notAnEvent = 0;
    EXPECT_EQ(WaitForSingleObject(&notAnEvent, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(nullptr));
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, Name().c_str());
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
}

TEST_F(NamedEventTest, NamesWithSlashesAndLongNamesWork) {
    const std::string slashed = "Global\\with/slash/" + Name();
    const std::string longName(300, 'n');
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, slashed.c_str());
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, longName.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "distinct names, distinct events";
    CloseHandle(first);
    CloseHandle(second);
}
