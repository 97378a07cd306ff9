// SPDX-License-Identifier: GPL-3.0-or-later
// A double-click in the list window over the bundled sample, carried through the host link to a running
// host display: what the displays then hold is checked against the data set, read here on its own, and
// against the sample's ground truth.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "host/DisplayViews.h"
#include "host/HostDisplayService.h"
#include "rawdata/MsRun.h"
#include "support/RegistryTestSupport.h"
#include "support/SampleTruth.h"
#include "support/TestHost.h"

using varnex::host::ChromatogramState;
using varnex::host::ChromatogramTrace;
using varnex::host::CombineTolerance;
using varnex::host::ExtractedIonTrace;
using varnex::host::HostDisplayService;
using varnex::host::HostDisplayState;
using varnex::host::HostWindow;
using varnex::host::PeakData;
using varnex::host::SpectrumPanel;
using varnex::host::SpectrumState;
using varnex::host::SpectrumView;

namespace {

using varnex::rawdata::MsRun;
using varnex::rawdata::Spectrum;

const std::string kSample = VARNEX_SOURCE_DIR "/data/sample.mzML";

// The first run of `function` with `scanCount` scans whose survey scan is `minimumSurveyScan` or later.
SampleTruthRun FindRun(const std::vector<SampleTruthRun>& runs, int function, int scanCount,
                       int minimumSurveyScan) {
    for (const SampleTruthRun& run : runs) {
        if (run.function == function && run.lastScan - run.firstScan + 1 == scanCount &&
            run.surveyScan >= minimumSurveyScan) {
            return run;
        }
    }
    ADD_FAILURE() << "the sample has no such run";
    return {};
}

// Checks a combined centroid spectrum against the scans it was made from, without repeating how the
// host merges: every scan peak must lie within the tolerance of the combined peak nearest to it, and
// the peaks that fall to one combined peak must add up to its intensity and weigh out to its m/z.
void ExpectSumOfScans(const PeakData& combined, const std::vector<std::shared_ptr<const Spectrum>>& scans) {
    ASSERT_FALSE(combined.mz.empty());
    ASSERT_TRUE(std::is_sorted(combined.mz.begin(), combined.mz.end()));
    const CombineTolerance tolerance;
    std::vector<double> intensity(combined.mz.size(), 0.0);
    std::vector<double> weightedMz(combined.mz.size(), 0.0);
    std::size_t largestScan = 0;
    std::size_t pooled = 0;
    double inputTotal = 0.0;
    for (const auto& scan : scans) {
        largestScan = std::max(largestScan, scan->mz.size());
        pooled += scan->mz.size();
        for (std::size_t i = 0; i < scan->mz.size(); ++i) {
            const double mz = scan->mz[i];
            const auto above = std::lower_bound(combined.mz.begin(), combined.mz.end(), mz);
            auto nearest = above;
            if (above == combined.mz.end() ||
                (above != combined.mz.begin() && mz - above[-1] < *above - mz)) {
                nearest = above - 1;
            }
            EXPECT_LE(std::abs(*nearest - mz), tolerance.At(mz)) << "scan peak at m/z " << mz;
            const auto k = static_cast<std::size_t>(nearest - combined.mz.begin());
            intensity[k] += scan->intensity[i];
            weightedMz[k] += scan->intensity[i] * mz;
            inputTotal += scan->intensity[i];
        }
    }
    EXPECT_GE(combined.mz.size(), largestScan);
    EXPECT_LE(combined.mz.size(), pooled);
    for (std::size_t k = 0; k < combined.mz.size(); ++k) {
        EXPECT_NEAR(combined.intensity[k], intensity[k], 1e-9 * intensity[k])
            << "peak at m/z " << combined.mz[k];
        if (intensity[k] > 0.0) {
            EXPECT_NEAR(combined.mz[k], weightedMz[k] / intensity[k], 1e-9 * combined.mz[k]);
        }
    }
    const double combinedTotal = std::accumulate(combined.intensity.begin(), combined.intensity.end(), 0.0);
    EXPECT_NEAR(combinedTotal, inputTotal, 1e-9 * inputTotal);
}

class HostDisplayEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        truth_ = ReadSampleTruth();
        ASSERT_EQ(truth_.size(), 210u);
        reader_ = MsRun::OpenUncached(kSample); // not the host's cached copy
        ASSERT_NE(reader_, nullptr);
        dialog_.LoadRawData(kSample);
        ASSERT_EQ(dialog_.GetPrecursorCount(), 210);
        std::string error;
        ASSERT_TRUE(service_.Start(error)) << error;
    }

    // The list row showing the precursor of `run` (the window orders the rows itself).
    int RowOf(const SampleTruthRun& run) {
        for (int row = 0; row < dialog_.GetPrecursorCount(); ++row) {
            const CPrecursor precursor = dialog_.m_precursorList.m_Precursors.GetAt(row);
            if (precursor.m_nFunction == run.function && precursor.m_nFirstScan == run.firstScan) {
                return row;
            }
        }
        ADD_FAILURE() << "no row for function " << run.function << " scan " << run.firstScan;
        return -1;
    }

    // Double-clicks the row with the mouse, as a user does, once it is scrolled into view.
    void DoubleClickRow(int row) {
        QTableView* view = dialog_.m_listCtrl.GetView();
        const QModelIndex index = view->model()->index(row, 2);
        view->scrollTo(index);
        ui_test::ProcessEvents();
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        ui_test::ProcessEvents();
    }

    // Double-clicks each run's row in turn, then waits until the host has carried out every command
    // and its window shows the outcome.
    std::shared_ptr<const HostDisplayState> ShowInHost(const std::vector<SampleTruthRun>& runs) {
        ui_test::RunWindow(dialog_, [&] {
            for (const SampleTruthRun& run : runs) {
                DoubleClickRow(RowOf(run));
            }
        });
        const unsigned long long revision = 8 * runs.size();
        if (!service_.WaitForRevision(revision, std::chrono::seconds(20))) {
            ADD_FAILURE() << "the host did not carry out " << revision << " commands";
            return nullptr;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            QApplication::processEvents();
            const auto shown = service_.Window()->ShownState();
            if (shown && shown->revision >= revision) {
                break;
            }
        }
        const auto state = service_.LatestState();
        EXPECT_EQ(state->revision, revision) << "a double-click sends eight commands";
        return state;
    }

    std::vector<double> Rt(int function) const {
        std::vector<double> rtMinutes;
        for (const std::size_t index : reader_->ScansOfFunction(function)) {
            rtMinutes.push_back(reader_->Scans()[index].rtMinutes);
        }
        return rtMinutes;
    }

    // The trace must have one point per scan of its function, at the scan's time, with the sum of the
    // scan's intensities.
    void ExpectTicOf(const ChromatogramTrace& trace, int function) const {
        const auto& indexes = reader_->ScansOfFunction(function);
        ASSERT_EQ(trace.function, function);
        EXPECT_NE(trace.label.find("TIC function " + std::to_string(function)), std::string::npos)
            << trace.label;
        ASSERT_EQ(trace.rtMinutes.size(), indexes.size());
        ASSERT_EQ(trace.intensity.size(), indexes.size());
        EXPECT_EQ(trace.rtMinutes, Rt(function));
        for (std::size_t i = 0; i < indexes.size(); ++i) {
            const auto spectrum = reader_->Decode(indexes[i]);
            ASSERT_NE(spectrum, nullptr);
            const double sum = std::accumulate(spectrum->intensity.begin(), spectrum->intensity.end(), 0.0);
            EXPECT_GT(trace.intensity[i], 0.0);
            EXPECT_NEAR(trace.intensity[i], sum, 1e-5 * sum) << "function " << function << " point " << i;
        }
    }

    int ScanCountInTruth(int function) const {
        int count = 0;
        for (const SampleTruthRun& run : truth_) {
            if (run.function == function) {
                count = std::max(count, run.lastScan);
            }
        }
        return count;
    }

    void ExpectShows(const HostDisplayState& state, const SampleTruthRun& run) const {
        EXPECT_FALSE(state.lastCommandFailed) << state.status;

        // Chromatogram display: the TIC of the precursor's function, then of the survey function.
        const ChromatogramState& chromatogram = state.chromatogram;
        ASSERT_EQ(chromatogram.traces.size(), 2u);
        ExpectTicOf(chromatogram.traces[0], run.function);
        ExpectTicOf(chromatogram.traces[1], 1);
        EXPECT_EQ(chromatogram.traces[0].rtMinutes.size(),
                  static_cast<std::size_t>(ScanCountInTruth(run.function)));
        EXPECT_EQ(chromatogram.traces[1].rtMinutes.size(), 70u) << "the sample's survey scans";
        ASSERT_TRUE(chromatogram.pointer.has_value());
        EXPECT_EQ(chromatogram.pointer->surveyScan, run.surveyScan);
        EXPECT_NEAR(chromatogram.pointer->rtMinutes, run.surveyRtMinutes, 1e-7);
        EXPECT_EQ(chromatogram.pointer->rtMinutes, Rt(1)[static_cast<std::size_t>(run.surveyScan) - 1]);

        // Beside the traces, the survey function's chromatogram of the set mass (the sample's survey
        // scans are high-resolution centroids: 10 ppm), read here straight from the data set, with the
        // run's MS/MS scans marked.
        ASSERT_TRUE(chromatogram.xic.has_value());
        const ExtractedIonTrace& xic = *chromatogram.xic;
        EXPECT_NEAR(xic.mz, run.setMass, 1e-9);
        EXPECT_NE(xic.label.find("\u00b1 10 ppm"), std::string::npos) << xic.label;
        EXPECT_EQ(xic.rtMinutes, Rt(1));
        const auto& surveyScans = reader_->ScansOfFunction(1);
        ASSERT_EQ(xic.intensity.size(), surveyScans.size());
        const double halfWidth = run.setMass * 10e-6;
        for (std::size_t k = 0; k < surveyScans.size(); ++k) {
            const auto survey = reader_->Decode(surveyScans[k]);
            ASSERT_NE(survey, nullptr);
            double expected = 0.0;
            for (std::size_t i = 0; i < survey->mz.size(); ++i) {
                if (std::abs(survey->mz[i] - run.setMass) <= halfWidth) {
                    expected += survey->intensity[i];
                }
            }
            EXPECT_NEAR(xic.intensity[k], expected, 1e-6 * expected + 1e-9) << "survey scan " << k + 1;
        }
        EXPECT_GT(xic.intensity[static_cast<std::size_t>(run.surveyScan) - 1], 0.0);
        std::vector<double> marked;
        for (int scan = run.firstScan; scan <= run.lastScan; ++scan) {
            marked.push_back(Rt(run.function)[static_cast<std::size_t>(scan) - 1]);
        }
        EXPECT_EQ(xic.markedRtMinutes, marked);

        // Spectrum display: the data set, the combined MS/MS scans and the survey scan.
        const SpectrumState& spectrum = state.spectrum;
        EXPECT_EQ(spectrum.dataSetPath, kSample);
        EXPECT_NE(spectrum.title.find("sample.mzML"), std::string::npos) << spectrum.title;

        ASSERT_TRUE(spectrum.combined.has_value());
        const SpectrumPanel& combined = *spectrum.combined;
        EXPECT_EQ(combined.function, run.function);
        EXPECT_EQ(combined.firstScan, run.firstScan);
        EXPECT_EQ(combined.lastScan, run.lastScan);
        EXPECT_NEAR(combined.precursorMz, run.setMass, 1e-9);
        char setMass[32];
        std::snprintf(setMass, sizeof(setMass), "%.4f", run.setMass);
        EXPECT_EQ(combined.title, "Combined scans " + std::to_string(run.firstScan) + "\u2013" +
                                      std::to_string(run.lastScan) + " of function " +
                                      std::to_string(run.function) + ", precursor m/z " + setMass);
        EXPECT_TRUE(combined.peaks.centroid);
        std::vector<std::shared_ptr<const Spectrum>> scans;
        const auto& msms = reader_->ScansOfFunction(run.function);
        for (int scan = run.firstScan; scan <= run.lastScan; ++scan) {
            scans.push_back(reader_->Decode(msms.at(static_cast<std::size_t>(scan) - 1)));
            ASSERT_NE(scans.back(), nullptr);
        }
        ASSERT_GE(scans.size(), 2u);
        ExpectSumOfScans(combined.peaks, scans);

        ASSERT_EQ(spectrum.added.size(), 1u) << "the clear before the combine leaves only this survey scan";
        const SpectrumPanel& survey = spectrum.added[0];
        EXPECT_EQ(survey.function, 1);
        EXPECT_EQ(survey.firstScan, run.surveyScan);
        EXPECT_EQ(survey.title.rfind("Survey scan " + std::to_string(run.surveyScan) + ",", 0), 0u)
            << survey.title;
        const auto surveySpectrum = reader_->Decode(reader_->ScansOfFunction(1).at(run.surveyScan - 1));
        ASSERT_NE(surveySpectrum, nullptr);
        EXPECT_EQ(survey.peaks.mz, surveySpectrum->mz);
        EXPECT_EQ(survey.peaks.intensity, surveySpectrum->intensity);
        ASSERT_TRUE(survey.markerMz.has_value());
        EXPECT_NEAR(*survey.markerMz, run.setMass, 1e-9);
        // The marker sits on the survey peak the instrument selected.
        const auto& mz = survey.peaks.mz;
        const auto nearest = std::min_element(mz.begin(), mz.end(), [&](double a, double b) {
            return std::abs(a - run.setMass) < std::abs(b - run.setMass);
        });
        ASSERT_NE(nearest, mz.end());
        EXPECT_NEAR(*nearest, run.setMass, 1e-4);
        EXPECT_NEAR(survey.peaks.intensity[static_cast<std::size_t>(nearest - mz.begin())],
                    run.selectedHeight, 1e-4 * run.selectedHeight);
    }

    ui_test::ApplicationFirst applicationFirst_;
    registry_test::TempStore store_;
    ScopedRuntimeDirectory runtime_;
    std::vector<SampleTruthRun> truth_;
    std::shared_ptr<const MsRun> reader_;
    CVarnexDlg dialog_;
    HostDisplayService service_;
};

TEST_F(HostDisplayEndToEnd, DoubleClickShowsThePrecursorsTracesAndSpectra) {
    const SampleTruthRun run = FindRun(truth_, 3, 3, 20);
    const auto state = ShowInHost({run});
    ASSERT_NE(state, nullptr);
    ExpectShows(*state, run);

    // The window shows what the commands produced.
    HostWindow* window = service_.Window();
    ASSERT_NE(window->ShownState(), nullptr);
    EXPECT_EQ(window->ShownState()->revision, state->revision);
    // Two TIC traces, the chromatogram of the set mass and the marks of the run's MS/MS scans.
    ASSERT_EQ(window->Chromatogram()->graphCount(), 4);
    EXPECT_EQ(window->Chromatogram()->graph(2)->dataCount(), 70);
    EXPECT_EQ(window->Chromatogram()->graph(3)->dataCount(), run.lastScan - run.firstScan + 1);
    EXPECT_TRUE(window->SpectrumDisplayTitle().contains(QStringLiteral("sample.mzML")));
    EXPECT_EQ(window->CombinedSpectrum()->Title().toStdString(), state->spectrum.combined->title);
    EXPECT_EQ(window->CombinedSpectrum()->graph(0)->dataCount(),
              static_cast<int>(state->spectrum.combined->peaks.mz.size()));
    ASSERT_EQ(window->AddedSpectra().size(), 1);
    EXPECT_EQ(window->AddedSpectra()[0]->Title().toStdString(), state->spectrum.added[0].title);
    EXPECT_FALSE(window->statusBar()->currentMessage().startsWith(QStringLiteral("Error")));

    // The survey TIC is orders of magnitude above the MS/MS one; each is drawn relative to its own
    // maximum so that neither is flattened, and the legend gives that maximum.
    for (int i = 0; i < 2; ++i) {
        const QCPGraph* graph = window->Chromatogram()->graph(i);
        double highest = 0.0;
        for (auto point = graph->data()->constBegin(); point != graph->data()->constEnd(); ++point) {
            highest = std::max(highest, point->value);
        }
        EXPECT_DOUBLE_EQ(highest, 100.0);
        const auto& intensity = state->chromatogram.traces[static_cast<std::size_t>(i)].intensity;
        const double maximum = *std::max_element(intensity.begin(), intensity.end());
        EXPECT_TRUE(graph->name().contains(QString::number(maximum, 'g', 3))) << graph->name().toStdString();
    }

    // On screen the precursor's label stays readable: no peak label covers it or repeats its m/z.
    window->resize(1100, 850);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    SpectrumView* survey = window->AddedSpectra()[0];
    survey->replot();
    const QString markerText = QStringLiteral("precursor m/z %1").arg(run.setMass, 0, 'f', 4);
    const QCPItemText* marker = nullptr;
    QList<const QCPItemText*> peakLabels;
    for (int i = 0; i < survey->itemCount(); ++i) {
        if (const auto* text = qobject_cast<const QCPItemText*>(survey->item(i))) {
            if (text->text() == markerText) {
                marker = text;
            } else {
                peakLabels.push_back(text);
            }
        }
    }
    ASSERT_NE(marker, nullptr);
    EXPECT_GE(peakLabels.size(), 5);
    const auto pixelRect = [](const QCPItemText* text) {
        return QRectF(text->topLeft->pixelPosition(), text->bottomRight->pixelPosition());
    };
    ASSERT_GT(pixelRect(marker).width(), 0.0);
    for (const QCPItemText* label : peakLabels) {
        EXPECT_FALSE(pixelRect(label).intersects(pixelRect(marker))) << label->text().toStdString();
        EXPECT_NE(label->text(), QString::number(run.setMass, 'f', 4));
    }
    window->close();
}

TEST_F(HostDisplayEndToEnd, ASecondDoubleClickReplacesTheFirstPrecursor) {
    const SampleTruthRun first = FindRun(truth_, 3, 3, 20);
    const SampleTruthRun second = FindRun(truth_, 2, 2, 40);
    const auto state = ShowInHost({first, second});
    ASSERT_NE(state, nullptr);
    ExpectShows(*state, second);
}

TEST_F(HostDisplayEndToEnd, PrecursorOfTheFirstSurveyScanPointsAtTheRunsStart) {
    const SampleTruthRun run = FindRun(truth_, 4, 2, 1);
    ASSERT_EQ(run.surveyScan, 1) << "the sample's first runs follow survey scan 1 at 0.0 min";
    const auto state = ShowInHost({run});
    ASSERT_NE(state, nullptr);
    ExpectShows(*state, run);
    EXPECT_EQ(state->chromatogram.pointer->rtMinutes, 0.0);
}

} // namespace
