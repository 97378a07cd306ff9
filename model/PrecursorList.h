#pragma once

#include <string>
#include <utility>

#include "model/PrecursorArray.h"
#include "rawdata/RawData.h"

// The precursors of one raw data set, with the data set's path (which the host commands name) and the
// reader the charge-state pass reads survey spectra through. Built once on a worker thread, then only
// read and reordered.
class CPrecursorList {
public:
    CPrecursorList() = default;
    virtual ~CPrecursorList();
    CPrecursorList(const CPrecursorList&) = delete;
    CPrecursorList& operator=(const CPrecursorList&) = delete;

    void SetRawPath(std::string path) { m_strRawPath = std::move(path); }
    bool GetRawPath(std::string& path) const {
        path = m_strRawPath;
        return true;
    }

    // The build: runs of one set mass in every MS/MS function, placed against the survey scans, then
    // charge states and intensities. False only when a survey spectrum could not be read because the
    // data set no longer opens.
    bool CreatePrecursorList();
    // The build without its last step: runs found and placed on their survey scans, the reader open,
    // charge states and intensities not yet assigned. Always true.
    bool CreatePrecursorRuns();
    bool ReadFunctionCount(int& functionCount);
    bool ReadFunctionDescription(std::string& description, int function);
    bool FindSwitchingEvents();
    bool FindSurveyScans();
    bool ReadTicChromatogram(int function);
    // Decodes the survey spectra on a second thread of its own while it works out the charge states;
    // nothing else may use the list's reader until it returns.
    bool AssignChargeStates();
    // `function` and `scan` count from 0; function 0 holds the survey scans. A scan that does not exist
    // reads as an empty spectrum.
    bool ReadSpectrum(QXSpectrum& spectrum, int function, unsigned int scan);

    // Ascending by one of the five list columns (see PrecursorColumn); any other key changes nothing.
    bool SortByColumn(int column);

    CPrecursorArray m_Precursors;

private:
    // The switching-event pass, the survey-scan pass and the TIC read: everything before the charge states.
    bool FindRunsOnSurveyScans();
    void AddRunsOfFunction(int function, RawPathRecord& record, ScanStatsRecord& stats);

    std::string m_strRawPath;
    // 0 until the data set's count is read: with fewer than two functions no MS/MS function is walked.
    int m_nFunctions = 0;
    CRawDatafile m_RawDatafile;
};
