// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawdata/RawData.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "rawdata/MsRun.h"

using varnex::rawdata::MsRun;

// RawPathRecord contents written by ConvertPathToTarnFile (bytes 0..775; 776.. belong to the caller):
//   0..3   "VXRP"
//   4..7   handle of the path in the process-wide path table (uint32, from 1)
//   8..775 the path, NUL-terminated, cut to 767 bytes when longer
// The handle, not the stored text, names the data set, so paths of any length work; the text is there
// for people looking at the bytes. The table keeps each distinct path once.
namespace {

// Doubles to floats, each rounded as its own conversion rounds it; four at a time where the processor
// converts them so (always on x86-64), since survey scans are read whole and profile scans hold tens of
// thousands of points.
void NarrowToFloats(const double* from, float* to, std::size_t count) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4) {
        const __m128 low = _mm_cvtpd_ps(_mm_loadu_pd(from + i));
        const __m128 high = _mm_cvtpd_ps(_mm_loadu_pd(from + i + 2));
        _mm_storeu_ps(to + i, _mm_movelh_ps(low, high));
    }
#endif
    for (; i < count; ++i) {
        to[i] = static_cast<float>(from[i]);
    }
}

constexpr char kRecordMagic[4] = {'V', 'X', 'R', 'P'};
constexpr std::size_t kOffsetHandle = 4;
constexpr std::size_t kOffsetPathText = 8;
constexpr std::size_t kPathTextCapacity = RawPathRecord::kOffsetProcess - kOffsetPathText;
// Paths whose parsed run the table keeps at hand; others are looked up again (cheaply, through the
// run cache) when next used.
constexpr std::size_t kResolvedPaths = 4;

struct PathEntry {
    std::string path;
    std::shared_ptr<const MsRun> run;
    std::uint64_t lastResolved = 0;
};

std::mutex g_pathMutex;
std::vector<PathEntry> g_paths; // handle h is g_paths[h - 1]
std::unordered_map<std::string, std::uint32_t> g_pathHandles;
std::uint64_t g_resolveClock = 0;
// Bumped whenever any entry's run changes, so that per-thread copies know when to look again.
std::atomic<std::uint64_t> g_pathGeneration{1};

struct ThreadRunCache {
    std::uint32_t handle = 0;
    std::uint64_t generation = 0;
    std::shared_ptr<const MsRun> run;
};
thread_local ThreadRunCache t_runCache;

std::mutex g_openErrorMutex;
std::unordered_map<std::string, std::string> g_openErrors; // path -> why its last open failed

// Opens through the run cache and remembers why an open failed, for RawDataOpenError.
std::shared_ptr<const MsRun> OpenRun(const std::string& path) {
    std::string error;
    std::shared_ptr<const MsRun> run = MsRun::Open(path, &error);
    std::lock_guard lock(g_openErrorMutex);
    if (run) {
        g_openErrors.erase(path);
    } else {
        g_openErrors[path] = error.empty() ? "it cannot be read" : error;
    }
    return run;
}

std::uint32_t RecordHandle(const RawPathRecord& record) {
    if (std::memcmp(record.bytes, kRecordMagic, sizeof kRecordMagic) != 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(record.GetInt32(kOffsetHandle));
}

// Opens (through the run cache) the data set of `handle` afresh and keeps it in the table; drops the
// run of the least recently resolved entry when too many are kept. Called with g_pathMutex held.
std::shared_ptr<const MsRun> ResolveLocked(std::uint32_t handle) {
    PathEntry& entry = g_paths[handle - 1];
    std::shared_ptr<const MsRun> run = OpenRun(entry.path);
    if (run != entry.run) {
        entry.run = run;
        g_pathGeneration.fetch_add(1, std::memory_order_acq_rel);
    }
    entry.lastResolved = ++g_resolveClock;
    std::size_t kept = 0;
    PathEntry* oldest = nullptr;
    for (PathEntry& e : g_paths) {
        if (e.run) {
            ++kept;
            if (!oldest || e.lastResolved < oldest->lastResolved) {
                oldest = &e;
            }
        }
    }
    if (kept > kResolvedPaths && oldest) {
        oldest->run.reset();
        g_pathGeneration.fetch_add(1, std::memory_order_acq_rel);
    }
    return run;
}

// The run of the record's data set: re-resolved (so a changed file is noticed) when `fresh`, else the
// one resolved last, without a system call on the usual path.
std::shared_ptr<const MsRun> RunOfRecord(const RawPathRecord& record, bool fresh) {
    const std::uint32_t handle = RecordHandle(record);
    const std::uint64_t generation = g_pathGeneration.load(std::memory_order_acquire);
    if (!fresh && handle != 0 && t_runCache.handle == handle && t_runCache.generation == generation &&
        t_runCache.run) {
        return t_runCache.run;
    }
    std::lock_guard lock(g_pathMutex);
    if (handle == 0 || handle > g_paths.size()) {
        return nullptr;
    }
    std::shared_ptr<const MsRun> run = g_paths[handle - 1].run;
    if (fresh || !run) {
        run = ResolveLocked(handle);
    }
    t_runCache = {handle, g_pathGeneration.load(std::memory_order_acquire), run};
    return run;
}

const varnex::rawdata::ScanInfo* ScanOfRecord(const MsRun& run, const RawPathRecord& record,
                                              std::uint32_t scan) {
    const auto& scans = run.ScansOfFunction(record.GetInt16(RawPathRecord::kOffsetFunction));
    if (scan < 1 || scan > scans.size()) {
        return nullptr;
    }
    return &run.Scans()[scans[scan - 1]];
}

} // namespace

void RawPathRecord::Zero() {
    std::memset(bytes, 0, sizeof bytes);
}

void RawPathRecord::SetInt32(std::size_t offset, std::int32_t value) {
    if (offset + sizeof value <= kSize) {
        std::memcpy(bytes + offset, &value, sizeof value);
    }
}

void RawPathRecord::SetInt16(std::size_t offset, std::int16_t value) {
    if (offset + sizeof value <= kSize) {
        std::memcpy(bytes + offset, &value, sizeof value);
    }
}

std::int32_t RawPathRecord::GetInt32(std::size_t offset) const {
    std::int32_t value = 0;
    if (offset + sizeof value <= kSize) {
        std::memcpy(&value, bytes + offset, sizeof value);
    }
    return value;
}

std::int16_t RawPathRecord::GetInt16(std::size_t offset) const {
    std::int16_t value = 0;
    if (offset + sizeof value <= kSize) {
        std::memcpy(&value, bytes + offset, sizeof value);
    }
    return value;
}

float ScanStatsRecord::GetFloat(std::size_t offset) const {
    float value = 0.0f;
    if (offset + sizeof value <= kSize) {
        std::memcpy(&value, bytes + offset, sizeof value);
    }
    return value;
}

void ScanStatsRecord::SetFloat(std::size_t offset, float value) {
    if (offset + sizeof value <= kSize) {
        std::memcpy(bytes + offset, &value, sizeof value);
    }
}

int ConvertPathToTarnFile(RawPathRecord& record, const char* path) {
    if (!path) {
        return 0;
    }
    std::uint32_t handle = 0;
    {
        std::lock_guard lock(g_pathMutex);
        const auto [it, inserted] = g_pathHandles.try_emplace(path, 0);
        if (inserted) {
            g_paths.push_back({path, nullptr, 0});
            it->second = static_cast<std::uint32_t>(g_paths.size());
        }
        handle = it->second;
    }
    std::memcpy(record.bytes, kRecordMagic, sizeof kRecordMagic);
    record.SetInt32(kOffsetHandle, static_cast<std::int32_t>(handle));
    const std::size_t length = std::min(std::strlen(path), kPathTextCapacity - 1);
    std::memcpy(record.bytes + kOffsetPathText, path, length);
    std::memset(record.bytes + kOffsetPathText + length, 0, kPathTextCapacity - length);
    return 1;
}

std::uint32_t DmRawScansInFunction(RawPathRecord& record) {
    const std::shared_ptr<const MsRun> run = RunOfRecord(record, true);
    if (!run) {
        return 0;
    }
    return static_cast<std::uint32_t>(
        run->ScansOfFunction(record.GetInt16(RawPathRecord::kOffsetFunction)).size());
}

int DmRawReadScanStatsVB(RawPathRecord& record, std::uint32_t scan, int /*reserved*/,
                         ScanStatsRecord& stats) {
    const std::shared_ptr<const MsRun> run = RunOfRecord(record, false);
    const varnex::rawdata::ScanInfo* info = run ? ScanOfRecord(*run, record, scan) : nullptr;
    if (!info) {
        return 0;
    }
    std::memset(stats.bytes, 0, sizeof stats.bytes);
    stats.SetFloat(ScanStatsRecord::kOffsetRetentionTime, static_cast<float>(info->rtMinutes));
    stats.SetFloat(ScanStatsRecord::kOffsetSetMass, static_cast<float>(info->SetMass()));
    return 1;
}

std::string varnex::rawdata::RawDataOpenError(const char* path) {
    if (!path) {
        return {};
    }
    std::lock_guard lock(g_openErrorMutex);
    const auto it = g_openErrors.find(path);
    return it != g_openErrors.end() ? it->second : std::string();
}

CDatafileSampleInfo::CDatafileSampleInfo() = default;
CDatafileSampleInfo::~CDatafileSampleInfo() = default;

int CDatafileSampleInfo::GetNumFunctions() const {
    return functionCount_;
}

std::string CDatafileSampleInfo::GetFunctionDescription(int function) const {
    if (function < 1 || function > static_cast<int>(descriptions_.size())) {
        return {};
    }
    return descriptions_[static_cast<std::size_t>(function - 1)];
}

struct CDMRawDatafile::Impl {
    std::shared_ptr<const MsRun> run;
};

CDMRawDatafile::CDMRawDatafile() = default;
CDMRawDatafile::~CDMRawDatafile() = default;

int CDMRawDatafile::Open(const char* path, int /*flags*/) {
    impl_.reset();
    if (!path) {
        return 0;
    }
    std::shared_ptr<const MsRun> run = OpenRun(path);
    if (!run) {
        return 0;
    }
    impl_ = std::make_shared<const Impl>(Impl{std::move(run)});
    return 1;
}

int CDMRawDatafile::ReadSampleInfo(CDatafileSampleInfo& info) {
    if (!impl_) {
        return 0;
    }
    const MsRun& run = *impl_->run;
    info.functionCount_ = run.FunctionCount();
    info.descriptions_.clear();
    for (int f = 1; f <= run.FunctionCount(); ++f) {
        info.descriptions_.push_back(run.FunctionDescription(f));
    }
    return 1;
}

void CChromatogramType::SetTrace(const char* trace, bool /*flag*/) {
    trace_ = trace ? trace : "";
}

struct CRawDatafile::Impl {
    std::shared_ptr<const MsRun> run;
    int function = -1; // from 0, -1 when none is selected
};

CRawDatafile::CRawDatafile() : impl_(std::make_unique<Impl>()) {}
CRawDatafile::~CRawDatafile() = default;

bool CRawDatafile::Open(const char* path, int /*flags*/) {
    impl_->run = path ? OpenRun(path) : nullptr;
    impl_->function = -1;
    return impl_->run != nullptr;
}

bool CRawDatafile::SelectFunction(int function) {
    if (!impl_->run || function < 0 || function >= impl_->run->FunctionCount()) {
        impl_->function = -1;
        return false;
    }
    impl_->function = function;
    return true;
}

bool CRawDatafile::GetScan(long long scan, float*& masses, float*& intensities, int& count) {
    masses = nullptr;
    intensities = nullptr;
    count = 0;
    if (!impl_->run) {
        return false;
    }
    const auto& scans = impl_->run->ScansOfFunction(impl_->function + 1);
    if (scan < 0 || static_cast<unsigned long long>(scan) >= scans.size()) {
        masses = new float[0];
        intensities = new float[0];
        return true;
    }
    const std::shared_ptr<const varnex::rawdata::Spectrum> spectrum =
        impl_->run->Decode(scans[static_cast<std::size_t>(scan)]);
    if (!spectrum) {
        return false;
    }
    const std::size_t n = spectrum->mz.size();
    masses = new float[n];
    intensities = new float[n];
    NarrowToFloats(spectrum->mz.data(), masses, n);
    NarrowToFloats(spectrum->intensity.data(), intensities, n);
    count = static_cast<int>(n);
    return true;
}

bool CRawDatafile::ReadsCheaplyOutOfOrder() const {
    return !impl_->run || impl_->run->SeeksCheaply();
}

struct CChromatogram::Source {
    std::shared_ptr<const MsRun> run;
    int function = 0; // from 1
    bool wholeRun = true;
    double fromMinutes = 0.0;
    double toMinutes = 0.0;
};

CChromatogram::CChromatogram() = default;
CChromatogram::~CChromatogram() = default;
CChromatogram::CChromatogram(CChromatogram&&) noexcept = default;
CChromatogram& CChromatogram::operator=(CChromatogram&&) noexcept = default;

const std::vector<float>& CChromatogram::RtMinutes() const {
    Compute();
    return rtMinutes_;
}

const std::vector<float>& CChromatogram::Values() const {
    Compute();
    return values_;
}

void CChromatogram::Compute() const {
    if (!source_) {
        return;
    }
    const std::unique_ptr<const Source> source = std::move(source_);
    const MsRun& run = *source->run;
    for (const std::size_t index : run.ScansOfFunction(source->function)) {
        const varnex::rawdata::ScanInfo& info = run.Scans()[index];
        if (!source->wholeRun &&
            (info.rtMinutes < source->fromMinutes || info.rtMinutes > source->toMinutes)) {
            continue;
        }
        double tic = info.tic;
        if (!info.hasTic) {
            // The file gives no total: sum the spectrum (0 when it cannot be decoded).
            tic = 0.0;
            if (const auto spectrum = run.Decode(index)) {
                for (const double intensity : spectrum->intensity) {
                    tic += intensity;
                }
            }
        }
        rtMinutes_.push_back(static_cast<float>(info.rtMinutes));
        values_.push_back(static_cast<float>(tic));
    }
}

bool CRawDatafile::ReadChromatogram(CChromatogram& chromatogram, const CChromatogramType& type,
                                    double& fromMinutes, double& toMinutes) {
    chromatogram.source_.reset();
    chromatogram.rtMinutes_.clear();
    chromatogram.values_.clear();
    if (!impl_->run || impl_->function < 0 || type.Trace() != "TIC") {
        return false;
    }
    chromatogram.source_ = std::make_unique<const CChromatogram::Source>(CChromatogram::Source{
        impl_->run, impl_->function + 1, !(toMinutes > fromMinutes), fromMinutes, toMinutes});
    return true;
}

namespace {
// Mobility scans just beside the precursor's window still hold some of its ions, V·s/cm². Kept small:
// the window already spans the precursor's mobility peak, and each step wider lets in the neighbours'.
constexpr double kMobilityMarginVsPerCm2 = 0.003;
// Time-of-flight bins: their m/z width grows with the square root of m/z. This low a quantile of the
// frame's gaps between neighbouring distinct m/z values, over that root, is one bin.
constexpr double kBinQuantile = 0.05;
// Smoothing over neighbouring bins, which holds the few counts of one mobility window together as a peak.
constexpr int kSmoothBins = 3;
constexpr double kSmoothWeights[kSmoothBins + 1] = {4.0, 3.0, 2.0, 1.0};

// One survey frame's points inside a mobility range, summed per time-of-flight bin and smoothed over the
// neighbouring bins into a profile on the frame's own m/z grid, zero where no ion arrived.
void MobilityWindowProfile(const varnex::rawdata::Spectrum& frame, bool whole, double from, double to,
                           std::vector<float>& masses, std::vector<float>& intensities) {
    std::vector<double> ratios;
    for (std::size_t i = 1; i < frame.mz.size(); ++i) {
        const double gap = frame.mz[i] - frame.mz[i - 1];
        if (gap > 0.0 && frame.mz[i - 1] > 0.0) {
            ratios.push_back(gap / std::sqrt(frame.mz[i - 1]));
        }
    }
    if (ratios.empty()) {
        return;
    }
    const auto quantile = ratios.begin() + static_cast<std::ptrdiff_t>(kBinQuantile * ratios.size());
    std::nth_element(ratios.begin(), quantile, ratios.end());
    const double binPerRoot = *quantile;
    // Bins with counts, in m/z order.
    std::vector<std::pair<double, double>> bins;
    for (std::size_t i = 0; i < frame.mz.size(); ++i) {
        const double mobility = frame.inverseMobility[i];
        const double intensity = frame.intensity[i];
        if ((!whole && !(mobility >= from && mobility <= to)) || !(intensity > 0.0) ||
            !std::isfinite(intensity)) {
            continue;
        }
        const double mz = frame.mz[i];
        if (!bins.empty() && mz - bins.back().first < 0.5 * binPerRoot * std::sqrt(mz)) {
            bins.back().second += intensity;
        } else {
            bins.emplace_back(mz, intensity);
        }
    }
    // Walk the grid: every bin within kSmoothBins of a counted one gets the weighted sum of its neighbours;
    // a zero point closes each stretch of signal.
    std::size_t next = 0;
    while (next < bins.size()) {
        std::size_t end = next + 1;
        while (end < bins.size() && bins[end].first - bins[end - 1].first <
                                        (2 * kSmoothBins + 3.0) * binPerRoot * std::sqrt(bins[end].first)) {
            ++end;
        }
        // Stretch [next, end): grid points from kSmoothBins + 1 bins before its first to after its last.
        const double pitchStart = binPerRoot * std::sqrt(bins[next].first);
        double mz = bins[next].first - (kSmoothBins + 1) * pitchStart;
        const double stop =
            bins[end - 1].first + (kSmoothBins + 1.5) * binPerRoot * std::sqrt(bins[end - 1].first);
        std::size_t low = next;
        while (mz < stop) {
            const double pitch = binPerRoot * std::sqrt(mz);
            while (low < end && bins[low].first < mz - (kSmoothBins + 0.5) * pitch) {
                ++low;
            }
            double sum = 0.0;
            for (std::size_t k = low; k < end && bins[k].first <= mz + (kSmoothBins + 0.5) * pitch; ++k) {
                const int offset = static_cast<int>(std::lround(std::fabs(bins[k].first - mz) / pitch));
                sum += offset <= kSmoothBins ? kSmoothWeights[offset] * bins[k].second : 0.0;
            }
            if (masses.empty() || static_cast<float>(mz) > masses.back()) {
                masses.push_back(static_cast<float>(mz));
                intensities.push_back(static_cast<float>(sum));
            }
            mz += pitch;
        }
        next = end;
    }
}
} // namespace

bool CRawDatafile::GetMobilityWindow(int function, long long scan, double& lower, double& upper) const {
    if (!impl_->run) {
        return false;
    }
    const auto& scans = impl_->run->ScansOfFunction(function + 1);
    if (scan < 0 || static_cast<unsigned long long>(scan) >= scans.size()) {
        return false;
    }
    const varnex::rawdata::ScanInfo& info = impl_->run->Scans()[scans[static_cast<std::size_t>(scan)]];
    if (!(info.mobilityHigh > 0.0)) {
        return false;
    }
    lower = info.mobilityLow;
    upper = info.mobilityHigh;
    return true;
}

bool CRawDatafile::HasMobilityWindows() const {
    if (!impl_->run) {
        return false;
    }
    const auto& scans = impl_->run->Scans();
    return std::any_of(scans.begin(), scans.end(),
                       [](const varnex::rawdata::ScanInfo& info) { return info.mobilityHigh > 0.0; });
}

bool CRawDatafile::GetSurveyScanInMobilityWindow(long long scan, double lower, double upper, float*& masses,
                                                 float*& intensities, int& count) {
    masses = nullptr;
    intensities = nullptr;
    count = 0;
    if (!impl_->run) {
        return false;
    }
    const auto& scans = impl_->run->ScansOfFunction(1);
    if (scan < 0 || static_cast<unsigned long long>(scan) >= scans.size()) {
        return false;
    }
    const std::shared_ptr<const varnex::rawdata::Spectrum> spectrum =
        impl_->run->Decode(scans[static_cast<std::size_t>(scan)]);
    if (!spectrum || spectrum->inverseMobility.size() != spectrum->mz.size()) {
        return false;
    }
    std::vector<float> mergedMasses;
    std::vector<float> mergedIntensities;
    MobilityWindowProfile(*spectrum, lower > upper, lower - kMobilityMarginVsPerCm2,
                          upper + kMobilityMarginVsPerCm2, mergedMasses, mergedIntensities);
    const std::size_t n = mergedMasses.size();
    masses = new float[n];
    intensities = new float[n];
    std::copy(mergedMasses.begin(), mergedMasses.end(), masses);
    std::copy(mergedIntensities.begin(), mergedIntensities.end(), intensities);
    count = static_cast<int>(n);
    return true;
}

namespace varnex::rawdata {

struct DataSetHold::Impl {
    explicit Impl(const std::string& path) : hold(path) {}
    MsRun::Hold hold;
};

DataSetHold::DataSetHold(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}
DataSetHold::~DataSetHold() = default;

} // namespace varnex::rawdata

QXSpectrum::~QXSpectrum() {
    delete[] m_pMasses;
    delete[] m_pIntensities;
}

void QXSpectrum::SetData(float* masses, float* intensities, int count) {
    if (masses != m_pMasses) {
        delete[] m_pMasses;
    }
    if (intensities != m_pIntensities) {
        delete[] m_pIntensities;
    }
    m_pMasses = masses;
    m_pIntensities = intensities;
    m_nPoints = count;
}
