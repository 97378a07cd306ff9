// SPDX-License-Identifier: GPL-3.0-or-later
#include <numeric>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/HostDisplayModel.h"
#include "rawdata/MsRun.h"

using varnex::host::HostDisplayModel;
using varnex::host::HostDisplayState;
using varnex::host::kMaxIndexedSurveyPoints;
using varnex::host::SpectrumPanel;
using varnex::host::SurveyIonIndex;

namespace {

const std::string kSample = VARNEX_SOURCE_DIR "/data/sample.mzML";

// The precursor of the sample's truth table: function 2, scans 4-5, survey scan 2 at 0.0213333 min,
// set mass 579.53871.
std::vector<std::string> EightCommands(const std::string& path, int surveyScan = 2) {
    const std::string s = std::to_string(surveyScan);
    return {"app.command[chrodisplay:clear]()",
            "app.command[chrodisplay:add](TIC:2)",
            "app.command[chrodisplay:add](TIC:1)",
            "app.command[chrodisplay:setpointer](SCAN:" + s + ")",
            "app.command[specdisplay:DDALaunch](" + path + ")",
            "app.command[specdisplay:clear]()",
            "app.command[specdisplay:combine](4:5:2:" + path + ")",
            "app.command[specdisplay:add](1:" + s + ")"};
}

double SumOfScans(int function, int first, int last) {
    const auto run = varnex::rawdata::MsRun::Open(kSample);
    double sum = 0.0;
    for (int scan = first; scan <= last; ++scan) {
        const auto spectrum = run->Decode(run->ScansOfFunction(function)[scan - 1]);
        sum += std::accumulate(spectrum->intensity.begin(), spectrum->intensity.end(), 0.0);
    }
    return sum;
}

} // namespace

TEST(HostDisplayModel, EightCommandsOfAPrecursorFillBothDisplays) {
    HostDisplayModel model;
    for (const std::string& command : EightCommands(kSample)) {
        EXPECT_TRUE(model.ExecuteText(command)) << command << ": " << model.State().status;
    }
    const HostDisplayState& state = model.State();
    EXPECT_EQ(state.revision, 8u);

    // Chromatogram commands arrive before the data set; the launch fills them in.
    ASSERT_EQ(state.chromatogram.traces.size(), 2u);
    EXPECT_EQ(state.chromatogram.traces[0].function, 2);
    EXPECT_EQ(state.chromatogram.traces[1].function, 1);
    EXPECT_EQ(state.chromatogram.traces[1].rtMinutes.size(), 70u) << "one TIC point per survey scan";
    EXPECT_NE(state.chromatogram.traces[0].label, state.chromatogram.traces[1].label);
    ASSERT_TRUE(state.chromatogram.pointer.has_value());
    EXPECT_EQ(state.chromatogram.pointer->surveyScan, 2);
    EXPECT_NEAR(state.chromatogram.pointer->rtMinutes, 0.0213333, 1e-6);

    EXPECT_EQ(state.spectrum.dataSetPath, kSample);
    EXPECT_NE(state.spectrum.title.find("sample.mzML"), std::string::npos);
    ASSERT_TRUE(state.spectrum.combined.has_value());
    const SpectrumPanel& combined = *state.spectrum.combined;
    EXPECT_NE(combined.title.find("scans 4\u20135 of function 2"), std::string::npos) << combined.title;
    EXPECT_NE(combined.title.find("precursor m/z 579.53"), std::string::npos) << combined.title;
    EXPECT_NEAR(combined.precursorMz, 579.53871, 1e-3);
    const double combinedSum =
        std::accumulate(combined.peaks.intensity.begin(), combined.peaks.intensity.end(), 0.0);
    EXPECT_NEAR(combinedSum, SumOfScans(2, 4, 5), 1e-6 * combinedSum);

    ASSERT_EQ(state.spectrum.added.size(), 1u);
    const SpectrumPanel& survey = state.spectrum.added[0];
    EXPECT_NE(survey.title.find("Survey scan 2"), std::string::npos) << survey.title;
    ASSERT_TRUE(survey.markerMz.has_value());
    EXPECT_NEAR(*survey.markerMz, 579.53871, 1e-3);
    EXPECT_FALSE(survey.peaks.mz.empty());
}

TEST(HostDisplayModel, RepeatedDoubleClicksReplaceRatherThanPileUp) {
    HostDisplayModel model;
    for (int click = 0; click < 3; ++click) {
        for (const std::string& command : EightCommands(kSample)) {
            model.ExecuteText(command);
        }
    }
    EXPECT_EQ(model.State().chromatogram.traces.size(), 2u);
    EXPECT_EQ(model.State().spectrum.added.size(), 1u);
}

TEST(HostDisplayModel, SurveyScanZeroLeavesNoPointerAndReportsTheEmptyAdd) {
    HostDisplayModel model;
    for (const std::string& command : EightCommands(kSample, 0)) {
        model.ExecuteText(command);
    }
    EXPECT_FALSE(model.State().chromatogram.pointer.has_value());
    EXPECT_TRUE(model.State().spectrum.added.empty());
    EXPECT_TRUE(model.State().spectrum.combined.has_value());
    EXPECT_NE(model.State().status.find("No survey scan"), std::string::npos);
}

TEST(HostDisplayModel, BadCommandsAreReportedAndChangeNothing) {
    HostDisplayModel model;
    for (const std::string& command : EightCommands(kSample)) {
        model.ExecuteText(command);
    }
    const std::string combinedTitle = model.State().spectrum.combined->title;

    EXPECT_FALSE(model.ExecuteText("app.command[specdisplay:explode]()"));
    EXPECT_TRUE(model.State().lastCommandFailed);
    EXPECT_NE(model.State().status.find("unknown command"), std::string::npos);

    EXPECT_FALSE(model.ExecuteText("app.command[specdisplay:combine](170:400:2:" + kSample + ")"));
    EXPECT_NE(model.State().status.find("does not exist"), std::string::npos) << model.State().status;
    EXPECT_FALSE(model.ExecuteText("app.command[specdisplay:add](1:71)"));
    EXPECT_FALSE(model.ExecuteText("app.command[chrodisplay:add](TIC:9)"));
    EXPECT_FALSE(model.ExecuteText("app.command[specdisplay:combine](1:5000:2:" + kSample + ")"));
    EXPECT_EQ(model.State().spectrum.combined->title, combinedTitle);
}

TEST(HostDisplayModel, PathThatDoesNotOpenIsReported) {
    HostDisplayModel model;
    EXPECT_FALSE(model.ExecuteText("app.command[specdisplay:DDALaunch](/no/such: file.mzML)"));
    EXPECT_NE(model.State().status.find("Cannot open /no/such: file.mzML"), std::string::npos);
    EXPECT_FALSE(model.ExecuteText("app.command[specdisplay:add](1:2)"));
}

TEST(HostDisplayModel, AFloodOfAddsKeepsTheDisplaysBounded) {
    HostDisplayModel model;
    model.Launch(kSample);
    for (int i = 0; i < 200; ++i) {
        model.ExecuteText("app.command[chrodisplay:add](TIC:1)");
        model.ExecuteText("app.command[specdisplay:add](1:" + std::to_string(1 + i % 70) + ")");
    }
    EXPECT_LE(model.State().chromatogram.traces.size(), 16u);
    EXPECT_LE(model.State().spectrum.added.size(), 8u);
}

// The survey function is decoded in the background from the launch on: data sets launched one after
// another while it is under way each get their own chromatogram, the same as an index built on the spot,
// and a display closed meanwhile stops its decoding instead of waiting for it or leaving it running.
TEST(HostDisplayModel, SurveyFunctionsDecodedInTheBackgroundFollowTheLaunches) {
    const std::string other = VARNEX_SHARED_DATA_DIR "/thermo_LTQVelos_090701-unittest-01.mzML";
    const std::string third = VARNEX_SHARED_DATA_DIR "/thermo_Fusion_CometAdapter_3.mzML";
    {
        HostDisplayModel closedAtOnce;
        closedAtOnce.Launch(third);
    }
    HostDisplayModel model;
    ASSERT_TRUE(model.Launch(third));
    ASSERT_TRUE(model.Launch(other));
    for (int click = 0; click < 2; ++click) {
        for (const std::string& command : EightCommands(kSample)) {
            ASSERT_TRUE(model.ExecuteText(command)) << command << ": " << model.State().status;
        }
        const auto& xic = model.State().chromatogram.xic;
        ASSERT_TRUE(xic.has_value());
        const auto run = varnex::rawdata::MsRun::Open(kSample);
        const auto reference = SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints, 1);
        EXPECT_EQ(xic->intensity, reference->Extract(xic->mz));
        EXPECT_EQ(xic->rtMinutes, reference->RtMinutes());
        // The data sets between the clicks push the sample's survey function out of the two kept.
        ASSERT_TRUE(model.Launch(other));
        ASSERT_TRUE(model.Launch(third));
    }
}
