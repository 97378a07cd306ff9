// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the host's chromatogram and spectrum displays show, kept apart from any widget so that it can be
// driven by commands and inspected without a screen. The chromatogram display belongs to the data set
// the spectrum display launched last: its traces and pointer are kept as requests and computed again
// when DDALaunch brings in a data set, since Varnex sends the chromatogram commands before DDALaunch.
//
// Beside the TIC traces the chromatogram display shows the extracted-ion chromatogram of the precursor
// that the spectrum display combines: its set mass in the survey function, from the scans the combine
// command names. The survey function is decoded once per data set and kept for the next precursor; the
// decoding starts in the background as soon as a data set is opened, so that the first precursor waits
// only for what is left of it.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/SpectrumCombine.h"
#include "host/SurveyIonIndex.h"
#include "hostlink/HostCommand.h"

namespace varnex::rawdata {
class MsRun;
}

namespace varnex::host {

struct ChromatogramTrace {
    int function = 0;  // from 1
    std::string label; // names the function
    std::vector<double> rtMinutes;
    std::vector<double> intensity;
};

// The survey function's chromatogram of one m/z, with the retention times of the MS/MS scans that were
// acquired on it marked.
struct ExtractedIonTrace {
    double mz = 0.0;
    std::string label; // names the m/z and the window
    std::vector<double> rtMinutes;
    std::vector<double> intensity;
    std::vector<double> markedRtMinutes;
};

struct ChromatogramPointer {
    int surveyScan = 0; // from 1
    double rtMinutes = 0.0;
};

struct ChromatogramState {
    std::vector<int> requestedFunctions; // TIC traces asked for, in order
    std::vector<ChromatogramTrace> traces;
    int requestedPointerScan = -1; // -1: no pointer asked for
    std::optional<ChromatogramPointer> pointer;
    std::optional<ExtractedIonTrace> xic;
};

struct SpectrumPanel {
    std::string title;
    int function = 0;
    int firstScan = 0;
    int lastScan = 0;
    double precursorMz = 0.0;       // the MS/MS scans' isolation target; 0 for none
    std::optional<double> markerMz; // survey panels: the precursor's isolation target
    PeakData peaks;
};

struct SpectrumState {
    std::string dataSetPath;
    std::string title; // names the data set
    std::optional<SpectrumPanel> combined;
    std::vector<SpectrumPanel> added; // scans added one by one, each in its own panel
};

struct HostDisplayState {
    ChromatogramState chromatogram;
    SpectrumState spectrum;
    std::string status; // outcome of the last command, for the status line
    bool lastCommandFailed = false;
    unsigned long long revision = 0; // counts executed commands
};

class HostDisplayModel final {
public:
    HostDisplayModel();
    ~HostDisplayModel();
    HostDisplayModel(const HostDisplayModel&) = delete;
    HostDisplayModel& operator=(const HostDisplayModel&) = delete;

    // Parses and carries out one command text; false (with the reason in State().status) when the text
    // is not a command or cannot be carried out. Never throws for bad input.
    bool ExecuteText(std::string_view text);
    bool Execute(const varnex::hostlink::HostCommand& command);
    // Opens a data set for both displays, as DDALaunch does.
    bool Launch(const std::string& path);

    const HostDisplayState& State() const { return state_; }

private:
    bool Fail(std::string message);
    bool Succeed(std::string message);
    bool EnsureDataSet(const std::string& path);
    std::optional<ChromatogramTrace> ComputeTic(int function, std::string& error) const;
    void RecomputeChromatogram();
    bool PlacePointer();
    bool Combine(const varnex::hostlink::HostCommand& command);
    bool AddScan(const varnex::hostlink::HostCommand& command);
    std::optional<PeakData> ReadScan(int function, int scan, std::string& error) const;
    std::optional<ExtractedIonTrace> ExtractIon(double mz, int function, int firstScan, int lastScan);
    SurveyIonIndexBuild& SurveyIndexOfRun();

    HostDisplayState state_;
    std::shared_ptr<const varnex::rawdata::MsRun> run_;
    mutable std::map<int, ChromatogramTrace> ticCache_; // of run_, by function
    CombineTolerance tolerance_;
    // Survey functions of the data sets shown last, newest last.
    struct SurveyCacheEntry {
        std::weak_ptr<const varnex::rawdata::MsRun> run;
        std::unique_ptr<SurveyIonIndexBuild> index;
    };
    std::vector<SurveyCacheEntry> surveyCache_;
};

} // namespace varnex::host
