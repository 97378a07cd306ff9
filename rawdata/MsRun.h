// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// MsRun: our reader of one LC-MS run stored as mzML (indexed or not, optionally gzip-compressed) or
// mzXML (indexed or not).
//
// Opening a run builds an index of its spectra with their metadata (level, retention time, precursor,
// centroid flag, polarity, scan range, activation, total ion current) without decoding any array.
// Indexed files are read by random access through their index; when the index is missing, stale or
// points anywhere but at the spectrum it names, the whole file is scanned sequentially instead. Only
// small per-spectrum header fragments are ever parsed as XML, so memory stays small whatever the file
// size. Spectra whose header is broken are left out of the index (see DamagedSpectrumCount); spectra
// whose arrays are broken are listed and fail only when decoded.
//
// Functions and scans: ids carrying `function=F` put the spectrum into function F, ids carrying
// `experiment=E` (cycle/experiment layouts) into function E, otherwise the MS level L gives function L.
// The id layout is decided once for the whole file: only when every spectrum's id names a function
// (or every one an experiment) is that layout used. Function 1 holds the survey scans. The scans of a
// function are numbered 1..S in file order.
//
// Runs are shared: MsRun::Open hands out the same parsed run for the same unchanged file (path, size
// and modification time) from a small process-wide cache, and every run keeps the last few decoded
// spectra. While a Hold on a path lives, Open hands out the held run without looking at the file. All
// const members may be called from several threads at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varnex::rawdata {

class ByteSource;
struct ParamGroups;

enum class Polarity : std::uint8_t { Unknown, Positive, Negative };

// One spectrum's metadata. A run keeps one for each of its spectra, so the fields are laid out without
// padding and the spectrum's id is not among them (MsRun::NativeId reads it when asked).
struct ScanInfo {
    int function = 0;   // from 1
    int scanNumber = 0; // from 1, within the function
    int msLevel = 0;
    int charge = 0; // 0 when the file gives none
    double rtMinutes = 0.0;
    double isolationTargetMz = 0.0; // 0 when the file gives none
    double selectedIonMz = 0.0;     // 0 when the file gives none
    double tic = 0.0;
    double scanLowMz = 0.0; // scan window; both 0 when the file gives none
    double scanHighMz = 0.0;
    // Inverse reduced ion mobility (V·s/cm²) the precursor was isolated in (timsTOF PASEF): the window's
    // limits, or both its centre when only that is given; both 0 when none, always 0 for MS1 scans.
    double mobilityLow = 0.0;
    double mobilityHigh = 0.0;
    std::string activation; // "HCD", "CID", "ETD", "EThcD" ...; empty for survey scans
    bool centroid = false;
    bool hasTic = false;
    Polarity polarity = Polarity::Unknown;

    // Isolation target, else selected-ion m/z, else 0; always 0 for MS1 scans.
    double SetMass() const;
};

// One decoded spectrum. Masses ascend (points are sorted when the file stores them otherwise; points
// without a usable mass are dropped).
struct Spectrum {
    std::vector<double> mz;
    std::vector<double> intensity;
    // Inverse reduced ion mobility (V·s/cm²) of each point, in the same order; empty when the file gives
    // none. Survey frames of trapped-ion-mobility instruments hold every mobility scan's points.
    std::vector<double> inverseMobility;
};

enum class FileFormat { Mzml, Mzxml };

class MsRun {
public:
    // Most spectra a run may hold: far above any acquisition (a long timsTOF or Astral run has a few
    // million), and still a bound on memory. A file with more is refused, never read in part.
    static constexpr std::size_t kMaxSpectra = 32'000'000;

    // Opens `path` through the process-wide cache. Null with `error` set when the file cannot be read as
    // mzML or mzXML or holds no spectrum.
    static std::shared_ptr<const MsRun> Open(const std::string& path, std::string* error = nullptr);
    // Opens without the cache (benchmarks measure a cold parse with it).
    static std::shared_ptr<const MsRun> OpenUncached(const std::string& path, std::string* error = nullptr);
    // Opens bytes held in memory, for the fuzz target and tests; at most `maxSpectra` spectra.
    static std::shared_ptr<const MsRun> OpenBytes(std::string bytes, std::string* error = nullptr,
                                                  std::size_t maxSpectra = kMaxSpectra);
    // Empties the process-wide cache of parsed runs.
    static void ClearCache();

    // Keeps the run of one path for a whole pass over it: while a hold lives, every Open of that path in
    // this process, on any thread, gets the run the first hold opened, without looking at the file again.
    // So a pass reads one version of the data set however often the file is rewritten or touched
    // meanwhile, and a change is seen at the first Open after the last hold on the path has ended.
    class Hold final {
    public:
        explicit Hold(const std::string& path);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        // Null when the path could not be opened; Open then looks at the file every time as usual.
        const std::shared_ptr<const MsRun>& Run() const { return run_; }

    private:
        std::string path_;
        std::shared_ptr<const MsRun> run_;
    };

    // Threads that read the spectrum headers of an indexed file, process-wide; 0 (the default) means one
    // per core. Any count gives the same run: 1 is the reference the others are compared with.
    static void SetMetadataThreads(unsigned threadCount);

    // How often Open has looked at a file (its size and modification time) and how often a file was
    // parsed, process-wide since start.
    struct OpenStatistics {
        std::uint64_t fileLooks = 0;
        std::uint64_t parses = 0;
    };
    static OpenStatistics Statistics();

    ~MsRun();
    MsRun(const MsRun&) = delete;
    MsRun& operator=(const MsRun&) = delete;

    bool UsedIndex() const { return usedIndex_; } // read through the file's index, not by a full scan
    // False for a compressed file, where decoding spectra out of file order is expensive.
    bool SeeksCheaply() const;
    std::size_t DamagedSpectrumCount() const { return damagedSpectra_; }

    // All spectra in file order.
    const std::vector<ScanInfo>& Scans() const { return scans_; }
    // Highest function number; functions without scans in between have none.
    int FunctionCount() const { return static_cast<int>(functions_.size()); }
    // Indexes into Scans() of function `function` (from 1), in scan order; empty outside the range.
    const std::vector<std::size_t>& ScansOfFunction(int function) const;
    // The function's method line from its first spectrum, e.g. "MS2 HCD 100-2000 +"; empty when none.
    const std::string& FunctionDescription(int function) const;

    // The id of spectrum `index` (into Scans()) as the file gives it (mzXML: "scan=<num>"), read from
    // the file again: the run keeps no ids. Empty when it cannot be read.
    std::string NativeId(std::size_t index) const;

    // Decodes spectrum `index` (into Scans()). Null when its data cannot be decoded. Recently decoded
    // spectra are kept, so asking again is cheap.
    std::shared_ptr<const Spectrum> Decode(std::size_t index) const;

private:
    struct Location {
        std::uint64_t offset = 0;
        std::uint64_t length = 0; // 0: not known yet, ends at the closing tag
    };
    struct Function {
        std::vector<std::size_t> scans;
        std::string description;
    };
    class Builder;
    class DecodeCache;

    MsRun();
    static std::shared_ptr<const MsRun> Build(std::unique_ptr<ByteSource> source, std::string* error,
                                              std::size_t maxSpectra = kMaxSpectra);
    bool DecodeUncached(std::size_t index, Spectrum& out) const;
    std::uint64_t SpectrumEndBound(std::size_t index) const;

    std::unique_ptr<ByteSource> source_;
    FileFormat format_ = FileFormat::Mzml;
    bool usedIndex_ = false;
    std::size_t damagedSpectra_ = 0;
    std::uint64_t dataEnd_ = 0; // where the spectra end (the index's offset), when known
    std::vector<ScanInfo> scans_;
    std::vector<Location> locations_;
    std::vector<Function> functions_;
    std::unique_ptr<ParamGroups> paramGroups_;
    std::unique_ptr<DecodeCache> decodeCache_;
};

} // namespace varnex::rawdata
