// SPDX-License-Identifier: GPL-3.0-or-later
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "system/WinThread.h"

using varnex::system::LiveThreadObjectCount;
using varnex::system::OpenThreadHandleCount;

namespace {

using namespace std::chrono_literals;

std::atomic<int> runs{0};
std::atomic<bool> release{false};

UINT countRun(LPVOID pParam) {
    ++runs;
    return static_cast<UINT>(reinterpret_cast<std::uintptr_t>(pParam));
}

UINT waitForRelease(LPVOID) {
    while (!release) {
        std::this_thread::sleep_for(1ms);
    }
    return 7;
}

template <class Condition> bool waitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

DWORD exitCodeOf(CWinThread* thread) {
    DWORD code = 0;
    return GetExitCodeThread(thread->m_hThread, &code) ? code : 0xDEADBEEF;
}

class WinThread : public ::testing::Test {
protected:
    void SetUp() override {
        runs = 0;
        release = false;
        objectsBefore = LiveThreadObjectCount();
        handlesBefore = OpenThreadHandleCount();
    }
    int objectsBefore = 0;
    int handlesBefore = 0;
};

TEST_F(WinThread, SuspendedThreadRunsOnlyAfterResume) {
    CWinThread* thread =
        AfxBeginThread(countRun, reinterpret_cast<LPVOID>(42), 0, 0, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(exitCodeOf(thread), STILL_ACTIVE);
    EXPECT_EQ(ResumeThread(thread->m_hThread), 1u);
    ASSERT_TRUE(waitUntil([&] { return exitCodeOf(thread) != STILL_ACTIVE; }));
    EXPECT_EQ(exitCodeOf(thread), 42u);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ResumeThread(thread->m_hThread), 0u);
    delete thread;
}

TEST_F(WinThread, RunningThreadReportsStillActive) {
    CWinThread* thread = AfxBeginThread(waitForRelease, nullptr, 0, 0, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    thread->ResumeThread();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(exitCodeOf(thread), STILL_ACTIVE);
    release = true;
    ASSERT_TRUE(waitUntil([&] { return exitCodeOf(thread) == 7u; }));
    delete thread;
}

TEST_F(WinThread, AutoDeletingThreadReleasesItsObjectAndHandleWhenItEnds) {
    CWinThread* thread = AfxBeginThread(countRun, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(waitUntil([&] { return LiveThreadObjectCount() == objectsBefore; }));
    EXPECT_EQ(OpenThreadHandleCount(), handlesBefore);
    EXPECT_EQ(runs, 1);
}

TEST_F(WinThread, ObjectWithoutAutoDeleteOutlivesTheThreadUntilDeleted) {
    CWinThread* thread = AfxBeginThread(countRun, reinterpret_cast<LPVOID>(3), 0, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    thread->ResumeThread();
    ASSERT_TRUE(waitUntil([&] { return exitCodeOf(thread) == 3u; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore + 1);
    EXPECT_EQ(OpenThreadHandleCount(), handlesBefore + 1);
    const HANDLE handle = thread->m_hThread;
    delete thread;
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore);
    EXPECT_EQ(OpenThreadHandleCount(), handlesBefore);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(handle, &code)) << "a closed handle must be refused";
    EXPECT_EQ(ResumeThread(handle), 0xFFFFFFFFu);
}

TEST_F(WinThread, DeletingANeverResumedThreadNeverRunsIt) {
    CWinThread* thread = AfxBeginThread(countRun, nullptr, 0, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    delete thread;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(OpenThreadHandleCount(), handlesBefore);
}

TEST_F(WinThread, OwnerMayDeleteTheObjectWhileTheThreadRuns) {
    CWinThread* thread = AfxBeginThread(waitForRelease, nullptr, 0, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    thread->ResumeThread();
    delete thread;
    release = true;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore);
}

TEST_F(WinThread, ThreadWithoutProcedureIsNotCreated) {
    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(nullptr, &code));
}

} // namespace
