// SPDX-License-Identifier: GPL-3.0-or-later
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "WrittenDataSet.h"
#include "model/PrecursorList.h"
#include "model/WorkerPool.h"
#include "rawdata/MsRun.h"
#include "support/MzmlWriter.h"

using varnex::rawdata::MsRun;

using varnex::model::WorkerPool;

namespace {

const std::string kSample = std::string(VARNEX_SOURCE_DIR) + "/data/sample.mzML";

void BuildList(CPrecursorList& list, const std::string& path, unsigned threads) {
    list.SetRawPath(path);
    list.SetWorkerThreads(threads);
    ASSERT_TRUE(list.CreatePrecursorList()) << path;
}

// Every field, floats compared by their bits.
void ExpectSameList(const CPrecursorList& actual, const CPrecursorList& expected, const std::string& what) {
    ASSERT_EQ(actual.m_Precursors.GetSize(), expected.m_Precursors.GetSize()) << what;
    const auto bits = [](float value) { return std::bit_cast<std::uint32_t>(value); };
    for (int i = 0; i < actual.m_Precursors.GetSize(); ++i) {
        const CPrecursor& a = actual.m_Precursors.ElementAt(i);
        const CPrecursor& e = expected.m_Precursors.ElementAt(i);
        SCOPED_TRACE(what + ", precursor " + std::to_string(i));
        ASSERT_EQ(bits(a.m_fSwitchingTime), bits(e.m_fSwitchingTime));
        ASSERT_EQ(a.m_nSurveyScan, e.m_nSurveyScan);
        ASSERT_EQ(bits(a.m_fSetMass), bits(e.m_fSetMass));
        ASSERT_EQ(a.m_nFunction, e.m_nFunction);
        ASSERT_EQ(a.m_strFunctionName, e.m_strFunctionName);
        ASSERT_EQ(a.m_nFirstScan, e.m_nFirstScan);
        ASSERT_EQ(a.m_nLastScan, e.m_nLastScan);
        ASSERT_EQ(bits(a.m_fRetentionTime), bits(e.m_fRetentionTime));
        ASSERT_EQ(a.m_nChargeState, e.m_nChargeState);
        ASSERT_EQ(bits(a.m_fIntensity), bits(e.m_fIntensity));
    }
}

std::vector<std::string> EveryDataSet() {
    std::vector<std::string> paths = {kSample};
    for (const auto& entry : std::filesystem::directory_iterator(VARNEX_SHARED_DATA_DIR)) {
        if (entry.path().filename().string().find(".mz") != std::string::npos) {
            paths.push_back(entry.path().string());
        }
    }
    // The large reference run, where the benchmark data have been written.
    const std::string run60 = std::string(VARNEX_SOURCE_DIR) + "/bench/data/run60.mzML";
    if (std::filesystem::exists(run60)) {
        paths.push_back(run60);
    }
    return paths;
}

} // namespace

TEST(WorkerPool, EveryTaskRunsExactlyOnceWhateverTheThreadCount) {
    for (const unsigned threads : {1u, 2u, 5u}) {
        SCOPED_TRACE(threads);
        // Far more tasks than the queue holds, so that submitting has to wait for room.
        std::vector<std::atomic<int>> runs(2000);
        {
            WorkerPool pool(threads);
            for (std::size_t i = 0; i < runs.size(); ++i) {
                pool.Submit([&runs, i] { runs[i].fetch_add(1); });
            }
            pool.Wait();
            for (std::size_t i = 0; i < runs.size(); ++i) {
                ASSERT_EQ(runs[i].load(), 1) << "task " << i;
            }
            // A pool can be given more work after a wait; its destructor waits for that too.
            pool.Submit([&runs] { runs[0].fetch_add(1); });
        }
        EXPECT_EQ(runs[0].load(), 2);
    }
}

TEST(WorkerPool, OneThreadRunsEachTaskAtOnceOnTheCaller) {
    WorkerPool pool(1);
    EXPECT_EQ(pool.ThreadCount(), 1u);
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) {
        pool.Submit([&order, i] { order.push_back(i); });
        EXPECT_EQ(order.size(), static_cast<std::size_t>(i + 1));
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_GE(WorkerPool(0).ThreadCount(), 1u);
    EXPECT_EQ(WorkerPool(100).ThreadCount(), WorkerPool::kMaxThreads);
}

// The charge-state pass on several threads must give, bit for bit, the list of the one-thread build.
TEST(ParallelBuild, ListIdenticalToTheOneThreadBuildOnEveryDataSet) {
    const auto paths = EveryDataSet();
    ASSERT_GE(paths.size(), 11u);
    for (const std::string& path : paths) {
        CPrecursorList oneThread;
        BuildList(oneThread, path, 1);
        ASSERT_GT(oneThread.m_Precursors.GetSize(), 0) << path;
        for (const unsigned threads : {0u, 3u}) {
            CPrecursorList parallel;
            BuildList(parallel, path, threads);
            ExpectSameList(parallel, oneThread, path + " on " + std::to_string(threads) + " threads");
        }
    }
}

namespace {

class DataSetOpens : public WrittenDataSetTest {
protected:
    void SetUp() override { std::filesystem::copy_file(kSample, path()); }
};

} // namespace

// Regression: every survey spectrum read opened the data set again, looking at the file each time.
TEST_F(DataSetOpens, OneBuildLooksAtTheFileOnce) {
    const MsRun::OpenStatistics before = MsRun::Statistics();
    BuildList(list, path(), 0);
    const MsRun::OpenStatistics after = MsRun::Statistics();
    EXPECT_EQ(list.m_Precursors.GetSize(), 210);
    EXPECT_EQ(after.fileLooks - before.fileLooks, 1u);
    EXPECT_EQ(after.parses - before.parses, 1u);
}

// Regression: a file whose modification time kept changing was parsed again for every survey scan.
TEST_F(DataSetOpens, FileTouchedThroughoutTheBuildIsParsedOnce) {
    CPrecursorList untouched;
    BuildList(untouched, path(), 1);

    std::atomic<bool> stop{false};
    std::atomic<int> touches{0};
    std::thread toucher([&] {
        while (!stop) {
            std::filesystem::last_write_time(path(), std::filesystem::file_time_type::clock::now());
            ++touches;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const MsRun::OpenStatistics before = MsRun::Statistics();
    BuildList(list, path(), 0);
    const MsRun::OpenStatistics after = MsRun::Statistics();
    stop = true;
    toucher.join();
    EXPECT_GT(touches.load(), 0);
    EXPECT_LE(after.parses - before.parses, 1u);
    ExpectSameList(list, untouched, "touched file");
}

TEST_F(DataSetOpens, ChangeMadeAfterABuildIsSeenByTheNextBuild) {
    BuildList(list, path(), 0);
    ASSERT_EQ(list.m_Precursors.GetSize(), 210);
    WriteMzml(path(), {SurveyScan(0.0), MsmsScan(2, 0.01, "500.25"), MsmsScan(2, 0.02, "612.5")});
    CPrecursorList rebuilt;
    BuildList(rebuilt, path(), 0);
    EXPECT_EQ(rebuilt.m_Precursors.GetSize(), 2);
}

// Regression: records were added one at a time under the array's capped growth step, and the charge
// pass copied the whole list out and back in, which made the build quadratic in the precursor count.
TEST_F(WrittenDataSetTest, BuiltListIsSizedOnceForAllItsRuns) {
    std::vector<TestScan> scans = {SurveyScan(0.0)};
    for (int i = 0; i < 3000; ++i) {
        scans.push_back(MsmsScan(2 + i % 2, 0.001 * (i + 1), std::to_string(400 + i % 7)));
    }
    build(scans);
    ASSERT_TRUE(result);
    EXPECT_EQ(list.m_Precursors.GetSize(), 3000);
    EXPECT_EQ(list.m_Precursors.GetCapacity(), 3000);
}
