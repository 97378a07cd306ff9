// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/HostDisplayModel.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <utility>

#include "rawdata/MsRun.h"

using varnex::hostlink::HostCommand;
using varnex::hostlink::HostCommandParse;
using varnex::hostlink::HostVerb;
using varnex::hostlink::ParseHostCommand;

namespace varnex::host {

namespace {

using varnex::rawdata::MsRun;

// Bounds the work one command can ask for; a precursor's run of MS/MS scans is a handful.
constexpr int kMaxCombinedScans = 1000;
// Commands that only add keep the displays readable and memory bounded under a flood: the oldest go.
constexpr std::size_t kMaxTraces = 16;
constexpr std::size_t kMaxAddedPanels = 8;
// Survey functions kept for chromatograms: those of the last two data sets.
constexpr std::size_t kCachedSurveyFunctions = 2;

template <typename T> void KeepNewest(std::vector<T>& items, std::size_t count) {
    if (items.size() > count) {
        items.erase(items.begin(), items.end() - static_cast<std::ptrdiff_t>(count));
    }
}

std::string FormatNumber(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

std::string FunctionLabel(const MsRun& run, int function) {
    std::string label = "TIC function " + std::to_string(function);
    const std::string& description = run.FunctionDescription(function);
    if (!description.empty()) {
        label += " (" + description + ")";
    } else if (function == 1) {
        label += " (survey)";
    }
    return label;
}

} // namespace

HostDisplayModel::HostDisplayModel() = default;
HostDisplayModel::~HostDisplayModel() = default;

bool HostDisplayModel::Fail(std::string message) {
    state_.status = std::move(message);
    state_.lastCommandFailed = true;
    return false;
}

bool HostDisplayModel::Succeed(std::string message) {
    state_.status = std::move(message);
    state_.lastCommandFailed = false;
    return true;
}

bool HostDisplayModel::ExecuteText(std::string_view text) {
    const HostCommandParse parsed = ParseHostCommand(text);
    if (!parsed.command) {
        ++state_.revision;
        return Fail("Ignored command: " + parsed.error);
    }
    return Execute(*parsed.command);
}

bool HostDisplayModel::Execute(const HostCommand& command) {
    ++state_.revision;
    switch (command.verb) {
    case HostVerb::ChromatogramClear:
        state_.chromatogram = ChromatogramState{};
        return Succeed("Chromatogram display cleared");
    case HostVerb::ChromatogramAddTic: {
        state_.chromatogram.requestedFunctions.push_back(command.function);
        KeepNewest(state_.chromatogram.requestedFunctions, kMaxTraces);
        if (!run_) {
            return Succeed("TIC of function " + std::to_string(command.function) +
                           " will be shown when a data set is launched");
        }
        std::string error;
        auto trace = ComputeTic(command.function, error);
        if (!trace) {
            return Fail(error);
        }
        state_.chromatogram.traces.push_back(std::move(*trace));
        KeepNewest(state_.chromatogram.traces, kMaxTraces);
        return Succeed("Added " + state_.chromatogram.traces.back().label);
    }
    case HostVerb::ChromatogramSetPointer:
        state_.chromatogram.requestedPointerScan = command.scan;
        if (!run_) {
            return Succeed("Pointer will be placed when a data set is launched");
        }
        return PlacePointer();
    case HostVerb::SpectrumLaunch:
        return Launch(command.path);
    case HostVerb::SpectrumClear:
        state_.spectrum.combined.reset();
        state_.spectrum.added.clear();
        return Succeed("Spectrum display cleared");
    case HostVerb::SpectrumCombine:
        return Combine(command);
    case HostVerb::SpectrumAdd:
        return AddScan(command);
    }
    return Fail("Unknown command");
}

bool HostDisplayModel::Launch(const std::string& path) {
    if (!EnsureDataSet(path)) {
        return false;
    }
    RecomputeChromatogram();
    if (state_.lastCommandFailed) {
        return false;
    }
    return Succeed("Data set " + path);
}

bool HostDisplayModel::EnsureDataSet(const std::string& path) {
    if (run_ && path == state_.spectrum.dataSetPath) {
        return true;
    }
    std::string error;
    auto run = MsRun::Open(path, &error);
    if (!run) {
        return Fail("Cannot open " + path + (error.empty() ? "" : ": " + error));
    }
    run_ = std::move(run);
    SurveyIndexOfRun(); // starts decoding the survey function for the first chromatogram
    ticCache_.clear();
    state_.chromatogram.xic.reset();
    state_.spectrum = SpectrumState{};
    state_.spectrum.dataSetPath = path;
    state_.spectrum.title = path;
    return true;
}

std::optional<ChromatogramTrace> HostDisplayModel::ComputeTic(int function, std::string& error) const {
    if (const auto cached = ticCache_.find(function); cached != ticCache_.end()) {
        return cached->second;
    }
    const auto& indexes = run_->ScansOfFunction(function);
    if (indexes.empty()) {
        error = "Function " + std::to_string(function) + " has no scans";
        return std::nullopt;
    }
    ChromatogramTrace trace;
    trace.function = function;
    trace.label = FunctionLabel(*run_, function);
    trace.rtMinutes.reserve(indexes.size());
    trace.intensity.reserve(indexes.size());
    for (const std::size_t index : indexes) {
        const auto& info = run_->Scans()[index];
        double tic = info.tic;
        if (!info.hasTic) { // written without a total ion current: add up the spectrum
            const auto spectrum = run_->Decode(index);
            tic =
                spectrum ? std::accumulate(spectrum->intensity.begin(), spectrum->intensity.end(), 0.0) : 0.0;
        }
        trace.rtMinutes.push_back(info.rtMinutes);
        trace.intensity.push_back(tic);
    }
    ticCache_.emplace(function, trace);
    return trace;
}

void HostDisplayModel::RecomputeChromatogram() {
    ChromatogramState& chromatogram = state_.chromatogram;
    chromatogram.traces.clear();
    chromatogram.pointer.reset();
    std::string failures;
    for (const int function : chromatogram.requestedFunctions) {
        std::string error;
        if (auto trace = ComputeTic(function, error)) {
            chromatogram.traces.push_back(std::move(*trace));
        } else {
            failures += (failures.empty() ? "" : "; ") + error;
        }
    }
    if (chromatogram.requestedPointerScan >= 0 && !PlacePointer()) {
        failures += (failures.empty() ? "" : "; ") + state_.status;
    }
    if (failures.empty()) {
        Succeed("Chromatogram display updated");
    } else {
        Fail(failures);
    }
}

bool HostDisplayModel::PlacePointer() {
    ChromatogramState& chromatogram = state_.chromatogram;
    chromatogram.pointer.reset();
    const int scan = chromatogram.requestedPointerScan;
    if (scan == 0) {
        return Succeed("No survey scan before this switch: no pointer");
    }
    const auto& survey = run_->ScansOfFunction(1);
    if (scan < 1 || static_cast<std::size_t>(scan) > survey.size()) {
        return Fail("Survey scan " + std::to_string(scan) + " does not exist (" +
                    std::to_string(survey.size()) + " survey scans)");
    }
    const double rtMinutes = run_->Scans()[survey[static_cast<std::size_t>(scan) - 1]].rtMinutes;
    chromatogram.pointer = ChromatogramPointer{scan, rtMinutes};
    return Succeed("Pointer at survey scan " + std::to_string(scan) + ", " + FormatNumber("%.2f", rtMinutes) +
                   " min");
}

std::optional<PeakData> HostDisplayModel::ReadScan(int function, int scan, std::string& error) const {
    const auto& indexes = run_->ScansOfFunction(function);
    if (scan < 1 || static_cast<std::size_t>(scan) > indexes.size()) {
        error = "Scan " + std::to_string(scan) + " of function " + std::to_string(function) +
                " does not exist (" + std::to_string(indexes.size()) + " scans)";
        return std::nullopt;
    }
    const std::size_t index = indexes[static_cast<std::size_t>(scan) - 1];
    const auto spectrum = run_->Decode(index);
    if (!spectrum) {
        error = "Scan " + std::to_string(scan) + " of function " + std::to_string(function) +
                " cannot be decoded";
        return std::nullopt;
    }
    return PeakData{spectrum->mz, spectrum->intensity, run_->Scans()[index].centroid};
}

bool HostDisplayModel::Combine(const HostCommand& command) {
    if (!EnsureDataSet(command.path)) {
        return false;
    }
    if (command.lastScan - command.firstScan >= kMaxCombinedScans) {
        return Fail("Too many scans to combine (at most " + std::to_string(kMaxCombinedScans) + ")");
    }
    std::vector<PeakData> scans;
    for (int scan = command.firstScan; scan <= command.lastScan; ++scan) {
        std::string error;
        auto peaks = ReadScan(command.function, scan, error);
        if (!peaks) {
            return Fail(error);
        }
        scans.push_back(std::move(*peaks));
    }
    std::vector<const PeakData*> pointers;
    for (const PeakData& scan : scans) {
        pointers.push_back(&scan);
    }

    SpectrumPanel panel;
    panel.function = command.function;
    panel.firstScan = command.firstScan;
    panel.lastScan = command.lastScan;
    const std::size_t firstIndex = run_->ScansOfFunction(command.function)[command.firstScan - 1];
    panel.precursorMz = run_->Scans()[firstIndex].SetMass();
    panel.peaks = CombineScans(pointers, tolerance_);
    state_.chromatogram.xic.reset();
    if (panel.precursorMz > 0.0) {
        state_.chromatogram.xic =
            ExtractIon(panel.precursorMz, command.function, command.firstScan, command.lastScan);
    }
    const std::string scanText = command.firstScan == command.lastScan
                                     ? "Scan " + std::to_string(command.firstScan)
                                     : "Combined scans " + std::to_string(command.firstScan) + "\u2013" +
                                           std::to_string(command.lastScan);
    panel.title =
        scanText + " of function " + std::to_string(command.function) +
        (panel.precursorMz > 0.0 ? ", precursor m/z " + FormatNumber("%.4f", panel.precursorMz) : "");
    state_.spectrum.combined = std::move(panel);
    return Succeed(state_.spectrum.combined->title);
}

bool HostDisplayModel::AddScan(const HostCommand& command) {
    if (!run_) {
        return Fail("No data set launched");
    }
    if (command.scan == 0) {
        return Fail("No survey scan before this switch: nothing to add");
    }
    std::string error;
    auto peaks = ReadScan(command.function, command.scan, error);
    if (!peaks) {
        return Fail(error);
    }
    const std::size_t index = run_->ScansOfFunction(command.function)[command.scan - 1];
    SpectrumPanel panel;
    panel.function = command.function;
    panel.firstScan = panel.lastScan = command.scan;
    panel.peaks = std::move(*peaks);
    panel.title = (command.function == 1 ? "Survey scan " + std::to_string(command.scan)
                                         : "Scan " + std::to_string(command.scan) + " of function " +
                                               std::to_string(command.function)) +
                  ", RT " + FormatNumber("%.2f", run_->Scans()[index].rtMinutes) + " min";
    if (state_.spectrum.combined && state_.spectrum.combined->precursorMz > 0.0) {
        panel.markerMz = state_.spectrum.combined->precursorMz;
    }
    state_.spectrum.added.push_back(std::move(panel));
    KeepNewest(state_.spectrum.added, kMaxAddedPanels);
    return Succeed("Added " + state_.spectrum.added.back().title);
}

SurveyIonIndexBuild& HostDisplayModel::SurveyIndexOfRun() {
    // Entries whose run has gone are dropped; the run's own entry becomes the newest.
    std::unique_ptr<SurveyIonIndexBuild> build;
    for (auto it = surveyCache_.begin(); it != surveyCache_.end();) {
        const auto run = it->run.lock();
        if (run && run != run_) {
            ++it;
            continue;
        }
        if (run) {
            build = std::move(it->index);
        }
        it = surveyCache_.erase(it);
    }
    if (!build) {
        build = std::make_unique<SurveyIonIndexBuild>(run_, kMaxIndexedSurveyPoints);
    }
    surveyCache_.push_back({run_, std::move(build)});
    KeepNewest(surveyCache_, kCachedSurveyFunctions);
    return *surveyCache_.back().index;
}

std::optional<ExtractedIonTrace> HostDisplayModel::ExtractIon(double mz, int function, int firstScan,
                                                              int lastScan) {
    std::shared_ptr<const SurveyIonIndex> index = SurveyIndexOfRun().Index();
    if (!index) {
        index = SurveyIonIndex::BuildAround(*run_, mz);
    }
    if (!index) {
        return std::nullopt; // no survey scans
    }
    ExtractedIonTrace trace;
    trace.mz = mz;
    trace.label = "XIC m/z " + FormatNumber("%.4f", mz) + " " + index->Window().Text() + " (survey)";
    trace.rtMinutes = index->RtMinutes();
    trace.intensity = index->Extract(mz);
    const auto& scans = run_->ScansOfFunction(function);
    for (int scan = std::max(1, firstScan);
         scan <= lastScan && static_cast<std::size_t>(scan) <= scans.size(); ++scan) {
        trace.markedRtMinutes.push_back(run_->Scans()[scans[static_cast<std::size_t>(scan) - 1]].rtMinutes);
    }
    return trace;
}

} // namespace varnex::host
