#include <cstdint>
#include <optional>
#include <string>

#include "model/PrecursorList.h"
#include "model/SurveyScanTimes.h"

namespace {

RawPathRecord recordForPath(const std::string& path) {
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, path.c_str());
    return record;
}

// Places a run against the survey scans: the last survey scan acquired at or before its first MS/MS
// scan, and that scan's time as the switching time.
void placeOnSurveyScan(CPrecursor& precursor, const SurveyScanTimes& survey) {
    const std::size_t surveyCount = survey.count();
    const std::size_t stop = survey.firstNotAtOrBefore(precursor.m_fRetentionTime);
    if (stop <= surveyCount) {
        // A survey scan at time 0.0 is a real placement, so its time stays 0.0.
        precursor.m_fSwitchingTime = stop > 1 ? survey.rtMinutes(stop - 1) : -1.0f;
        precursor.m_nSurveyScan = static_cast<int>(stop - 1);
        return;
    }
    // After the last survey scan; with no survey scans at all the run lies before every one of them.
    precursor.m_fSwitchingTime = surveyCount > 0 ? survey.rtMinutes(surveyCount) : -1.0f;
    precursor.m_nSurveyScan = static_cast<int>(surveyCount);
}

} // namespace

bool CPrecursorList::CreatePrecursorList() {
    m_Precursors.RemoveAll();
    ReadFunctionCount(m_nFunctions);
    return FindSwitchingEvents();
}

bool CPrecursorList::CreatePrecursorRuns() {
    m_Precursors.RemoveAll();
    ReadFunctionCount(m_nFunctions);
    return FindRunsOnSurveyScans();
}

bool CPrecursorList::ReadFunctionCount(int& functionCount) {
    CDatafileSampleInfo sampleInfo;
    CDMRawDatafile datafile; // declared last so that it goes first
    if (datafile.Open(m_strRawPath.c_str(), 0) == 0 || datafile.ReadSampleInfo(sampleInfo) == 0) {
        return false;
    }
    functionCount = sampleInfo.GetNumFunctions();
    return true;
}

bool CPrecursorList::ReadFunctionDescription(std::string& description, int function) {
    CDatafileSampleInfo sampleInfo;
    CDMRawDatafile datafile;
    if (datafile.Open(m_strRawPath.c_str(), 0) == 0 || datafile.ReadSampleInfo(sampleInfo) == 0) {
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
    RawPathRecord record = recordForPath(m_strRawPath);
    ScanStatsRecord stats{};
    for (int function = 2; function <= m_nFunctions; ++function) {
        AddRunsOfFunction(function, record, stats);
    }
    if (!FindSurveyScans()) {
        return false;
    }
    ReadTicChromatogram(1);
    return true;
}

void CPrecursorList::AddRunsOfFunction(int function, RawPathRecord& record, ScanStatsRecord& stats) {
    record.SetInt16(RawPathRecord::kOffsetFunction, static_cast<std::int16_t>(function));
    record.SetInt32(RawPathRecord::kOffsetProcess, 1);
    const std::uint32_t scanCount = DmRawScansInFunction(record);
    record.SetInt32(RawPathRecord::kOffsetScanCount, static_cast<std::int32_t>(scanCount));

    CPrecursor current;
    float previousSetMass = -1.0f; // no run open yet
    // The description is the same at every switching event of a function: read it once.
    std::optional<std::string> description;
    bool scansRanOut = true;
    for (std::uint64_t scan = 1; scan <= scanCount; ++scan) {
        record.SetInt16(RawPathRecord::kOffsetStatsSelector, 0);
        DmRawReadScanStatsVB(record, static_cast<std::uint32_t>(scan), 0, stats);
        const float setMass = stats.GetFloat(ScanStatsRecord::kOffsetSetMass);
        if (!(setMass > 0.0f)) {
            // A scan without a set mass ends the function; the run open now is dropped below.
            current.m_fSetMass = setMass;
            scansRanOut = false;
            break;
        }
        if (setMass == previousSetMass) {
            continue;
        }
        if (scan > 1) {
            current.m_nLastScan = static_cast<int>(scan - 1);
            m_Precursors.Add(current);
        }
        if (!description) {
            description.emplace();
            ReadFunctionDescription(*description, function);
        }
        current.m_fRetentionTime = stats.GetFloat(ScanStatsRecord::kOffsetRetentionTime);
        current.m_fSetMass = setMass;
        current.m_nFunction = function;
        current.m_nFirstScan = static_cast<int>(scan);
        current.m_strFunctionName = *description;
        previousSetMass = setMass;
    }
    if (scansRanOut) {
        current.m_nLastScan = static_cast<int>(scanCount);
    }
    if (current.m_fSetMass > 0.0f) {
        m_Precursors.Add(current);
    }
}

bool CPrecursorList::FindSurveyScans() {
    const int count = m_Precursors.GetSize();
    if (count == 0) {
        return true;
    }
    RawPathRecord record = recordForPath(m_strRawPath);
    ScanStatsRecord stats{};
    const SurveyScanTimes survey = SurveyScanTimes::read(record, stats);
    for (int i = 0; i < count; ++i) {
        placeOnSurveyScan(m_Precursors.ElementAt(i), survey);
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
