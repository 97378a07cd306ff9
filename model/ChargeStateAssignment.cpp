// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <numeric>
#include <optional>
#include <vector>

#include "model/ChargeStateCall.h"
#include "model/PrecursorList.h"
#include "model/SpectrumPoints.h"
#include "model/SurveyScanTimes.h"
#include "model/WorkerPool.h"
#include "numeric/ChargeState.h"

using varnex::model::ListChargeState;
using varnex::model::MassesAscending;
using varnex::model::NearestPointIntensity;
using varnex::model::SurveyScanTimes;
using varnex::model::WorkerPool;
using varnex::rawdata::DataSetHold;

int varnex::model::ListChargeState(float setMass, const float* masses, const float* intensities,
                                   int pointCount, float& massOut, float& intensityOut) {
    constexpr float kRelativeTolerance = 0.00065f;
    constexpr float kHydrogenMassDa = 1.00782f;
    return FindChargeState(setMass, 0, masses, intensities, pointCount, kRelativeTolerance, kHydrogenMassDa,
                           massOut, intensityOut);
}

namespace {

constexpr int kSurveyFunctionIndex = 0;

struct Assignment {
    int chargeState = -1;
    float intensity = 0.0f;
};

bool IsDecoded(const QXSpectrum& spectrum) {
    return spectrum.m_pMasses != nullptr && spectrum.m_pIntensities != nullptr;
}

struct SurveySpectrum {
    QXSpectrum spectrum;
    bool massesAscending = false;
};

// The first attempt: the survey scan at or before the run.
Assignment FirstAttempt(const SurveySpectrum& survey, float setMass) {
    const QXSpectrum& spectrum = survey.spectrum;
    if (!IsDecoded(spectrum)) {
        return {};
    }
    Assignment result;
    if (setMass > 0.0f) {
        float massOut = 0.0f;
        float intensityOut = 0.0f;
        result.chargeState = ListChargeState(setMass, spectrum.m_pMasses, spectrum.m_pIntensities,
                                             spectrum.m_nPoints, massOut, intensityOut);
    } else {
        result.chargeState = 0;
    }
    result.intensity = NearestPointIntensity(spectrum.m_pMasses, spectrum.m_pIntensities, spectrum.m_nPoints,
                                             setMass, survey.massesAscending);
    return result;
}

// The second attempt, one survey scan earlier: charge and the routine's peak height replace the first.
Assignment SecondAttempt(const QXSpectrum& spectrum, float setMass) {
    if (!IsDecoded(spectrum)) {
        return {};
    }
    float massOut = 0.0f;
    float intensityOut = 0.0f;
    Assignment result;
    result.chargeState = ListChargeState(setMass, spectrum.m_pMasses, spectrum.m_pIntensities,
                                         spectrum.m_nPoints, massOut, intensityOut);
    result.intensity = intensityOut;
    return result;
}

// On ion-mobility data, the survey frame as the precursor's own mobility window sees it (the whole frame
// when its MS/MS scan gives no window), points of one m/z merged: the frame summed over every mobility
// scan buries the precursor's envelope under its neighbours'. False when the frame has no mobilities.
bool ReadInMobilityWindow(CRawDatafile& reader, long long scanIndex, const QXSpectrum& survey,
                          const CPrecursor& precursor, SurveySpectrum& windowed) {
    double lower = 1.0;
    double upper = 0.0;
    if (!reader.GetMobilityWindow(precursor.m_nFunction - 1, precursor.m_nFirstScan - 1, lower, upper)) {
        lower = 1.0;
        upper = 0.0;
    }
    float* masses = nullptr;
    float* intensities = nullptr;
    int count = 0;
    if (!IsDecoded(survey) ||
        !reader.GetSurveyScanInMobilityWindow(scanIndex, lower, upper, masses, intensities, count)) {
        return false;
    }
    windowed.spectrum.SetData(masses, intensities, count);
    windowed.massesAscending = true;
    return true;
}

} // namespace

bool CPrecursorList::ReadSpectrum(QXSpectrum& spectrum, int function, unsigned int scan) {
    m_RawDatafile.SelectFunction(function);
    return ReadScanOfSelectedFunction(spectrum, scan);
}

bool CPrecursorList::ReadScanOfSelectedFunction(QXSpectrum& spectrum, unsigned int scan) {
    {
        // Only a test that the data set still opens; the spectrum comes from the list's own reader.
        CRawDatafile probe;
        if (!probe.Open(m_strRawPath.c_str(), 0)) {
            return false;
        }
    }
    float* masses = nullptr;
    float* intensities = nullptr;
    int count = 0;
    m_RawDatafile.GetScan(scan, masses, intensities, count);
    spectrum.SetData(masses, intensities, count);
    return true;
}

bool CPrecursorList::AssignChargeStates() {
    const int count = m_Precursors.GetSize();
    if (count == 0) {
        return true;
    }
    // One version of the data set for the whole pass, however often the file changes meanwhile.
    const DataSetHold hold(m_strRawPath);
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, m_strRawPath.c_str());
    ScanStatsRecord stats{};
    const SurveyScanTimes survey = SurveyScanTimes::Read(record, stats);
    const auto surveyCount = static_cast<long long>(survey.Count());

    // The first attempt reads the last survey scan at or before the run (as a reader index, from 0);
    // a run after the last survey scan gets the last one, like every other run gets its own.
    std::vector<long long> firstScanIndex(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto later =
            static_cast<long long>(survey.FirstStrictlyLater(m_Precursors.ElementAt(i).m_fRetentionTime));
        firstScanIndex[static_cast<std::size_t>(i)] = later <= surveyCount ? later - 2 : surveyCount - 1;
    }
    // Precursors grouped by that scan, so that each survey spectrum is decoded once for all of them.
    std::vector<int> visitOrder(static_cast<std::size_t>(count));
    std::iota(visitOrder.begin(), visitOrder.end(), 0);
    std::stable_sort(visitOrder.begin(), visitOrder.end(), [&](int a, int b) {
        return firstScanIndex[static_cast<std::size_t>(a)] < firstScanIndex[static_cast<std::size_t>(b)];
    });

    // Each task decodes one survey spectrum (and the one before, when a charge stays undetermined) and
    // writes only the assignments of its own precursors. The list itself changes only after every task
    // has run, on this thread and in record order, so a failed read leaves it as the builder made it.
    // Indexes before the first survey scan wrap to values past the end, which read as empty spectra.
    m_RawDatafile.SelectFunction(kSurveyFunctionIndex);
    std::vector<Assignment> assignments(static_cast<std::size_t>(count));
    std::atomic<bool> readFailed{false};
    // A compressed data set is read in file order, since going back restarts its decompression from a
    // snapshot that may lie megabytes back: each group waits for its turn to read, and reads the survey
    // scan before its own at once (the group before has usually just decoded it) instead of later.
    const bool readInTurn = !m_RawDatafile.ReadsCheaplyOutOfOrder();
    bool mobility = false;
    {
        CRawDatafile probe;
        mobility = probe.Open(m_strRawPath.c_str(), 0) && probe.HasMobilityWindows();
    }
    std::mutex turnMutex;
    std::condition_variable turnPassed;
    std::size_t nextTurn = 0;
    const auto assignGroup = [&](std::size_t turn, std::size_t begin, std::size_t end) {
        const long long first = firstScanIndex[static_cast<std::size_t>(visitOrder[begin])];
        const auto scanIndex = [](long long index) { return static_cast<unsigned int>(index); };
        SurveySpectrum firstSurvey;
        QXSpectrum earlierSurvey;
        bool earlierRead = false;
        bool read = false;
        if (readInTurn) {
            std::unique_lock lock(turnMutex);
            turnPassed.wait(lock, [&] { return nextTurn == turn; });
            read = ReadScanOfSelectedFunction(earlierSurvey, scanIndex(first - 1)) &&
                   ReadScanOfSelectedFunction(firstSurvey.spectrum, scanIndex(first));
            earlierRead = true;
            ++nextTurn;
            lock.unlock();
            turnPassed.notify_all();
        } else {
            read = ReadScanOfSelectedFunction(firstSurvey.spectrum, scanIndex(first));
        }
        if (!read) {
            readFailed = true;
            return;
        }
        firstSurvey.massesAscending =
            MassesAscending(firstSurvey.spectrum.m_pMasses, firstSurvey.spectrum.m_nPoints);
        // Ion-mobility frames are read again per precursor through its own window, by this task's reader.
        std::optional<CRawDatafile> mobilityReader;
        if (mobility) {
            mobilityReader.emplace();
            if (!mobilityReader->Open(m_strRawPath.c_str(), 0)) {
                mobilityReader.reset();
            }
        }
        for (std::size_t k = begin; k < end; ++k) {
            const auto i = static_cast<std::size_t>(visitOrder[k]);
            const CPrecursor& precursor = m_Precursors.ElementAt(static_cast<int>(i));
            const float setMass = precursor.m_fSetMass;
            SurveySpectrum firstWindowed;
            const bool firstInWindow =
                mobilityReader &&
                ReadInMobilityWindow(*mobilityReader, first, firstSurvey.spectrum, precursor, firstWindowed);
            Assignment assignment = FirstAttempt(firstInWindow ? firstWindowed : firstSurvey, setMass);
            if (assignment.chargeState == -1) {
                if (!earlierRead) {
                    if (!ReadScanOfSelectedFunction(earlierSurvey, scanIndex(first - 1))) {
                        readFailed = true;
                        return;
                    }
                    earlierRead = true;
                }
                SurveySpectrum earlierWindowed;
                const bool earlierInWindow =
                    mobilityReader && ReadInMobilityWindow(*mobilityReader, first - 1, earlierSurvey,
                                                           precursor, earlierWindowed);
                assignment =
                    SecondAttempt(earlierInWindow ? earlierWindowed.spectrum : earlierSurvey, setMass);
            }
            assignments[i] = assignment;
        }
    };
    {
        WorkerPool pool(m_workerThreads);
        std::size_t turn = 0;
        std::size_t begin = 0;
        while (begin < visitOrder.size() && !readFailed) {
            const long long first = firstScanIndex[static_cast<std::size_t>(visitOrder[begin])];
            std::size_t end = begin + 1;
            while (end < visitOrder.size() &&
                   firstScanIndex[static_cast<std::size_t>(visitOrder[end])] == first) {
                ++end;
            }
            pool.Submit([&assignGroup, turn, begin, end] { assignGroup(turn, begin, end); });
            ++turn;
            begin = end;
        }
    }
    if (readFailed) {
        return false; // the data set no longer opens: the list stays as it was
    }
    for (int i = 0; i < count; ++i) {
        CPrecursor& precursor = m_Precursors.ElementAt(i);
        precursor.m_nChargeState = assignments[static_cast<std::size_t>(i)].chargeState;
        precursor.m_fIntensity = assignments[static_cast<std::size_t>(i)].intensity;
    }
    return true;
}
