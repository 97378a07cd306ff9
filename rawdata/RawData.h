// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The raw-data library's interface as the precursor-list builder sees it: two byte records shared with
// the scan functions, the scan functions themselves, and the reader classes. Functions and scans count
// from 1 in the records and scan functions, from 0 in CRawDatafile (whose function 0 is the survey
// function). Behind it sits our mzML/mzXML reader; nothing here exposes it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Filled from a data-set path by ConvertPathToTarnFile. The caller owns the four fields below.
struct RawPathRecord {
    static constexpr std::size_t kSize = 788;
    static constexpr std::size_t kOffsetProcess = 776;       // int32, set to 1 before each scan count
    static constexpr std::size_t kOffsetScanCount = 780;     // int32, the count DmRawScansInFunction gave
    static constexpr std::size_t kOffsetFunction = 784;      // int16, 1 = survey, 2.. = MS/MS
    static constexpr std::size_t kOffsetStatsSelector = 786; // int16, 0 before each statistics read

    unsigned char bytes[kSize];

    void Zero();
    void SetInt32(std::size_t offset, std::int32_t value);
    void SetInt16(std::size_t offset, std::int16_t value);
    std::int32_t GetInt32(std::size_t offset) const;
    std::int16_t GetInt16(std::size_t offset) const;
};
static_assert(sizeof(RawPathRecord) == RawPathRecord::kSize);

// Filled by DmRawReadScanStatsVB; only the two floats below have a meaning for callers.
struct ScanStatsRecord {
    static constexpr std::size_t kSize = 248;
    static constexpr std::size_t kOffsetRetentionTime = 16; // float, minutes
    static constexpr std::size_t kOffsetSetMass = 192;      // float, m/z; 0.0 for survey scans

    unsigned char bytes[kSize];

    float GetFloat(std::size_t offset) const;
    void SetFloat(std::size_t offset, float value);
};
static_assert(sizeof(ScanStatsRecord) == ScanStatsRecord::kSize);

// Returns 0 only for a null path, which leaves the record as it was.
int ConvertPathToTarnFile(RawPathRecord& record, const char* path);
// Scan count of the record's function; 0 when the data set or the function cannot be read.
std::uint32_t DmRawScansInFunction(RawPathRecord& record);
// Statistics of scan `scan` (from 1) of the record's function. Returns nonzero on success; on failure
// the buffer is left as it was.
int DmRawReadScanStatsVB(RawPathRecord& record, std::uint32_t scan, int reserved, ScanStatsRecord& stats);

namespace varnex::rawdata {

// Ours, beside the library's calls, which only say that a data set cannot be read: why the last attempt
// of this process to open `path` failed ("not an mzML or mzXML data set", "it holds more than ...
// spectra ..."). Empty when that attempt succeeded or none was made.
std::string RawDataOpenError(const char* path);

} // namespace varnex::rawdata

class CDatafileSampleInfo {
public:
    CDatafileSampleInfo();
    ~CDatafileSampleInfo();
    int GetNumFunctions() const;
    // `function` from 1; empty for a function that does not exist.
    std::string GetFunctionDescription(int function) const;

private:
    friend class CDMRawDatafile;
    int functionCount_ = 0;
    std::vector<std::string> descriptions_;
};

class CDMRawDatafile {
public:
    CDMRawDatafile();
    ~CDMRawDatafile();
    // Returns 0 on failure.
    int Open(const char* path, int flags);
    int ReadSampleInfo(CDatafileSampleInfo& info);

private:
    struct Impl;
    std::shared_ptr<const Impl> impl_;
};

class CChromatogramType {
public:
    void SetTrace(const char* trace, bool flag);
    const std::string& Trace() const { return trace_; }

private:
    std::string trace_;
};

// A trace as ReadChromatogram leaves it. Its points are worked out when first asked for, so a read whose
// trace nobody looks at decodes nothing (where the file gives no totals, every spectrum is summed). Like
// a container, one object is used by one thread at a time.
class CChromatogram {
public:
    CChromatogram();
    ~CChromatogram();
    CChromatogram(CChromatogram&&) noexcept;
    CChromatogram& operator=(CChromatogram&&) noexcept;

    const std::vector<float>& RtMinutes() const;
    const std::vector<float>& Values() const;

private:
    friend class CRawDatafile;
    struct Source;
    void Compute() const;

    mutable std::unique_ptr<const Source> source_; // what is still to be read; null once read
    mutable std::vector<float> rtMinutes_;
    mutable std::vector<float> values_;
};

class CRawDatafile {
public:
    CRawDatafile();
    ~CRawDatafile();
    CRawDatafile(const CRawDatafile&) = delete;
    CRawDatafile& operator=(const CRawDatafile&) = delete;

    bool Open(const char* path, int flags);
    // `function` from 0; 0 is the survey function.
    bool SelectFunction(int function);
    // Scan `scan` (from 0) of the selected function. On success the arrays are allocated with new[] and
    // ownership passes to the caller (QXSpectrum::SetData adopts them). A scan index outside the function
    // gives two empty, non-null arrays and a count of 0; a spectrum that cannot be decoded, or a reader
    // that is not open, leaves both outputs null and returns false. It changes nothing in the reader, so
    // several threads may call it at once while nothing opens the reader or selects a function.
    bool GetScan(long long scan, float*& masses, float*& intensities, int& count);
    // False when scans should be read in file order because going back is expensive (a compressed data
    // set); true for a reader that is not open.
    bool ReadsCheaplyOutOfOrder() const;
    // Sets `chromatogram` to the trace of the selected function; only the "TIC" trace is known. A zero
    // range means the whole run.
    bool ReadChromatogram(CChromatogram& chromatogram, const CChromatogramType& type, double& fromMinutes,
                          double& toMinutes);

    // Varnex's own reads for trapped-ion-mobility data, beside GetScan.
    // The ion-mobility window (inverse reduced mobility, V·s/cm²) MS/MS scan `scan` (from 0) of `function`
    // (from 0) was isolated in; false when the scan gives none.
    bool GetMobilityWindow(int function, long long scan, double& lower, double& upper) const;
    // Whether any MS/MS scan of the data set gives an ion-mobility window.
    bool HasMobilityWindows() const;
    // Survey scan `scan` (from 0) of function 0 as the precursor isolated in [lower, upper] sees it: only
    // the points whose mobility lies in that window widened by a small margin (every point when
    // lower > upper), and points of one m/z from different mobility scans summed into one. False, with
    // both outputs null, when the scan carries no per-point mobility or cannot be read; otherwise as
    // GetScan (ownership of the arrays passes to the caller).
    bool GetSurveyScanInMobilityWindow(long long scan, double lower, double upper, float*& masses,
                                       float*& intensities, int& count);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

namespace varnex::rawdata {

// Keeps one data set open for a whole pass over it: while a hold lives, every open of its path in this
// process (readers, sample information, scan functions, on any thread) uses the version opened here and
// does not look at the file again. A file that keeps changing is thus read once per pass, and a change
// made during the pass is seen at the first open after the last hold has ended. A hold on a data set that
// does not open changes nothing.
class DataSetHold final {
public:
    explicit DataSetHold(const std::string& path);
    ~DataSetHold();
    DataSetHold(const DataSetHold&) = delete;
    DataSetHold& operator=(const DataSetHold&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace varnex::rawdata

// A spectrum that owns the arrays handed to SetData.
class QXSpectrum {
public:
    QXSpectrum() = default;
    virtual ~QXSpectrum();
    QXSpectrum(const QXSpectrum&) = delete;
    QXSpectrum& operator=(const QXSpectrum&) = delete;

    virtual void SetData(float* masses, float* intensities, int count);

    float* m_pMasses = nullptr;
    float* m_pIntensities = nullptr;
    std::int32_t m_nPoints = 0;
};
