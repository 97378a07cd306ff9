// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "model/PrecursorList.h"
#include "model/SurveyScanTimes.h"
#include "rawdata/SampleInfoRead.h"

using varnex::model::SurveyScanTimes;
using varnex::rawdata::DataSetHold;
using varnex::rawdata::ReadDataSetSampleInfo;

namespace {

RawPathRecord RecordForPath(const std::string& path) {
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, path.c_str());
    return record;
}

// Places a run against the survey scans: the last survey scan acquired at or before its first MS/MS
// scan, and that scan's time as the switching time.
void PlaceOnSurveyScan(CPrecursor& precursor, const SurveyScanTimes& survey) {
    const std::size_t surveyCount = survey.Count();
    const std::size_t stop = survey.FirstNotAtOrBefore(precursor.m_fRetentionTime);
    if (stop <= surveyCount) {
        // A survey scan at time 0.0 is a real placement, so its time stays 0.0.
        precursor.m_fSwitchingTime = stop > 1 ? survey.RtMinutes(stop - 1) : -1.0f;
        precursor.m_nSurveyScan = static_cast<int>(stop - 1);
        return;
    }
    // After the last survey scan; with no survey scans at all the run lies before every one of them.
    precursor.m_fSwitchingTime = surveyCount > 0 ? survey.RtMinutes(surveyCount) : -1.0f;
    precursor.m_nSurveyScan = static_cast<int>(surveyCount);
}

} // namespace

struct CPrecursorList::ScanRun {
    int function = 0;
    int firstScan = 0;
    int lastScan = 0;
    float setMass = 0.0f;
    float rtMinutes = 0.0f;
};

bool CPrecursorList::CreatePrecursorList() {
    // One version of the data set for the whole build: every open below uses the run opened here.
    const DataSetHold hold(m_strRawPath);
    m_Precursors.RemoveAll();
    ReadFunctionCount(m_nFunctions);
    return FindSwitchingEvents();
}

bool CPrecursorList::CreatePrecursorRuns() {
    const DataSetHold hold(m_strRawPath);
    m_Precursors.RemoveAll();
    ReadFunctionCount(m_nFunctions);
    return FindRunsOnSurveyScans();
}

bool CPrecursorList::ReadFunctionCount(int& functionCount) {
    CDatafileSampleInfo sampleInfo;
    if (!ReadDataSetSampleInfo(m_strRawPath, sampleInfo)) {
        return false;
    }
    functionCount = sampleInfo.GetNumFunctions();
    return true;
}

bool CPrecursorList::ReadFunctionDescription(std::string& description, int function) {
    CDatafileSampleInfo sampleInfo;
    if (!ReadDataSetSampleInfo(m_strRawPath, sampleInfo)) {
        return false;
    }
    description = sampleInfo.GetFunctionDescription(function);
    return true;
}

bool CPrecursorList::FindSwitchingEvents() {
    if (!FindRunsOnSurveyScans()) {
        return false;
    }
    return AssignChargeStates();
}

bool CPrecursorList::FindRunsOnSurveyScans() {
    RawPathRecord record = RecordForPath(m_strRawPath);
    ScanStatsRecord stats{};
    // The runs are collected first, so that the list is sized once for all of them: adding a million
    // records one by one under the array's capped growth step would copy the list over and over.
    std::vector<ScanRun> runs;
    std::vector<std::string> descriptions(static_cast<std::size_t>(std::max(m_nFunctions, 0)) + 1);
    for (int function = 2; function <= m_nFunctions; ++function) {
        const std::size_t before = runs.size();
        FindRunsOfFunction(function, record, stats, runs);
        if (runs.size() > before) {
            // The description is the same at every switching event of a function: read it once.
            ReadFunctionDescription(descriptions[static_cast<std::size_t>(function)], function);
        }
    }
    const int first = m_Precursors.GetSize();
    m_Precursors.SetSize(first + static_cast<int>(runs.size()));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const ScanRun& run = runs[i];
        CPrecursor& precursor = m_Precursors.ElementAt(first + static_cast<int>(i));
        precursor.m_fSetMass = run.setMass;
        precursor.m_nFunction = run.function;
        precursor.m_strFunctionName = descriptions[static_cast<std::size_t>(run.function)];
        precursor.m_nFirstScan = run.firstScan;
        precursor.m_nLastScan = run.lastScan;
        precursor.m_fRetentionTime = run.rtMinutes;
    }
    std::vector<ScanRun>().swap(runs);
    if (!FindSurveyScans()) {
        return false;
    }
    ReadTicChromatogram(1);
    return true;
}

void CPrecursorList::FindRunsOfFunction(int function, RawPathRecord& record, ScanStatsRecord& stats,
                                        std::vector<ScanRun>& runs) {
    record.SetInt16(RawPathRecord::kOffsetFunction, static_cast<std::int16_t>(function));
    record.SetInt32(RawPathRecord::kOffsetProcess, 1);
    const std::uint32_t scanCount = DmRawScansInFunction(record);
    record.SetInt32(RawPathRecord::kOffsetScanCount, static_cast<std::int32_t>(scanCount));

    ScanRun current;
    bool open = false; // a run is open
    for (std::uint64_t scan = 1; scan <= scanCount; ++scan) {
        record.SetInt16(RawPathRecord::kOffsetStatsSelector, 0);
        DmRawReadScanStatsVB(record, static_cast<std::uint32_t>(scan), 0, stats);
        const float setMass = stats.GetFloat(ScanStatsRecord::kOffsetSetMass);
        if (!(setMass > 0.0f)) {
            return; // a scan without a set mass ends the function and drops the run open now
        }
        if (open && setMass == current.setMass) {
            continue;
        }
        if (open) {
            current.lastScan = static_cast<int>(scan - 1);
            runs.push_back(current);
        }
        current = {function, static_cast<int>(scan), 0, setMass,
                   stats.GetFloat(ScanStatsRecord::kOffsetRetentionTime)};
        open = true;
    }
    if (open) {
        current.lastScan = static_cast<int>(scanCount);
        runs.push_back(current);
    }
}

bool CPrecursorList::FindSurveyScans() {
    const int count = m_Precursors.GetSize();
    if (count == 0) {
        return true;
    }
    RawPathRecord record = RecordForPath(m_strRawPath);
    ScanStatsRecord stats{};
    const SurveyScanTimes survey = SurveyScanTimes::Read(record, stats);
    for (int i = 0; i < count; ++i) {
        PlaceOnSurveyScan(m_Precursors.ElementAt(i), survey);
    }
    return true;
}

bool CPrecursorList::ReadTicChromatogram(int function) {
    if (!m_RawDatafile.Open(m_strRawPath.c_str(), 0)) {
        return false;
    }
    m_RawDatafile.SelectFunction(function);
    // Only the open reader matters afterwards; the trace itself is not kept.
    CChromatogram chromatogram;
    CChromatogramType type;
    type.SetTrace("TIC", false);
    double fromMinutes = 0.0;
    double toMinutes = 0.0;
    m_RawDatafile.ReadChromatogram(chromatogram, type, fromMinutes, toMinutes);
    return true;
}
