#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

#include "model/PrecursorList.h"
#include "model/SpectrumPoints.h"
#include "model/SurveyScanTimes.h"
#include "model/SurveySpectrumPrefetch.h"
#include "numeric/ChargeState.h"

namespace {

constexpr float kRelativeTolerance = 0.00065f;
constexpr float kHydrogenMassDa = 1.00782f;
constexpr int kSurveyFunctionIndex = 0;

struct Assignment {
    int chargeState = -1;
    float intensity = 0.0f;
};

bool isDecoded(const QXSpectrum& spectrum) {
    return spectrum.m_pMasses != nullptr && spectrum.m_pIntensities != nullptr;
}

// The first attempt: the survey scan at or before the run.
Assignment firstAttempt(const SurveySpectrum& survey, float setMass) {
    const QXSpectrum& spectrum = survey.spectrum;
    if (!isDecoded(spectrum)) {
        return {};
    }
    Assignment result;
    if (setMass > 0.0f) {
        float massOut = 0.0f;
        float intensityOut = 0.0f;
        result.chargeState =
            FindChargeState(setMass, 0, spectrum.m_pMasses, spectrum.m_pIntensities, spectrum.m_nPoints,
                            kRelativeTolerance, kHydrogenMassDa, massOut, intensityOut);
    } else {
        result.chargeState = 0;
    }
    result.intensity = nearestPointIntensity(spectrum.m_pMasses, spectrum.m_pIntensities, spectrum.m_nPoints,
                                             setMass, survey.massesAscending);
    return result;
}

// The second attempt, one survey scan earlier: charge and the routine's peak height replace the first.
Assignment secondAttempt(const SurveySpectrum& survey, float setMass) {
    const QXSpectrum& spectrum = survey.spectrum;
    if (!isDecoded(spectrum)) {
        return {};
    }
    float massOut = 0.0f;
    float intensityOut = 0.0f;
    Assignment result;
    result.chargeState =
        FindChargeState(setMass, 0, spectrum.m_pMasses, spectrum.m_pIntensities, spectrum.m_nPoints,
                        kRelativeTolerance, kHydrogenMassDa, massOut, intensityOut);
    result.intensity = intensityOut;
    return result;
}

// On ion-mobility data, the survey frame as the precursor's own mobility window sees it (the whole frame
// when its MS/MS scan gives no window), points of one m/z merged: the frame summed over every mobility
// scan buries the precursor's envelope under its neighbours'. False when the frame has no mobilities.
bool readInMobilityWindow(CRawDatafile& reader, const SurveySpectrum& survey, const CPrecursor& precursor,
                          SurveySpectrum& windowed) {
    double lower = 1.0;
    double upper = 0.0;
    if (!reader.GetMobilityWindow(precursor.m_nFunction - 1, precursor.m_nFirstScan - 1, lower, upper)) {
        lower = 1.0;
        upper = 0.0;
    }
    float* masses = nullptr;
    float* intensities = nullptr;
    int count = 0;
    if (!isDecoded(survey.spectrum) ||
        !reader.GetSurveyScanInMobilityWindow(survey.scanIndex, lower, upper, masses, intensities, count)) {
        return false;
    }
    windowed.scanIndex = survey.scanIndex;
    windowed.spectrum.SetData(masses, intensities, count);
    windowed.massesAscending = true;
    return true;
}

} // namespace

bool CPrecursorList::ReadSpectrum(QXSpectrum& spectrum, int function, unsigned int scan) {
    {
        // Only a test that the data set still opens; the spectrum comes from the list's own reader.
        CRawDatafile probe;
        if (!probe.Open(m_strRawPath.c_str(), 0)) {
            return false;
        }
    }
    m_RawDatafile.SelectFunction(function);
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
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, m_strRawPath.c_str());
    ScanStatsRecord stats{};
    const SurveyScanTimes survey = SurveyScanTimes::read(record, stats);
    const auto surveyCount = static_cast<long long>(survey.count());

    // The first attempt reads the last survey scan at or before the run (as a reader index, from 0);
    // a run after the last survey scan gets the last one, like every other run gets its own.
    std::vector<long long> firstScanIndex(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto later =
            static_cast<long long>(survey.firstStrictlyLater(m_Precursors.ElementAt(i).m_fRetentionTime));
        firstScanIndex[static_cast<std::size_t>(i)] = later <= surveyCount ? later - 2 : surveyCount - 1;
    }
    std::vector<int> visitOrder(static_cast<std::size_t>(count));
    std::iota(visitOrder.begin(), visitOrder.end(), 0);
    std::stable_sort(visitOrder.begin(), visitOrder.end(), [&](int a, int b) {
        return firstScanIndex[static_cast<std::size_t>(a)] < firstScanIndex[static_cast<std::size_t>(b)];
    });

    // Each survey spectrum is decoded once, in scan order, while the charge states of the precursors of
    // the one before are worked out. Indexes before the first survey scan wrap to values past the end,
    // which read as empty spectra.
    std::vector<long long> plan;
    for (const int i : visitOrder) {
        const long long first = firstScanIndex[static_cast<std::size_t>(i)];
        if (plan.empty() || plan.back() != first) {
            plan.push_back(first);
        }
    }
    SurveySpectrumPrefetch surveys(
        [this](QXSpectrum& spectrum, long long scanIndex) {
            return ReadSpectrum(spectrum, kSurveyFunctionIndex, static_cast<unsigned int>(scanIndex));
        },
        std::move(plan));
    // Ion-mobility frames are read again per precursor, on this thread, by a reader of its own.
    CRawDatafile mobilityReader;
    const bool mobility = mobilityReader.Open(m_strRawPath.c_str(), 0) && mobilityReader.HasMobilityWindows();
    std::vector<Assignment> assignments(static_cast<std::size_t>(count));
    for (const int i : visitOrder) {
        const CPrecursor& precursor = m_Precursors.ElementAt(i);
        const float setMass = precursor.m_fSetMass;
        const long long first = firstScanIndex[static_cast<std::size_t>(i)];
        const SurveySpectrum* firstSurvey = surveys.get(first);
        if (firstSurvey == nullptr) {
            return false; // the data set no longer opens: the list stays as it was
        }
        SurveySpectrum windowed;
        if (mobility && readInMobilityWindow(mobilityReader, *firstSurvey, precursor, windowed)) {
            firstSurvey = &windowed;
        }
        Assignment assignment = firstAttempt(*firstSurvey, setMass);
        if (assignment.chargeState == -1) {
            const SurveySpectrum* earlierSurvey = surveys.get(first - 1);
            if (earlierSurvey == nullptr) {
                return false;
            }
            SurveySpectrum earlierWindowed;
            if (mobility &&
                readInMobilityWindow(mobilityReader, *earlierSurvey, precursor, earlierWindowed)) {
                earlierSurvey = &earlierWindowed;
            }
            assignment = secondAttempt(*earlierSurvey, setMass);
        }
        assignments[static_cast<std::size_t>(i)] = assignment;
    }

    CPrecursorArray processed;
    for (int i = 0; i < count; ++i) {
        CPrecursor precursor = m_Precursors.GetAt(i);
        precursor.m_nChargeState = assignments[static_cast<std::size_t>(i)].chargeState;
        precursor.m_fIntensity = assignments[static_cast<std::size_t>(i)].intensity;
        processed.Add(std::move(precursor));
    }
    m_Precursors.RemoveAll();
    for (int i = 0; i < count; ++i) {
        m_Precursors.Add(std::move(processed.ElementAt(i)));
    }
    return true;
}
