// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/SurveyIonIndex.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include <sys/mman.h>

#include "model/WorkerPool.h"
#include "rawdata/MsRun.h"

using varnex::model::WorkerPool;

namespace varnex::host {

namespace {

using varnex::rawdata::MsRun;

constexpr double kProfileHighResolutionPpm = 20.0;
constexpr double kCentroidHighResolutionPpm = 150.0;
constexpr std::size_t kMinPointsForSpacing = 20;
// Scans looked at for the resolution, spread over the run.
constexpr std::size_t kResolutionSampleScans = 25;
// Survey scans per task: enough to outweigh handing the task over, few enough that both threads stay
// busy to the end of a run of a few hundred scans.
constexpr std::size_t kScansPerBlock = 16;

// Pieces of the point store: 2 MB huge pages, 16 of them a piece.
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
constexpr std::size_t kPieceFloats = 16 * kHugePageBytes / sizeof(float);

double Median(std::vector<double> values) {
    if (values.empty()) {
        return -1.0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

double XicWindow::HalfWidthAt(double mz) const {
    return highResolution ? mz * kHighResolutionXicPpm * 1e-6 : kLowResolutionXicMz;
}

std::string XicWindow::Text() const {
    char text[32];
    if (highResolution) {
        std::snprintf(text, sizeof text, "\u00b1 %g ppm", kHighResolutionXicPpm);
    } else {
        std::snprintf(text, sizeof text, "\u00b1 %g m/z", kLowResolutionXicMz);
    }
    return text;
}

double RelativeSpacingPpm(const std::vector<double>& mz, bool centroid) {
    if (mz.size() < kMinPointsForSpacing) {
        return -1.0;
    }
    std::vector<double> gaps;
    gaps.reserve(mz.size() - 1);
    for (std::size_t i = 1; i < mz.size(); ++i) {
        if (mz[i] > mz[i - 1] && mz[i - 1] > 0.0) {
            gaps.push_back((mz[i] - mz[i - 1]) / mz[i - 1] * 1e6);
        }
    }
    if (gaps.empty()) {
        return -1.0;
    }
    if (!centroid) {
        return Median(std::move(gaps));
    }
    const auto percentile = gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 100);
    std::nth_element(gaps.begin(), percentile, gaps.end());
    return *percentile;
}

// Hands out room for the blocks' points from large aligned pieces; several tasks take room at once.
class SurveyIonIndex::PointStore {
public:
    float* Take(std::size_t floats) {
        std::lock_guard lock(mutex_);
        if (floats > left_) {
            const std::size_t pieceFloats = std::max(floats, kPieceFloats);
            void* memory = nullptr;
            if (::posix_memalign(&memory, kHugePageBytes, pieceFloats * sizeof(float)) != 0) {
                throw std::bad_alloc();
            }
            ::madvise(memory, pieceFloats * sizeof(float), MADV_HUGEPAGE); // a hint; ordinary pages do too
            pieces_.emplace_back(static_cast<float*>(memory));
            next_ = pieces_.back().get();
            left_ = pieceFloats;
        }
        float* taken = next_;
        next_ += floats;
        left_ -= floats;
        return taken;
    }

private:
    struct Free {
        void operator()(float* memory) const { std::free(memory); }
    };
    std::mutex mutex_;
    std::vector<std::unique_ptr<float, Free>> pieces_;
    float* next_ = nullptr;
    std::size_t left_ = 0;
};

SurveyIonIndex::SurveyIonIndex() : points_(std::make_unique<PointStore>()) {}
SurveyIonIndex::~SurveyIonIndex() = default;

std::shared_ptr<const SurveyIonIndex> SurveyIonIndex::Build(const MsRun& run, std::size_t maxPoints,
                                                            unsigned threadCount,
                                                            const std::atomic<bool>* cancelled) {
    return BuildInRange(run, maxPoints,
                        {-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()},
                        threadCount, cancelled);
}

std::shared_ptr<const SurveyIonIndex> SurveyIonIndex::BuildAround(const MsRun& run, double mz,
                                                                  unsigned threadCount) {
    const double halfWidth = std::max(kLowResolutionXicMz, mz * kHighResolutionXicPpm * 1e-6);
    return BuildInRange(run, std::numeric_limits<std::size_t>::max(), {mz - halfWidth, mz + halfWidth},
                        threadCount, nullptr);
}

std::shared_ptr<const SurveyIonIndex> SurveyIonIndex::BuildInRange(const MsRun& run, std::size_t maxPoints,
                                                                   Range range, unsigned threadCount,
                                                                   const std::atomic<bool>* cancelled) {
    const std::vector<std::size_t>& scans = run.ScansOfFunction(1);
    if (scans.empty()) {
        return nullptr;
    }
    std::shared_ptr<SurveyIonIndex> index(new SurveyIonIndex);
    index->rtMinutes_.reserve(scans.size());
    for (const std::size_t scan : scans) {
        index->rtMinutes_.push_back(run.Scans()[scan].rtMinutes);
    }
    index->blocks_.resize((scans.size() + kScansPerBlock - 1) / kScansPerBlock);

    // The resolution sample: every sampleStep-th scan, its spacing (negative: none) and kind.
    const std::size_t sampleStep = std::max<std::size_t>(1, scans.size() / kResolutionSampleScans);
    struct Sample {
        double spacingPpm = -1.0;
        bool centroid = false;
    };
    std::vector<Sample> samples((scans.size() + sampleStep - 1) / sampleStep);

    std::atomic<std::size_t> pointCount{0};
    std::atomic<bool> failed{false}; // over the limit, or out of memory
    const auto stopped = [&] {
        return failed.load(std::memory_order_relaxed) ||
               (cancelled && cancelled->load(std::memory_order_relaxed));
    };
    // Each task writes only its own block and the samples of its own scans.
    const auto decodeBlock = [&](std::size_t blockIndex) {
        Block& block = index->blocks_[blockIndex];
        const std::size_t begin = blockIndex * kScansPerBlock;
        const std::size_t end = std::min(scans.size(), begin + kScansPerBlock);
        try {
            std::vector<float> mz;
            std::vector<float> intensity;
            block.scanStart.reserve(end - begin + 1);
            for (std::size_t k = begin; k < end; ++k) {
                if (stopped()) {
                    return;
                }
                block.scanStart.push_back(static_cast<std::uint32_t>(mz.size()));
                // A scan that cannot be decoded contributes nothing, as an empty one would.
                const auto spectrum = run.Decode(scans[k]);
                if (!spectrum) {
                    continue;
                }
                const auto first = std::lower_bound(spectrum->mz.begin(), spectrum->mz.end(), range.lowMz);
                const auto last = std::upper_bound(first, spectrum->mz.end(), range.highMz);
                const auto offset = static_cast<std::size_t>(first - spectrum->mz.begin());
                const auto count = static_cast<std::size_t>(last - first);
                const std::size_t before = mz.size();
                if (mz.capacity() < before + count) {
                    // Room for the rest of the block at this scan's size, so that it is rarely copied.
                    const std::size_t room =
                        std::max(before + count * (end - k), mz.capacity() + mz.capacity() / 2);
                    mz.reserve(room);
                    intensity.reserve(room);
                }
                mz.resize(before + count);
                intensity.resize(before + count);
                std::size_t kept = before;
                for (std::size_t i = offset; i < offset + count; ++i) {
                    const auto pointIntensity = static_cast<float>(spectrum->intensity[i]);
                    mz[kept] = static_cast<float>(spectrum->mz[i]);
                    intensity[kept] = pointIntensity;
                    kept += pointIntensity != 0.0f ? 1 : 0;
                }
                mz.resize(kept);
                intensity.resize(kept);
                // Offsets within a block are 32-bit: a block past that is as much over the limit as any.
                const std::size_t added = kept - before;
                if (pointCount.fetch_add(added, std::memory_order_relaxed) + added > maxPoints ||
                    kept > std::numeric_limits<std::uint32_t>::max()) {
                    failed = true;
                    return;
                }
                if (k % sampleStep == 0) {
                    const bool centroid = run.Scans()[scans[k]].centroid;
                    samples[k / sampleStep] = {RelativeSpacingPpm(spectrum->mz, centroid), centroid};
                }
            }
            block.scanStart.push_back(static_cast<std::uint32_t>(mz.size()));
            if (mz.empty()) {
                return; // a block without points has no room in the store
            }
            float* stored = index->points_->Take(2 * mz.size());
            std::memcpy(stored, mz.data(), mz.size() * sizeof(float));
            std::memcpy(stored + mz.size(), intensity.data(), intensity.size() * sizeof(float));
            block.mz = stored;
            block.intensity = stored + mz.size();
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    };
    // A compressed data set goes back to a snapshot for every read out of file order: one thread.
    {
        WorkerPool pool(run.SeeksCheaply() ? threadCount : 1);
        for (std::size_t blockIndex = 0; blockIndex < index->blocks_.size() && !stopped(); ++blockIndex) {
            pool.Submit([&decodeBlock, blockIndex] { decodeBlock(blockIndex); });
        }
    }
    if (stopped()) {
        return nullptr;
    }
    index->pointCount_ = pointCount.load();

    std::vector<double> profileSpacings;
    std::vector<double> centroidSpacings;
    for (const Sample& sample : samples) {
        if (sample.spacingPpm >= 0.0) {
            (sample.centroid ? centroidSpacings : profileSpacings).push_back(sample.spacingPpm);
        }
    }
    // The kind most scans are decides; a run without enough points anywhere counts as low-resolution.
    if (profileSpacings.size() > centroidSpacings.size()) {
        index->window_.highResolution = Median(std::move(profileSpacings)) < kProfileHighResolutionPpm;
    } else if (!centroidSpacings.empty()) {
        index->window_.highResolution = Median(std::move(centroidSpacings)) < kCentroidHighResolutionPpm;
    }
    return index;
}

std::vector<double> SurveyIonIndex::Extract(double mz) const {
    const double halfWidth = window_.HalfWidthAt(mz);
    // The bounds in the precision the points are held in, so that a point on the edge is inside.
    const float low = static_cast<float>(mz - halfWidth);
    const float high = static_cast<float>(mz + halfWidth);
    std::vector<double> intensity(rtMinutes_.size(), 0.0);
    for (std::size_t scan = 0; scan < rtMinutes_.size(); ++scan) {
        const Block& block = blocks_[scan / kScansPerBlock];
        const std::size_t inBlock = scan % kScansPerBlock;
        const float* first = block.mz + block.scanStart[inBlock];
        const float* last = block.mz + block.scanStart[inBlock + 1];
        double sum = 0.0;
        for (const float* it = std::lower_bound(first, last, low); it != last && *it <= high; ++it) {
            sum += static_cast<double>(block.intensity[it - block.mz]);
        }
        intensity[scan] = sum;
    }
    return intensity;
}

SurveyIonIndexBuild::SurveyIonIndexBuild(std::shared_ptr<const MsRun> run, std::size_t maxPoints) {
    thread_ = std::thread([this, run = std::move(run), maxPoints]() mutable {
        index_ = SurveyIonIndex::Build(*run, maxPoints, 0, &cancelled_);
        run.reset(); // the run may go as soon as nothing else holds it
    });
}

SurveyIonIndexBuild::~SurveyIonIndexBuild() {
    cancelled_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::shared_ptr<const SurveyIonIndex> SurveyIonIndexBuild::Index() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return index_;
}

} // namespace varnex::host
