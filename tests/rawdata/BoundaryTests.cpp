// SPDX-License-Identifier: GPL-3.0-or-later
// The records and operations the builder uses: layouts, 1-based numbering in the records and scan
// functions against 0-based numbering in CRawDatafile, paths of any length, out-of-range reads, the
// TIC trace, and reopening through the caches.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rawdata/HandMadeMzml.h"
#include "rawdata/MsRun.h"
#include "rawdata/RawData.h"
#include "support/RawTestFiles.h"

using varnex::rawdata::MsRun;

namespace {

RawPathRecord RecordFor(const std::string& path, int function) {
    RawPathRecord record;
    record.Zero();
    EXPECT_NE(ConvertPathToTarnFile(record, path.c_str()), 0);
    record.SetInt16(RawPathRecord::kOffsetFunction, static_cast<std::int16_t>(function));
    record.SetInt32(RawPathRecord::kOffsetProcess, 1);
    return record;
}

// A chromatogram of `trace` over function index `function` (from 0), as the builder reads it.
bool ReadTic(const std::string& path, int function, const char* trace, CChromatogram& chromatogram) {
    CRawDatafile reader;
    if (!reader.Open(path.c_str(), 0)) {
        return false;
    }
    reader.SelectFunction(function);
    CChromatogramType type;
    type.SetTrace(trace, false);
    double from = 0.0;
    double to = 0.0;
    return reader.ReadChromatogram(chromatogram, type, from, to);
}

} // namespace

TEST(RecordLayout, SizesAndCallerFieldsSitAtTheirOffsets) {
    static_assert(sizeof(RawPathRecord) == 788);
    static_assert(sizeof(ScanStatsRecord) == 248);
    RawPathRecord record;
    record.Zero();
    record.SetInt32(776, 1);
    record.SetInt32(780, 0x01020304);
    record.SetInt16(784, 3);
    record.SetInt16(786, 0x0506);
    std::int32_t scanCount = 0;
    std::memcpy(&scanCount, record.bytes + 780, 4);
    EXPECT_EQ(scanCount, 0x01020304);
    std::int16_t function = 0;
    std::memcpy(&function, record.bytes + 784, 2);
    EXPECT_EQ(function, 3);
    EXPECT_EQ(record.GetInt16(786), 0x0506);
    // Filling from a path leaves the caller's fields alone.
    ConvertPathToTarnFile(record, "/some/path.mzML");
    EXPECT_EQ(record.GetInt32(776), 1);
    EXPECT_EQ(record.GetInt32(780), 0x01020304);
    EXPECT_EQ(record.GetInt16(784), 3);

    ScanStatsRecord stats{};
    stats.SetFloat(16, 12.5f);
    stats.SetFloat(192, 445.25f);
    float rtMinutes = 0.0f;
    float mass = 0.0f;
    std::memcpy(&rtMinutes, stats.bytes + 16, 4);
    std::memcpy(&mass, stats.bytes + 192, 4);
    EXPECT_EQ(rtMinutes, 12.5f);
    EXPECT_EQ(mass, 445.25f);
}

TEST(Numbering, ScanFunctionsCountFromOneAndTheReaderFromZero) {
    const std::string path = rawtest::SamplePath();
    const auto run = MsRun::Open(path);
    ASSERT_TRUE(run);
    RawPathRecord record = RecordFor(path, 2);
    const std::uint32_t count = DmRawScansInFunction(record);
    EXPECT_EQ(count, run->ScansOfFunction(2).size());
    ScanStatsRecord stats{};
    ASSERT_EQ(DmRawReadScanStatsVB(record, 1, 0, stats), 1);
    EXPECT_FLOAT_EQ(stats.GetFloat(ScanStatsRecord::kOffsetSetMass), 694.8485f);

    // Function 2, scan 1 of the record is function index 1, scan index 0 of the reader.
    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), 0));
    reader.SelectFunction(1);
    QXSpectrum viaReader;
    float* masses = nullptr;
    float* intensities = nullptr;
    int points = 0;
    ASSERT_TRUE(reader.GetScan(0, masses, intensities, points));
    viaReader.SetData(masses, intensities, points);
    const auto decoded = run->Decode(run->ScansOfFunction(2)[0]);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(viaReader.m_nPoints, static_cast<int>(decoded->mz.size()));
    ASSERT_GT(viaReader.m_nPoints, 0);
    EXPECT_FLOAT_EQ(viaReader.m_pMasses[0], static_cast<float>(decoded->mz[0]));
    for (int i = 1; i < viaReader.m_nPoints; ++i) {
        EXPECT_LE(viaReader.m_pMasses[i - 1], viaReader.m_pMasses[i]);
    }

    // Survey scans have no set mass.
    record.SetInt16(RawPathRecord::kOffsetFunction, 1);
    EXPECT_EQ(DmRawScansInFunction(record), 70u);
    ASSERT_EQ(DmRawReadScanStatsVB(record, 70, 0, stats), 1);
    EXPECT_EQ(stats.GetFloat(ScanStatsRecord::kOffsetSetMass), 0.0f);
}

TEST(Numbering, ScanPointsAreTheDecodedValuesEachRoundedToFloat) {
    // Spectra of 0 to 9 points, so that every count of points left over after groups of four is read,
    // with values that round up, down, to zero, to infinity or not at all.
    const std::vector<double> intensities = {1.0 / 3.0, 2.0 / 3.0,  1e-40,  3.4e38, 1e39,
                                             -0.1,      16777217.0, 1e-300, 0.0};
    std::vector<rawtest::HandSpectrum> spectra;
    for (std::size_t points = 0; points <= intensities.size(); ++points) {
        rawtest::HandSpectrum s;
        s.id = "scan=" + std::to_string(points + 1);
        s.rtParam = rawtest::RtParam(std::to_string(points + 1), "minute");
        std::vector<double> mz;
        for (std::size_t i = 0; i < points; ++i) {
            mz.push_back(400.0 + 0.1 * static_cast<double>(i) + 1e-9 / 3.0);
        }
        s.mz = rawtest::Encode(mz, rawtest::Encoding::Float64);
        s.intensity = rawtest::Encode({intensities.begin(), intensities.begin() + static_cast<long>(points)},
                                      rawtest::Encoding::Float64);
        s.declaredLength = points;
        spectra.push_back(s);
    }
    const std::string path = rawtest::WriteFile("float-points.mzML", rawtest::MzmlDocument(spectra));
    const auto run = MsRun::Open(path);
    ASSERT_TRUE(run);
    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), 0));
    reader.SelectFunction(0);
    for (std::size_t points = 0; points <= intensities.size(); ++points) {
        float* masses = nullptr;
        float* heights = nullptr;
        int count = -1;
        ASSERT_TRUE(reader.GetScan(static_cast<long long>(points), masses, heights, count)) << points;
        QXSpectrum spectrum;
        spectrum.SetData(masses, heights, count);
        const auto decoded = run->Decode(run->ScansOfFunction(1)[points]);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(static_cast<std::size_t>(count), points);
        for (std::size_t i = 0; i < points; ++i) {
            const float mz = static_cast<float>(decoded->mz[i]);
            const float height = static_cast<float>(decoded->intensity[i]);
            EXPECT_EQ(std::memcmp(&spectrum.m_pMasses[i], &mz, sizeof mz), 0) << points << "/" << i;
            EXPECT_EQ(std::memcmp(&spectrum.m_pIntensities[i], &height, sizeof height), 0)
                << points << "/" << i;
        }
    }
}

TEST(Numbering, ReadsOutsideAFunctionAreEmptyOrRefused) {
    const std::string path = rawtest::SamplePath();
    RawPathRecord record = RecordFor(path, 1);
    const std::uint32_t count = DmRawScansInFunction(record);
    ASSERT_EQ(count, 70u);
    ScanStatsRecord stats{};
    stats.SetFloat(16, -7.0f);
    EXPECT_EQ(DmRawReadScanStatsVB(record, 0, 0, stats), 0);
    EXPECT_EQ(DmRawReadScanStatsVB(record, count + 1, 0, stats), 0);
    EXPECT_EQ(stats.GetFloat(16), -7.0f); // untouched on failure
    record.SetInt16(RawPathRecord::kOffsetFunction, 9);
    EXPECT_EQ(DmRawScansInFunction(record), 0u);
    record.SetInt16(RawPathRecord::kOffsetFunction, 0);
    EXPECT_EQ(DmRawScansInFunction(record), 0u);

    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), 0));
    reader.SelectFunction(0);
    for (const long long scan : {-2LL, -1LL, 70LL, 1000000LL}) {
        float* masses = nullptr;
        float* intensities = nullptr;
        int points = -1;
        EXPECT_TRUE(reader.GetScan(scan, masses, intensities, points)) << scan;
        EXPECT_NE(masses, nullptr);
        EXPECT_NE(intensities, nullptr);
        EXPECT_EQ(points, 0);
        QXSpectrum owner;
        owner.SetData(masses, intensities, points);
    }
    // A function that does not exist holds no scans either.
    reader.SelectFunction(17);
    float* masses = nullptr;
    float* intensities = nullptr;
    int points = -1;
    EXPECT_TRUE(reader.GetScan(0, masses, intensities, points));
    EXPECT_EQ(points, 0);
    QXSpectrum owner;
    owner.SetData(masses, intensities, points);
}

TEST(Numbering, UnpreparedRecordReadsNothing) {
    RawPathRecord record;
    record.Zero();
    record.SetInt16(RawPathRecord::kOffsetFunction, 1);
    EXPECT_EQ(DmRawScansInFunction(record), 0u);
    ScanStatsRecord stats{};
    EXPECT_EQ(DmRawReadScanStatsVB(record, 1, 0, stats), 0);
    EXPECT_EQ(ConvertPathToTarnFile(record, nullptr), 0);
}

TEST(PathRecord, PathsLongerThanTheRecordStillNameTheirDataSet) {
    SKIP_WITHOUT_SHARED_DATA();
    // Build a directory chain whose path is far longer than the 776 bytes of path text.
    std::filesystem::path dir = rawtest::TempDir();
    while (dir.string().size() < 1500) {
        dir /= std::string(200, 'd');
    }
    std::filesystem::create_directories(dir);
    const std::filesystem::path longPath = dir / "long.mzML";
    std::filesystem::copy_file(rawtest::SamplePath(), longPath,
                               std::filesystem::copy_options::overwrite_existing);
    // A second file whose path agrees with the first in every byte the record can hold.
    const std::filesystem::path twin = dir / "long-other.mzML";
    std::filesystem::copy_file(rawtest::SharedFile("thermo_test2.mzXML"), twin,
                               std::filesystem::copy_options::overwrite_existing);

    RawPathRecord longRecord = RecordFor(longPath.string(), 1);
    RawPathRecord twinRecord = RecordFor(twin.string(), 1);
    EXPECT_EQ(DmRawScansInFunction(longRecord), 70u);
    EXPECT_EQ(DmRawScansInFunction(twinRecord), 2u);
    CRawDatafile reader;
    EXPECT_TRUE(reader.Open(longPath.string().c_str(), 0));
    std::filesystem::remove_all(rawtest::TempDir() / std::string(200, 'd'));
}

TEST(Chromatogram, TicTraceFollowsTheSelectedFunction) {
    const std::string path = rawtest::SamplePath();
    const auto run = MsRun::Open(path);
    ASSERT_TRUE(run);
    CChromatogram chromatogram;
    ASSERT_TRUE(ReadTic(path, 1, "TIC", chromatogram));
    const auto& scans = run->ScansOfFunction(2);
    ASSERT_EQ(chromatogram.Values().size(), scans.size());
    ASSERT_EQ(chromatogram.RtMinutes().size(), scans.size());
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const auto& scan = run->Scans()[scans[i]];
        EXPECT_FLOAT_EQ(chromatogram.RtMinutes()[i], static_cast<float>(scan.rtMinutes));
        // The file's own total ion current equals the sum of the spectrum.
        EXPECT_TRUE(scan.hasTic);
        EXPECT_FLOAT_EQ(chromatogram.Values()[i], static_cast<float>(scan.tic));
    }
    EXPECT_FALSE(ReadTic(path, 1, "BPI", chromatogram));
    EXPECT_TRUE(chromatogram.Values().empty()) << "a failed read leaves no earlier trace behind";
}

TEST(Chromatogram, TotalsAreSummedWhenFirstAskedForNotByTheRead) {
    // A file without totals: a spectrum changed after the read, before its trace is looked at, shows
    // through, so a read whose trace nobody looks at has decoded nothing.
    auto spectra = [](double a, double b) {
        std::vector<rawtest::HandSpectrum> made;
        for (int i = 0; i < 3; ++i) {
            rawtest::HandSpectrum s;
            s.id = "scan=" + std::to_string(i + 1);
            s.msLevel = i == 0 ? 1 : 2;
            s.isolationTarget = 500.0;
            s.rtParam = rawtest::RtParam(std::to_string(i + 1), "minute");
            s.mz = rawtest::Encode({400.0, 500.0}, rawtest::Encoding::Float64);
            s.intensity = rawtest::Encode({a, b}, rawtest::Encoding::Float64);
            s.declaredLength = 2;
            made.push_back(s);
        }
        return rawtest::MzmlDocument(made);
    };
    const std::string path = rawtest::WriteFile("lazy-tic.mzML", spectra(1.0, 2.0));
    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), 0));
    reader.SelectFunction(1);
    CChromatogram chromatogram;
    CChromatogramType type;
    type.SetTrace("TIC", false);
    double from = 0.0;
    double to = 0.0;
    ASSERT_TRUE(reader.ReadChromatogram(chromatogram, type, from, to));
    const std::string changed = spectra(4.0, 5.0);
    ASSERT_EQ(changed.size(), rawtest::ReadAll(path).size());
    std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out) << changed;
    EXPECT_EQ(chromatogram.Values(), (std::vector<float>{9.0f, 9.0f}));
    EXPECT_EQ(chromatogram.RtMinutes(), (std::vector<float>{2.0f, 3.0f}));
}

TEST(Chromatogram, MissingTotalsAreSummedFromTheSpectra) {
    SKIP_WITHOUT_SHARED_DATA();
    // This mzXML gives no totIonCurrent.
    const std::string path = rawtest::SharedFile("thermo_test2.mzXML");
    const auto run = MsRun::Open(path);
    ASSERT_TRUE(run);
    CChromatogram chromatogram;
    ASSERT_TRUE(ReadTic(path, 0, "TIC", chromatogram));
    ASSERT_EQ(chromatogram.Values().size(), 2u);
    const auto spectrum = run->Decode(run->ScansOfFunction(1)[0]);
    ASSERT_TRUE(spectrum);
    double sum = 0.0;
    for (const double intensity : spectrum->intensity) {
        sum += intensity;
    }
    EXPECT_GT(sum, 0.0);
    EXPECT_FLOAT_EQ(chromatogram.Values()[0], static_cast<float>(sum));
}

TEST(Caching, ReopeningAnUnchangedFileSharesTheParsedRun) {
    const std::string path = rawtest::WriteFile("cached.mzML", rawtest::ReadAll(rawtest::SamplePath()));
    const auto first = MsRun::Open(path);
    const auto second = MsRun::Open(path);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), second.get());
    // The same decoded spectrum comes back for a second request.
    EXPECT_EQ(first->Decode(0).get(), first->Decode(0).get());

    // A changed file is parsed again, and the scan functions see the change.
    RawPathRecord record = RecordFor(path, 1);
    EXPECT_EQ(DmRawScansInFunction(record), 70u);
    SKIP_WITHOUT_SHARED_DATA();
    std::filesystem::copy_file(rawtest::SharedFile("thermo_test2.mzXML"), path,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
    const auto third = MsRun::Open(path);
    ASSERT_TRUE(third);
    EXPECT_NE(third.get(), first.get());
    EXPECT_EQ(DmRawScansInFunction(record), 2u);
}

TEST(Caching, ARunStillInUseIsNotParsedAgainAfterLeavingTheCache) {
    SKIP_WITHOUT_SHARED_DATA();
    // Several data sets listed at once each hold their run while the others pass through the cache.
    const std::string path = rawtest::WriteFile("held.mzML", rawtest::ReadAll(rawtest::SamplePath()));
    const auto held = MsRun::Open(path);
    ASSERT_TRUE(held);
    for (const char* other : {"thermo_test2.mzXML", "thermo_LCQDeca_pyteomics_test.mzXML",
                              "thermo_QE_three_test_scans.mzML", "thermo_Fusion_sliced_ethcd.mzML",
                              "thermo_PepXMLFile_test.mzML", "thermo_FAIMS_IM_FAIMS_test.mzML"}) {
        ASSERT_TRUE(MsRun::Open(rawtest::SharedFile(other))) << other;
    }
    EXPECT_EQ(MsRun::Open(path).get(), held.get());
    // Through the scan functions too, which look the data set up by its path record.
    RawPathRecord record = RecordFor(path, 1);
    EXPECT_EQ(DmRawScansInFunction(record), 70u);
    EXPECT_EQ(MsRun::Open(path).get(), held.get());
}
