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

UINT CountRun(LPVOID pParam) {
    ++runs;
    return static_cast<UINT>(reinterpret_cast<std::uintptr_t>(pParam));
}

UINT WaitForRelease(LPVOID) {
    while (!release) {
        std::this_thread::sleep_for(1ms);
    }
    return 7;
}

template <class Condition> bool WaitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

DWORD ExitCodeOf(CWinThread* thread) {
    DWORD code = 0;
    return GetExitCodeThread(thread->m_hThread, &code) ? code : 0xDEADBEEF;
}

class WinThread : public ::testing::Test {
protected:
    void SetUp() override {
        runs = 0;
        release = false;
        objectsBefore_ = LiveThreadObjectCount();
        handlesBefore_ = OpenThreadHandleCount();
    }
    int objectsBefore_ = 0;
    int handlesBefore_ = 0;
};

TEST_F(WinThread, SuspendedThreadRunsOnlyAfterResume) {
    CWinThread* thread =
        AfxBeginThread(CountRun, reinterpret_cast<LPVOID>(42), 0, 0, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(ExitCodeOf(thread), STILL_ACTIVE);
    EXPECT_EQ(ResumeThread(thread->m_hThread), 1u);
    ASSERT_TRUE(WaitUntil([&] { return ExitCodeOf(thread) != STILL_ACTIVE; }));
    EXPECT_EQ(ExitCodeOf(thread), 42u);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ResumeThread(thread->m_hThread), 0u);
    delete thread;
}

TEST_F(WinThread, RunningThreadReportsStillActive) {
    CWinThread* thread = AfxBeginThread(WaitForRelease, nullptr, 0, 0, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    thread->ResumeThread();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ExitCodeOf(thread), STILL_ACTIVE);
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return ExitCodeOf(thread) == 7u; }));
    delete thread;
}

TEST_F(WinThread, AutoDeletingThreadReleasesItsObjectAndHandleWhenItEnds) {
    CWinThread* thread = AfxBeginThread(CountRun, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return LiveThreadObjectCount() == objectsBefore_; }));
    EXPECT_EQ(OpenThreadHandleCount(), handlesBefore_);
    EXPECT_EQ(runs, 1);
}

TEST_F(WinThread, ObjectWithoutAutoDeleteOutlivesTheThreadUntilDeleted) {
    CWinThread* thread = AfxBeginThread(CountRun, reinterpret_cast<LPVOID>(3), 0, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    thread->ResumeThread();
    ASSERT_TRUE(WaitUntil([&] { return ExitCodeOf(thread) == 3u; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore_ + 1);
    EXPECT_EQ(OpenThreadHandleCount(), handlesBefore_ + 1);
    const HANDLE handle = thread->m_hThread;
    delete thread;
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore_);
    EXPECT_EQ(OpenThreadHandleCount(), handlesBefore_);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(handle, &code)) << "a closed handle must be refused";
    EXPECT_EQ(ResumeThread(handle), 0xFFFFFFFFu);
}

TEST_F(WinThread, DeletingANeverResumedThreadNeverRunsIt) {
    CWinThread* thread = AfxBeginThread(CountRun, nullptr, 0, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    delete thread;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(OpenThreadHandleCount(), handlesBefore_);
}

TEST_F(WinThread, OwnerMayDeleteTheObjectWhileTheThreadRuns) {
    CWinThread* thread = AfxBeginThread(WaitForRelease, nullptr, 0, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    thread->ResumeThread();
    delete thread;
    release = true;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore_);
}

TEST_F(WinThread, ThreadWithoutProcedureIsNotCreated) {
    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore_);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(nullptr, &code));
}

} // namespace
