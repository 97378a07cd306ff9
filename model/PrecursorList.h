// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

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
    // Decodes the survey spectra and works out the charge states on a pool of threads that lives only
    // while it runs; nothing else may use the list's reader until it returns.
    bool AssignChargeStates();
    // `function` and `scan` count from 0; function 0 holds the survey scans. A scan that does not exist
    // reads as an empty spectrum.
    bool ReadSpectrum(QXSpectrum& spectrum, int function, unsigned int scan);

    // Threads of the charge-state pass: 0 (the default) sizes the pool from the processor count, 1 does
    // all the work on the building thread. Every count gives the same list.
    void SetWorkerThreads(unsigned threads) { m_workerThreads = threads; }

    // Ascending by one of the five list columns (see PrecursorColumn); any other key changes nothing.
    bool SortByColumn(int column);

    CPrecursorArray m_Precursors;

private:
    // The switching-event pass, the survey-scan pass and the TIC read: everything before the charge states.
    bool FindRunsOnSurveyScans();
    struct ScanRun; // a run found by the switching-event pass, before it becomes a record
    void FindRunsOfFunction(int function, RawPathRecord& record, ScanStatsRecord& stats,
                            std::vector<ScanRun>& runs);
    // GetScan on the list's reader with the function it has selected. Several threads may call it at once
    // as long as nothing opens the reader or selects another function meanwhile.
    bool ReadScanOfSelectedFunction(QXSpectrum& spectrum, unsigned int scan);

    std::string m_strRawPath;
    // 0 until the data set's count is read: with fewer than two functions no MS/MS function is walked.
    int m_nFunctions = 0;
    CRawDatafile m_RawDatafile;
    unsigned m_workerThreads = 0;
};
