#include "model/SurveySpectrumPrefetch.h"

#include <utility>

#include "model/SpectrumPoints.h"

SurveySpectrumPrefetch::SurveySpectrumPrefetch(Reader read, std::vector<long long> plannedIndexes)
    : read_(std::move(read)), plan_(std::move(plannedIndexes)) {
    thread_ = std::thread([this] { run(); });
}

SurveySpectrumPrefetch::~SurveySpectrumPrefetch() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::unique_ptr<SurveySpectrum> SurveySpectrumPrefetch::decode(long long scanIndex) const {
    auto survey = std::make_unique<SurveySpectrum>();
    survey->scanIndex = scanIndex;
    if (!read_(survey->spectrum, scanIndex)) {
        return nullptr;
    }
    survey->massesAscending = massesAscending(survey->spectrum.m_pMasses, survey->spectrum.m_nPoints);
    return survey;
}

void SurveySpectrumPrefetch::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] {
            return stopping_ || request_ ||
                   (!decodeFailed_ && nextToDecode_ < plan_.size() && decoded_.size() < kDecodedAhead);
        });
        if (stopping_) {
            return;
        }
        if (request_) {
            const long long scanIndex = *request_;
            request_.reset();
            lock.unlock();
            auto survey = decode(scanIndex);
            lock.lock();
            answer_ = std::move(survey);
            answered_ = true;
        } else {
            const long long scanIndex = plan_[nextToDecode_++];
            lock.unlock();
            auto survey = decode(scanIndex);
            lock.lock();
            decodeFailed_ = survey == nullptr;
            decoded_.push_back(std::move(survey));
        }
        changed_.notify_all();
    }
}

const SurveySpectrum* SurveySpectrumPrefetch::hold(std::unique_ptr<SurveySpectrum> spectrum) {
    if (!spectrum) {
        return nullptr;
    }
    lastHeld_ = (lastHeld_ + 1) % held_.size();
    held_[lastHeld_] = std::move(spectrum);
    return held_[lastHeld_].get();
}

const SurveySpectrum* SurveySpectrumPrefetch::get(long long scanIndex) {
    for (const auto& survey : held_) {
        if (survey && survey->scanIndex == scanIndex) {
            return survey.get();
        }
    }
    std::unique_lock lock(mutex_);
    if (nextToTake_ < plan_.size() && plan_[nextToTake_] == scanIndex) {
        ++nextToTake_;
        changed_.wait(lock, [this] { return !decoded_.empty(); });
        auto survey = std::move(decoded_.front());
        decoded_.pop_front();
        lock.unlock();
        changed_.notify_all();
        return hold(std::move(survey));
    }
    request_ = scanIndex;
    answered_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return answered_; });
    answered_ = false;
    return hold(std::move(answer_));
}
