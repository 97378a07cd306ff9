// SPDX-License-Identifier: GPL-3.0-or-later
// How real and generated data sets map onto functions and scans: function counts, scan counts,
// retention times in minutes and set masses, checked against values read off the XML by hand.

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "rawdata/MsRun.h"
#include "rawdata/RawData.h"
#include "support/RawTestFiles.h"

using varnex::rawdata::MsRun;
using varnex::rawdata::ScanInfo;

namespace {

std::shared_ptr<const MsRun> OpenOrFail(const std::string& path) {
    std::string error;
    auto run = MsRun::Open(path, &error);
    EXPECT_TRUE(run) << path << ": " << error;
    return run;
}

std::vector<std::size_t> ScanCounts(const MsRun& run) {
    std::vector<std::size_t> counts;
    for (int f = 1; f <= run.FunctionCount(); ++f) {
        counts.push_back(run.ScansOfFunction(f).size());
    }
    return counts;
}

const ScanInfo& ScanAt(const MsRun& run, int function, int scan) {
    return run.Scans()[run.ScansOfFunction(function).at(static_cast<std::size_t>(scan - 1))];
}

std::string IdAt(const MsRun& run, int function, int scan) {
    return run.NativeId(run.ScansOfFunction(function).at(static_cast<std::size_t>(scan - 1)));
}

// Statistics as the builder reads them: through the record and the scan functions.
struct BoundaryStats {
    float rtMinutes;
    float setMass;
};

BoundaryStats ReadStats(const std::string& path, int function, std::uint32_t scan) {
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, path.c_str());
    record.SetInt16(RawPathRecord::kOffsetFunction, static_cast<std::int16_t>(function));
    record.SetInt32(RawPathRecord::kOffsetProcess, 1);
    record.SetInt32(RawPathRecord::kOffsetScanCount, static_cast<std::int32_t>(DmRawScansInFunction(record)));
    ScanStatsRecord stats{};
    EXPECT_EQ(DmRawReadScanStatsVB(record, scan, 0, stats), 1);
    return {stats.GetFloat(ScanStatsRecord::kOffsetRetentionTime),
            stats.GetFloat(ScanStatsRecord::kOffsetSetMass)};
}

} // namespace

TEST(FunctionMapping, CycleExperimentIdsGiveOneFunctionPerExperiment) {
    SKIP_WITHOUT_SHARED_DATA();
    const std::string path = rawtest::SharedFile("sciex_TripleTOF6600_PestMix1_DDA.mzML");
    const auto run = OpenOrFail(path);
    ASSERT_TRUE(run);
    EXPECT_EQ(ScanCounts(*run), (std::vector<std::size_t>{46, 41, 36, 34, 28, 21, 19, 17, 17}));
    // Retention times are stored in seconds there.
    EXPECT_NEAR(ScanAt(*run, 1, 1).rtMinutes, 430.017 / 60.0, 1e-9);
    EXPECT_NEAR(ScanAt(*run, 2, 1).rtMinutes, 430.14 / 60.0, 1e-9);
    // Only an isolation window target, no selected ion.
    EXPECT_DOUBLE_EQ(ScanAt(*run, 2, 1).SetMass(), 132.04403542171);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 1, 1).SetMass(), 0.0);
    const BoundaryStats stats = ReadStats(path, 2, 1);
    EXPECT_FLOAT_EQ(stats.rtMinutes, static_cast<float>(430.14 / 60.0));
    EXPECT_FLOAT_EQ(stats.setMass, 132.04403542171f);
}

TEST(FunctionMapping, ScanNumberedIdsGiveOneFunctionPerMsLevel) {
    SKIP_WITHOUT_SHARED_DATA();
    const auto run = OpenOrFail(rawtest::SharedFile("thermo_LTQVelos_090701-unittest-01.mzML"));
    ASSERT_TRUE(run);
    EXPECT_FALSE(run->UsedIndex()); // not indexed
    EXPECT_EQ(ScanCounts(*run), (std::vector<std::size_t>{44, 28, 13}));
    EXPECT_EQ(IdAt(*run, 2, 1), "controllerType=0 controllerNumber=1 scan=4");
    EXPECT_NEAR(ScanAt(*run, 2, 1).rtMinutes, 0.010931666667, 1e-12);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 2, 1).SetMass(), 433.192138671875);
    EXPECT_EQ(IdAt(*run, 1, 44), "controllerType=0 controllerNumber=1 scan=99");
    EXPECT_EQ(run->FunctionDescription(3).substr(0, 7), "MS3 CID");
}

TEST(FunctionMapping, GzipCompressedMzmlIsReadInFull) {
    SKIP_WITHOUT_SHARED_DATA();
    const std::string path = rawtest::SharedFile("bruker_timsTOF_ddaPASEF_8B8egg_244.mzML.gz");
    const auto run = OpenOrFail(path);
    ASSERT_TRUE(run);
    EXPECT_EQ(ScanCounts(*run), (std::vector<std::size_t>{2, 101}));
    // The isolation target wins over the selected ion.
    const ScanInfo& first = ScanAt(*run, 2, 1);
    EXPECT_DOUBLE_EQ(first.SetMass(), 1367.754738506241);
    EXPECT_DOUBLE_EQ(first.selectedIonMz, 1366.925606891346);
    EXPECT_NEAR(first.rtMinutes, 1960.077449503701 / 60.0, 1e-9);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 2, 101).SetMass(), 915.40754537863);
    // Every spectrum decodes, the last one too (random access into the compressed stream).
    for (std::size_t i = run->Scans().size(); i-- > 0;) {
        EXPECT_TRUE(run->Decode(i)) << i;
    }
}

TEST(FunctionMapping, MzxmlScansMapByMsLevel) {
    SKIP_WITHOUT_SHARED_DATA();
    const auto run = OpenOrFail(rawtest::SharedFile("thermo_test2.mzXML"));
    ASSERT_TRUE(run);
    EXPECT_EQ(ScanCounts(*run), (std::vector<std::size_t>{2, 3}));
    EXPECT_EQ(IdAt(*run, 2, 1), "scan=12664");
    EXPECT_NEAR(ScanAt(*run, 2, 1).rtMinutes, 4201.26 / 60.0, 1e-9);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 2, 1).SetMass(), 564.34021);
    EXPECT_EQ(ScanAt(*run, 2, 3).charge, 3);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 2, 3).SetMass(), 504.5991516);
}

TEST(FunctionMapping, NestedMzxmlScansWithStaleIndexOffset) {
    SKIP_WITHOUT_SHARED_DATA();
    // Its index offset points past the end of the file; the MS/MS scan is nested in the survey scan.
    const auto run = OpenOrFail(rawtest::SharedFile("thermo_LCQDeca_pyteomics_test.mzXML"));
    ASSERT_TRUE(run);
    EXPECT_FALSE(run->UsedIndex());
    EXPECT_EQ(ScanCounts(*run), (std::vector<std::size_t>{1, 1}));
    EXPECT_NEAR(ScanAt(*run, 2, 1).rtMinutes, 356.68 / 60.0, 1e-9);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 2, 1).SetMass(), 445.35);
    const auto survey = run->Decode(run->ScansOfFunction(1)[0]);
    const auto msms = run->Decode(run->ScansOfFunction(2)[0]);
    ASSERT_TRUE(survey && msms);
    EXPECT_EQ(survey->mz.size(), 1313u);
    EXPECT_EQ(msms->mz.size(), 43u);
}

TEST(FunctionMapping, DescriptionsReadLikeMethodLines) {
    SKIP_WITHOUT_SHARED_DATA();
    const auto negative = OpenOrFail(rawtest::SharedFile("thermo_Lumos_negative_GUACUG_sliced.mzML"));
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->FunctionDescription(1), "MS1 350-2000 -");
    EXPECT_DOUBLE_EQ(ScanAt(*negative, 2, 1).SetMass(), 624.0);
    EXPECT_EQ(ScanAt(*negative, 2, 1).charge, 3);

    const auto sample = OpenOrFail(rawtest::SamplePath());
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->FunctionDescription(1), "MS1 350-1800 +");
    EXPECT_EQ(sample->FunctionDescription(2), "MS2 HCD 100-2000 +");
    EXPECT_EQ(sample->FunctionDescription(3), "MS2 CID 100-2000 +");
    EXPECT_EQ(sample->FunctionDescription(4), "MS2 HCD 150-2000 +");
    EXPECT_EQ(sample->FunctionDescription(5), "");

    CDMRawDatafile file;
    ASSERT_NE(file.Open(rawtest::SamplePath().c_str(), 0), 0);
    CDatafileSampleInfo info;
    ASSERT_NE(file.ReadSampleInfo(info), 0);
    EXPECT_EQ(info.GetNumFunctions(), 4);
    EXPECT_EQ(info.GetFunctionDescription(3), "MS2 CID 100-2000 +");
    EXPECT_EQ(info.GetFunctionDescription(0), "");
}

TEST(FunctionMapping, CombinedActivationIsNamedAsOne) {
    SKIP_WITHOUT_SHARED_DATA();
    const auto run = OpenOrFail(rawtest::SharedFile("thermo_Fusion_sliced_ethcd.mzML"));
    ASSERT_TRUE(run);
    std::vector<std::string> activations;
    for (const ScanInfo& scan : run->Scans()) {
        activations.push_back(scan.activation);
    }
    EXPECT_NE(std::find(activations.begin(), activations.end(), "EThcD"), activations.end());
    EXPECT_NE(std::find(activations.begin(), activations.end(), "HCD"), activations.end());
}

TEST(FunctionMapping, BundledSampleUsesFunctionNumberedIds) {
    const std::string path = rawtest::SamplePath();
    const auto run = OpenOrFail(path);
    ASSERT_TRUE(run);
    EXPECT_TRUE(run->UsedIndex());
    EXPECT_EQ(ScanCounts(*run), (std::vector<std::size_t>{70, 171, 171, 177}));
    EXPECT_DOUBLE_EQ(ScanAt(*run, 1, 1).rtMinutes, 0.0);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 2, 1).rtMinutes, 0.005);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 2, 1).SetMass(), 694.8485);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 4, 177).rtMinutes, 1.409);
    EXPECT_DOUBLE_EQ(ScanAt(*run, 4, 177).SetMass(), 929.51346);
    const BoundaryStats last = ReadStats(path, 4, 177);
    EXPECT_FLOAT_EQ(last.rtMinutes, 1.409f);
    EXPECT_FLOAT_EQ(last.setMass, 929.51346f);
}

TEST(FunctionMapping, GeneratedFunctionFileMatchesItsTruth) {
    SKIP_WITHOUT_GENERATOR();
    const std::string truthPath = (rawtest::TempDir() / "fn-truth.tsv").string();
    const std::string path = rawtest::Generated(
        "fn-truth.mzML", std::string(rawtest::kFunctionArgs) + " --rt-seconds --truth '" + truthPath + "'");
    ASSERT_FALSE(path.empty());
    const auto run = OpenOrFail(path);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->FunctionCount(), 4);
    // Truth columns: index, id, rt_s, ms1_index, isolation_target_mz, ...
    std::ifstream truth(truthPath);
    std::string line;
    std::getline(truth, line);
    std::map<std::string, std::pair<double, double>> expected;
    while (std::getline(truth, line)) {
        std::istringstream fields(line);
        std::string index, id, rt, ms1, target;
        std::getline(fields, index, '\t');
        std::getline(fields, id, '\t');
        std::getline(fields, rt, '\t');
        std::getline(fields, ms1, '\t');
        std::getline(fields, target, '\t');
        expected[id] = {std::stod(rt) / 60.0, std::stod(target)};
    }
    ASSERT_FALSE(expected.empty());
    std::size_t checked = 0;
    for (int f = 2; f <= 4; ++f) {
        int scanNumber = 0;
        for (const std::size_t index : run->ScansOfFunction(f)) {
            const ScanInfo& scan = run->Scans()[index];
            EXPECT_EQ(scan.scanNumber, ++scanNumber);
            const std::string id = run->NativeId(index);
            const auto it = expected.find(id);
            ASSERT_NE(it, expected.end()) << id;
            EXPECT_NEAR(scan.rtMinutes, it->second.first, 1e-4);
            EXPECT_NEAR(scan.SetMass(), it->second.second, 1e-5);
            ++checked;
        }
    }
    EXPECT_EQ(checked, expected.size());
}
