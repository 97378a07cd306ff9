// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "model/PrecursorList.h"
#include "progress/ProgressDlg.h"
#include "support/TestApplication.h"

using varnex::system::LiveThreadObjectCount;
using varnex::system::OpenThreadHandleCount;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The first poll comes 500 ms after the dialog opens; allow for a coarse clock, never for less.
constexpr auto kFirstTickAtLeast = 450ms;

std::atomic<bool> releaseWorker{false};
std::atomic<bool> quickWorkerReturned{false};

// A worker that ends at once.
UINT QuickWorker(LPVOID) {
    quickWorkerReturned = true;
    return 0;
}

// A worker that runs until the test lets it end.
UINT HeldWorker(LPVOID) {
    while (!releaseWorker) {
        std::this_thread::sleep_for(2ms);
    }
    return 0;
}

// What a dialog whose worker ends at once does with the worker's thread object and handle.
struct QuickWorkerRun {
    int objectsBefore = LiveThreadObjectCount();
    int handlesBefore = OpenThreadHandleCount();
    int objectsWhileOpen = -1; // once the worker has ended, before the first tick
    int handlesWhileOpen = -1;
    bool releasedByTheTick = false;
};

QuickWorkerRun RunDialogWithQuickWorker() {
    QuickWorkerRun run;
    quickWorkerReturned = false;
    CProgressDlg dialog(nullptr, QuickWorker);
    QTimer::singleShot(100, [&] {
        const auto deadline = Clock::now() + 300ms;
        while (!quickWorkerReturned && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        // An object left to delete itself goes right after its procedure returns.
        while (LiveThreadObjectCount() > run.objectsBefore && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        run.objectsWhileOpen = LiveThreadObjectCount();
        run.handlesWhileOpen = OpenThreadHandleCount();
        if (run.objectsWhileOpen == run.objectsBefore) {
            dialog.m_pThread = nullptr; // gone already: the tick must not use it
        }
    });
    dialog.DoModal();
    run.releasedByTheTick = dialog.m_pThread == nullptr;
    return run;
}

// Found once: when thread objects delete themselves as their worker ends, the next tick of every dialog
// would use a deleted object and crash the test binary. Then only the test of the thread object's life
// fails, and the other dialog tests are skipped.
bool ThreadObjectsOutliveTheirWorker() {
    static const bool outlive = [] {
        const QuickWorkerRun run = RunDialogWithQuickWorker();
        return run.objectsWhileOpen == run.objectsBefore + 1;
    }();
    return outlive;
}

class ProgressDialog : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        if (!ThreadObjectsOutliveTheirWorker()) {
            GTEST_SKIP() << "the worker's thread object deletes itself (see ProgressDialogThread)";
        }
        releaseWorker = false;
        objectsBefore_ = LiveThreadObjectCount();
        handlesBefore_ = OpenThreadHandleCount();
    }
    void TearDown() override { releaseWorker = true; }

    int objectsBefore_ = 0;
    int handlesBefore_ = 0;
};

TEST(ProgressDialogThread, ObjectAndHandleAreReleasedByTheClosingTickNotTheDestructor) {
    TestApplication();
    const QuickWorkerRun run = RunDialogWithQuickWorker();
    // The worker ended long before the tick: without auto-delete its object waited for the dialog.
    EXPECT_EQ(run.objectsWhileOpen, run.objectsBefore + 1);
    EXPECT_EQ(run.handlesWhileOpen, run.handlesBefore + 1);
    // Released before the dialog object goes.
    EXPECT_TRUE(run.releasedByTheTick);
    EXPECT_EQ(LiveThreadObjectCount(), run.objectsBefore);
    EXPECT_EQ(OpenThreadHandleCount(), run.handlesBefore);
}

TEST_F(ProgressDialog, WorkerThatEndsAtOnceKeepsTheDialogUpUntilTheFirstTick) {
    CPrecursorList list;
    list.SetRawPath("/nonexistent/varnex/data.mzML");
    CProgressDlg dialog;
    dialog.m_pPrecursorList = &list;
    const auto start = Clock::now();
    EXPECT_EQ(dialog.DoModal(), 0);
    EXPECT_GE(Clock::now() - start, kFirstTickAtLeast);
    EXPECT_EQ(list.m_Precursors.GetSize(), 0);
}

TEST_F(ProgressDialog, LongWorkerKeepsTheDialogUpAcrossTicks) {
    CProgressDlg dialog(nullptr, HeldWorker);
    bool visibleAfterTwoTicks = false;
    QTimer::singleShot(1200, [&] { visibleAfterTwoTicks = dialog.isVisible(); });
    QTimer::singleShot(1300, [] { releaseWorker = true; });
    const auto start = Clock::now();
    EXPECT_EQ(dialog.DoModal(), 0);
    EXPECT_TRUE(visibleAfterTwoTicks);
    EXPECT_GE(Clock::now() - start, 1300ms);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore_);
}

// Records when the dialog's timer ticks.
class TickRecorder final : public QObject {
public:
    explicit TickRecorder(QObject& dialog) { dialog.installEventFilter(this); }
    std::vector<Clock::time_point> ticks;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            ticks.push_back(Clock::now());
        }
        return false;
    }
};

TEST_F(ProgressDialog, PollsEveryHalfSecond) {
    CProgressDlg dialog(nullptr, HeldWorker);
    TickRecorder recorder(dialog);
    QTimer::singleShot(2300, [] { releaseWorker = true; });
    const auto start = Clock::now();
    EXPECT_EQ(dialog.DoModal(), 0);
    // Four ticks while the worker is held, the closing one after.
    ASSERT_GE(recorder.ticks.size(), 5u);
    const auto first = recorder.ticks.front() - start;
    EXPECT_GE(first, kFirstTickAtLeast);
    EXPECT_LE(first, 900ms);
    const auto meanPeriod = (recorder.ticks.back() - recorder.ticks.front()) / (recorder.ticks.size() - 1);
    EXPECT_GE(meanPeriod, 450ms);
    EXPECT_LE(meanPeriod, 650ms);
}

TEST_F(ProgressDialog, EnterEscapeAndCloseDoNotEndItWhileTheWorkerRuns) {
    CProgressDlg dialog(nullptr, HeldWorker);
    bool visibleAfterKeys = false;
    QTimer::singleShot(100, [&] {
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QTest::keyClick(&dialog, Qt::Key_Return);
        QTest::keyClick(&dialog, Qt::Key_Enter, Qt::KeypadModifier);
        dialog.close();
    });
    QTimer::singleShot(700, [&] {
        visibleAfterKeys = dialog.isVisible();
        releaseWorker = true;
    });
    EXPECT_EQ(dialog.DoModal(), 0);
    EXPECT_TRUE(visibleAfterKeys);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore_);
}

TEST_F(ProgressDialog, ThreadThatCannotBeCreatedStillLetsTheFirstTickCloseIt) {
    CPrecursorList list;
    CProgressDlg dialog(nullptr, nullptr); // AfxBeginThread refuses a thread without a procedure
    dialog.m_pPrecursorList = &list;
    const auto start = Clock::now();
    EXPECT_EQ(dialog.DoModal(), 0);
    EXPECT_GE(Clock::now() - start, kFirstTickAtLeast);
    EXPECT_EQ(dialog.m_pThread, nullptr);
    EXPECT_EQ(LiveThreadObjectCount(), objectsBefore_);
}

TEST_F(ProgressDialog, TemplateShowsOnlyTheTextWithoutButtonsOrCloseBox) {
    CProgressDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "Varnex");
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(dialog.findChildren<QPushButton*>().isEmpty());
    const auto labels = dialog.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front()->text(), "Creating Precursor List . . .");
    // (27, 25) 86 x 13 dialog units; the text may run wider than the template's box, never past the edge.
    const QRect text = labels.front()->geometry();
    EXPECT_EQ(text.topLeft(), QPoint(41, 41));
    EXPECT_EQ(text.height(), 21);
    EXPECT_GE(text.width(), 129);
    EXPECT_GE(text.width(), std::min(labels.front()->sizeHint().width(), 213 - 41));
    EXPECT_LE(text.right(), 212);
    EXPECT_EQ(dialog.size(), QSize(213, 114)); // 142 x 70 dialog units
}

TEST(BuildThreadProc, NullListEndsWithAllBitsSet) {
    EXPECT_EQ(BuildThreadProc(nullptr), 0xFFFFFFFFu);
}

// The list the worker fills is read by the user-interface thread once the dialog has closed; under
// ThreadSanitizer this proves the hand-over at the thread's end.
TEST_F(ProgressDialog, RunProgressDialogBuildsTheListBehindTheDialog) {
    CPrecursorList list;
    list.SetRawPath(VARNEX_SOURCE_DIR "/data/sample.mzML");
    RunProgressDialog(&list);
    ASSERT_EQ(list.m_Precursors.GetSize(), 210);
    EXPECT_GT(list.m_Precursors.GetAt(0).m_fSetMass, 0.0f);
}

} // namespace
