// SPDX-License-Identifier: GPL-3.0-or-later
// An indexed file's headers are read on several threads: the run must come out exactly as one thread
// reads it, on every real data set and on copies damaged at the edges of the threads' blocks.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rawdata/MsRun.h"
#include "support/RawTestFiles.h"

using varnex::rawdata::MsRun;
using varnex::rawdata::ScanInfo;

namespace {

// Opens `path` with `threads` header threads, and the process-wide default again afterwards.
std::shared_ptr<const MsRun> OpenWithThreads(const std::string& path, unsigned threads) {
    MsRun::SetMetadataThreads(threads);
    std::string error;
    auto run = MsRun::OpenUncached(path, &error);
    MsRun::SetMetadataThreads(0);
    return run;
}

void ExpectIdentical(const MsRun& a, const MsRun& b, const std::string& what) {
    ASSERT_EQ(a.UsedIndex(), b.UsedIndex()) << what;
    ASSERT_EQ(a.DamagedSpectrumCount(), b.DamagedSpectrumCount()) << what;
    ASSERT_EQ(a.FunctionCount(), b.FunctionCount()) << what;
    for (int f = 1; f <= a.FunctionCount(); ++f) {
        EXPECT_EQ(a.ScansOfFunction(f), b.ScansOfFunction(f)) << what;
        EXPECT_EQ(a.FunctionDescription(f), b.FunctionDescription(f)) << what;
    }
    ASSERT_EQ(a.Scans().size(), b.Scans().size()) << what;
    for (std::size_t i = 0; i < a.Scans().size(); ++i) {
        const ScanInfo& x = a.Scans()[i];
        const ScanInfo& y = b.Scans()[i];
        const bool same = x.function == y.function && x.scanNumber == y.scanNumber &&
                          x.msLevel == y.msLevel && x.rtMinutes == y.rtMinutes &&
                          x.isolationTargetMz == y.isolationTargetMz && x.selectedIonMz == y.selectedIonMz &&
                          x.charge == y.charge && x.centroid == y.centroid && x.polarity == y.polarity &&
                          x.hasTic == y.hasTic && x.tic == y.tic && x.scanLowMz == y.scanLowMz &&
                          x.scanHighMz == y.scanHighMz && x.activation == y.activation &&
                          x.mobilityLow == y.mobilityLow && x.mobilityHigh == y.mobilityHigh;
        ASSERT_TRUE(same) << what << ": spectrum " << i;
        if (i % 97 == 0) {
            EXPECT_EQ(a.NativeId(i), b.NativeId(i)) << what << ": spectrum " << i;
        }
    }
    // The spectra are found where one thread finds them.
    for (std::size_t i = 0; i < a.Scans().size(); i += 97) {
        const auto sa = a.Decode(i);
        const auto sb = b.Decode(i);
        ASSERT_EQ(sa == nullptr, sb == nullptr) << what << ": spectrum " << i;
        if (sa) {
            EXPECT_EQ(sa->mz, sb->mz) << what << ": spectrum " << i;
        }
    }
}

// A generated run long enough for many blocks of spectra per thread.
const std::string& LongRun() {
    static const std::string path =
        rawtest::Generated("parallel-index.mzML", "--minutes 3 --seed 11 --ms1-peaks 300 --ms2-peaks 30");
    return path;
}

// `bytes` with the text `from` replaced by `to` (the same length, so the index stays in place) in the
// spectrum whose index attribute is `spectrum`.
std::string ChangedInSpectrum(const std::string& bytes, std::size_t spectrum, const std::string& from,
                              const std::string& to) {
    std::string copy = bytes;
    const std::size_t at = copy.find("<spectrum index=\"" + std::to_string(spectrum) + "\"");
    const std::size_t hit = at == std::string::npos ? at : copy.find(from, at);
    EXPECT_NE(hit, std::string::npos) << spectrum;
    if (hit != std::string::npos) {
        copy.replace(hit, from.size(), to);
    }
    return copy;
}

} // namespace

TEST(ParallelIndex, EveryDataSetReadsAsOneThreadReadsIt) {
    std::vector<std::string> paths = {rawtest::SamplePath()};
    if (rawtest::HaveSharedData()) {
        for (const auto& entry : std::filesystem::directory_iterator(VARNEX_SHARED_DATA_DIR)) {
            const std::string name = entry.path().filename().string();
            if (name.ends_with(".mzML") || name.ends_with(".mzXML") || name.ends_with(".mzML.gz")) {
                paths.push_back(entry.path().string());
            }
        }
    }
    if (rawtest::HaveGenerator()) {
        paths.push_back(LongRun());
    }
    int indexed = 0;
    for (const std::string& path : paths) {
        const auto one = OpenWithThreads(path, 1);
        const auto several = OpenWithThreads(path, 4);
        ASSERT_EQ(one == nullptr, several == nullptr) << path;
        if (one) {
            indexed += one->UsedIndex() ? 1 : 0;
            ExpectIdentical(*one, *several, path);
        }
    }
    EXPECT_GE(indexed, 2); // the sample and the generated run are indexed
}

TEST(ParallelIndex, BrokenHeadersAtBlockEdgesAreLeftOutInOrder) {
    SKIP_WITHOUT_GENERATOR();
    const std::string bytes = rawtest::ReadAll(LongRun());
    const auto whole = OpenWithThreads(LongRun(), 1);
    ASSERT_TRUE(whole && whole->UsedIndex());
    const std::size_t count = whole->Scans().size();
    ASSERT_GT(count, 1000u);
    std::string damaged = bytes;
    const std::vector<std::size_t> broken = {0, 63, 64, 127, 500, count - 1};
    for (const std::size_t spectrum : broken) {
        // Not well-formed any more, same length.
        damaged = ChangedInSpectrum(damaged, spectrum, "<cvParam ", "<cvParam<");
    }
    const std::string path = rawtest::WriteFile("parallel-index-damaged.mzML", damaged);
    const auto one = OpenWithThreads(path, 1);
    const auto several = OpenWithThreads(path, 4);
    ASSERT_TRUE(one && several);
    EXPECT_TRUE(several->UsedIndex());
    EXPECT_EQ(several->DamagedSpectrumCount(), broken.size());
    EXPECT_EQ(several->Scans().size(), count - broken.size());
    EXPECT_EQ(several->NativeId(0), whole->NativeId(1));
    ExpectIdentical(*one, *several, "damaged headers");
}

TEST(ParallelIndex, AnEntryPointingAtTheWrongSpectrumLateInTheFileIsNotTrusted) {
    SKIP_WITHOUT_GENERATOR();
    const std::string bytes = rawtest::ReadAll(LongRun());
    const auto whole = OpenWithThreads(LongRun(), 1);
    ASSERT_TRUE(whole);
    const std::size_t count = whole->Scans().size();
    // The spectrum says it is another one: its index entry no longer names it.
    const std::string number = std::to_string(count - 10);
    const std::string other = std::to_string(count - 20);
    const std::string path = rawtest::WriteFile(
        "parallel-index-misplaced.mzML",
        ChangedInSpectrum(bytes, count - 10, "index=\"" + number + "\"", "index=\"" + other + "\""));
    const auto one = OpenWithThreads(path, 1);
    const auto several = OpenWithThreads(path, 4);
    ASSERT_TRUE(one && several);
    EXPECT_FALSE(several->UsedIndex());
    EXPECT_EQ(several->Scans().size(), count);
    ExpectIdentical(*one, *several, "misplaced spectrum");
}
