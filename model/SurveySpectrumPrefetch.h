#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "rawdata/RawData.h"

struct SurveySpectrum {
    long long scanIndex = 0;
    QXSpectrum spectrum;
    bool massesAscending = false;
};

// Decodes the survey spectra of the charge-state pass on a second thread, in the order the pass will
// ask for them, so that decoding the next spectrum overlaps the charge-state work on the current one.
// Only the prefetch thread calls the reader while this object lives. Each planned spectrum is decoded
// once; a spectrum outside the plan is decoded on request.
class SurveySpectrumPrefetch final {
public:
    // False: the data set no longer opens.
    using Reader = std::function<bool(QXSpectrum& spectrum, long long scanIndex)>;

    // `plannedIndexes` ascending, without repeats: the order of the calls of get() that are not repeats
    // of a recent index or requests outside the plan.
    SurveySpectrumPrefetch(Reader read, std::vector<long long> plannedIndexes);
    ~SurveySpectrumPrefetch();
    SurveySpectrumPrefetch(const SurveySpectrumPrefetch&) = delete;
    SurveySpectrumPrefetch& operator=(const SurveySpectrumPrefetch&) = delete;

    // Null when the data set no longer opens. The spectrum stays valid for the next two calls.
    const SurveySpectrum* get(long long scanIndex);

private:
    static constexpr std::size_t kDecodedAhead = 3;

    void run();
    std::unique_ptr<SurveySpectrum> decode(long long scanIndex) const;
    const SurveySpectrum* hold(std::unique_ptr<SurveySpectrum> spectrum);

    Reader read_;
    const std::vector<long long> plan_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t nextToDecode_ = 0;
    std::deque<std::unique_ptr<SurveySpectrum>> decoded_; // planned spectra in plan order; null: failed
    bool decodeFailed_ = false;
    std::optional<long long> request_;
    std::unique_ptr<SurveySpectrum> answer_;
    bool answered_ = false;
    bool stopping_ = false;
    std::thread thread_;

    // Consumer side only.
    std::size_t nextToTake_ = 0;
    std::array<std::unique_ptr<SurveySpectrum>, 3> held_;
    std::size_t lastHeld_ = 0;
};
