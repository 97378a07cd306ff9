// SPDX-License-Identifier: GPL-3.0-or-later
// The same data reads the same whichever way it is stored: through the index or by a sequential scan,
// plain or gzip-compressed, mzML or mzXML; and every array encoding decodes to its values.

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "rawdata/HandMadeMzml.h"
#include "rawdata/MsRun.h"
#include "support/RawTestFiles.h"

using varnex::rawdata::MsRun;
using varnex::rawdata::ScanInfo;

namespace {

std::shared_ptr<const MsRun> OpenFresh(const std::string& path) {
    std::string error;
    auto run = MsRun::OpenUncached(path, &error);
    EXPECT_TRUE(run) << path << ": " << error;
    return run;
}

// `sameFormat`: ids, precursor fields and stored precisions agree. Across formats only what both
// store alike is compared (mzXML keeps the selected ion only, and 32-bit values as such).
void ExpectSameRuns(const MsRun& a, const MsRun& b, bool sameFormat = true) {
    ASSERT_EQ(a.FunctionCount(), b.FunctionCount());
    ASSERT_EQ(a.Scans().size(), b.Scans().size());
    for (int f = 1; f <= a.FunctionCount(); ++f) {
        EXPECT_EQ(a.ScansOfFunction(f), b.ScansOfFunction(f));
        if (sameFormat) {
            EXPECT_EQ(a.FunctionDescription(f), b.FunctionDescription(f));
        }
    }
    for (std::size_t i = 0; i < a.Scans().size(); ++i) {
        const ScanInfo& x = a.Scans()[i];
        const ScanInfo& y = b.Scans()[i];
        if (sameFormat) {
            EXPECT_EQ(a.NativeId(i), b.NativeId(i));
            EXPECT_NEAR(x.SetMass(), y.SetMass(), 1e-5);
        }
        EXPECT_EQ(x.msLevel, y.msLevel);
        EXPECT_NEAR(x.rtMinutes, y.rtMinutes, 1e-6);
        EXPECT_NEAR(x.selectedIonMz, y.selectedIonMz, 1e-5);
        EXPECT_EQ(x.charge, y.charge);
        EXPECT_EQ(x.centroid, y.centroid);
        const auto sa = a.Decode(i);
        const auto sb = b.Decode(i);
        ASSERT_TRUE(sa && sb) << i;
        ASSERT_EQ(sa->mz.size(), sb->mz.size()) << i;
        if (sameFormat) {
            EXPECT_EQ(sa->mz, sb->mz);
            EXPECT_EQ(sa->intensity, sb->intensity);
            continue;
        }
        for (std::size_t k = 0; k < sa->mz.size(); ++k) {
            EXPECT_NEAR(sa->mz[k], sb->mz[k], 1e-6);
            EXPECT_NEAR(sa->intensity[k], sb->intensity[k], std::fabs(sa->intensity[k]) * 1e-6);
        }
    }
}

std::string Gzip(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, bytes.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

const std::string& IndexedFile() {
    static const std::string path = rawtest::Generated("paths-indexed.mzML", rawtest::kFunctionArgs);
    return path;
}

} // namespace

TEST(ReadingPaths, IndexEqualsSequentialScan) {
    SKIP_WITHOUT_GENERATOR();
    const std::string plain =
        rawtest::Generated("paths-plain.mzML", std::string(rawtest::kFunctionArgs) + " --no-index");
    const auto indexed = OpenFresh(IndexedFile());
    const auto scanned = OpenFresh(plain);
    ASSERT_TRUE(indexed && scanned);
    EXPECT_TRUE(indexed->UsedIndex());
    EXPECT_FALSE(scanned->UsedIndex());
    ExpectSameRuns(*indexed, *scanned);
}

TEST(ReadingPaths, StaleIndexFallsBackToTheSequentialScan) {
    SKIP_WITHOUT_GENERATOR();
    std::string bytes = rawtest::ReadAll(IndexedFile());
    // Shift every spectrum by one byte ahead of the index: every offset is now off by one.
    const std::size_t run = bytes.find("<spectrumList");
    bytes.insert(run, " ");
    const auto stale = OpenFresh(rawtest::WriteFile("paths-stale.mzML", bytes));
    const auto indexed = OpenFresh(IndexedFile());
    ASSERT_TRUE(stale && indexed);
    EXPECT_FALSE(stale->UsedIndex());
    ExpectSameRuns(*indexed, *stale);

    // An index whose offset points at the wrong spectrum (ids swapped) is not trusted either.
    std::string swapped = rawtest::ReadAll(IndexedFile());
    const std::size_t a = swapped.find("<offset idRef=\"function=2 process=0 scan=1\">");
    const std::size_t b = swapped.find("<offset idRef=\"function=3 process=0 scan=1\">");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    swapped.replace(b + 22, 1, "2");
    swapped.replace(a + 22, 1, "3");
    const auto misnamed = OpenFresh(rawtest::WriteFile("paths-swapped.mzML", swapped));
    ASSERT_TRUE(misnamed);
    EXPECT_FALSE(misnamed->UsedIndex());
    ExpectSameRuns(*indexed, *misnamed);
}

// Deletes the spectrum index's <offset> lines for which `drop(n)` holds (n counts them from 0).
template <typename Predicate> std::string WithoutIndexEntries(std::string bytes, Predicate drop) {
    std::size_t pos = bytes.find("<offset", bytes.find("<index name=\"spectrum\""));
    const std::size_t end = bytes.find("</index>", pos);
    std::string out = bytes.substr(0, pos);
    for (std::size_t n = 0; pos < end; ++n) {
        const std::size_t next = std::min(bytes.find("<offset", pos + 1), end);
        if (!drop(n)) {
            out += bytes.substr(pos, next - pos);
        }
        pos = next;
    }
    return out + bytes.substr(end);
}

// An index that names only some spectra used to be trusted, and the run lost every spectrum it left out.
// Each of the checks catches the omission on its own: the declared count, the position each spectrum
// states, and the end of the list after the last entry.
TEST(ReadingPaths, IndexThatLeavesSpectraOutIsNotTrusted) {
    const std::string intact = rawtest::ReadAll(IndexedFile());
    const auto reference = OpenFresh(IndexedFile());
    ASSERT_TRUE(reference && reference->UsedIndex());
    const std::size_t spectra = reference->Scans().size();
    const std::string declared = "<spectrumList count=\"" + std::to_string(spectra) + "\"";
    ASSERT_NE(intact.find(declared), std::string::npos);
    auto declaring = [&](std::string bytes, std::size_t count) {
        return bytes.replace(bytes.find(declared), declared.size(),
                             "<spectrumList count=\"" + std::to_string(count) + "\"");
    };

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"every other entry", WithoutIndexEntries(intact, [](std::size_t n) { return n % 2 == 1; })},
        {"first ten entries kept", WithoutIndexEntries(intact, [](std::size_t n) { return n >= 10; })},
        {"one entry gone, count edited to match",
         declaring(WithoutIndexEntries(intact, [](std::size_t n) { return n == 5; }), spectra - 1)},
        {"last entry gone, count edited to match",
         declaring(WithoutIndexEntries(intact, [&](std::size_t n) { return n + 1 == spectra; }),
                   spectra - 1)},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        const auto run = MsRun::OpenBytes(bytes);
        ASSERT_TRUE(run);
        EXPECT_FALSE(run->UsedIndex());
        ExpectSameRuns(*reference, *run);
    }

    // mzXML: the declared scan count gives the omission away.
    const std::string mzxml =
        rawtest::ReadAll(rawtest::Generated("paths-omitted.mzXML", "--format mzxml --minutes 0.3 --seed 3"));
    const std::size_t third = mzxml.find("<offset", mzxml.find("<offset", mzxml.find("<offset") + 1) + 1);
    std::string cut = mzxml;
    cut.erase(third, cut.find("<offset", third + 1) - third);
    const auto whole = MsRun::OpenBytes(mzxml);
    const auto shortened = MsRun::OpenBytes(cut);
    ASSERT_TRUE(whole && shortened);
    EXPECT_TRUE(whole->UsedIndex());
    EXPECT_FALSE(shortened->UsedIndex());
    ExpectSameRuns(*whole, *shortened);
}

// Past the most spectra a run may hold, the data set is refused with the reason; it is never read in
// part (the reader once stopped at its limit and listed what it had).
TEST(ReadingPaths, MoreSpectraThanTheLimitAreRefusedNotCut) {
    const std::string plain = rawtest::ReadAll(
        rawtest::Generated("paths-plain.mzML", std::string(rawtest::kFunctionArgs) + " --no-index"));
    const std::string indexed = rawtest::ReadAll(IndexedFile());
    const auto reference = OpenFresh(IndexedFile());
    ASSERT_TRUE(reference);
    const std::size_t spectra = reference->Scans().size();
    for (const std::string* bytes : {&plain, &indexed}) {
        std::string error;
        EXPECT_FALSE(MsRun::OpenBytes(*bytes, &error, spectra - 1));
        EXPECT_NE(error.find("more than " + std::to_string(spectra - 1) + " spectra"), std::string::npos)
            << error;
        const auto exactly = MsRun::OpenBytes(*bytes, &error, spectra);
        ASSERT_TRUE(exactly) << error;
        EXPECT_EQ(exactly->Scans().size(), spectra);
    }
}

TEST(ReadingPaths, GzipCompressedCopyReadsTheSame) {
    SKIP_WITHOUT_GENERATOR();
    const std::string compressed = rawtest::WriteFile("paths.mzML.gz", Gzip(rawtest::ReadAll(IndexedFile())));
    const auto gz = OpenFresh(compressed);
    const auto indexed = OpenFresh(IndexedFile());
    ASSERT_TRUE(gz && indexed);
    ExpectSameRuns(*indexed, *gz);
    // Out-of-order decoding restarts from the stream's saved positions.
    for (std::size_t i = gz->Scans().size(); i-- > 0;) {
        const auto a = gz->Decode(i);
        const auto b = indexed->Decode(i);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->mz, b->mz);
    }
    // Several gzip members one after another form one stream.
    const std::string bytes = rawtest::ReadAll(IndexedFile());
    const std::size_t half = bytes.size() / 2;
    const auto members = OpenFresh(
        rawtest::WriteFile("paths-members.mzML.gz", Gzip(bytes.substr(0, half)) + Gzip(bytes.substr(half))));
    ASSERT_TRUE(members);
    ExpectSameRuns(*indexed, *members);
}

TEST(ReadingPaths, MzxmlIndexedAndPlainReadTheSame) {
    SKIP_WITHOUT_GENERATOR();
    const std::string args = "--format mzxml --minutes 0.3 --seed 3";
    const auto indexed = OpenFresh(rawtest::Generated("paths.mzXML", args));
    const auto plain = OpenFresh(rawtest::Generated("paths-plain.mzXML", args + " --no-index"));
    ASSERT_TRUE(indexed && plain);
    EXPECT_TRUE(indexed->UsedIndex());
    EXPECT_FALSE(plain->UsedIndex());
    ExpectSameRuns(*indexed, *plain);
    // And the same as the mzML the generator writes from the same seed (ids differ by format).
    const auto mzml = OpenFresh(rawtest::Generated("paths-twin.mzML", "--minutes 0.3 --seed 3"));
    ASSERT_TRUE(mzml);
    ExpectSameRuns(*mzml, *indexed, false);
}

TEST(ArrayEncodings, EveryEncodingDecodesToItsValues) {
    using rawtest::Encoding;
    const std::vector<double> mz = {100.0, 150.25, 200.125, 433.19213867, 1000.5, 1999.75};
    const std::vector<double> intensity = {1.0, 20.0, 300.0, 4000.0, 50000.0, 600000.0};
    struct Case {
        Encoding mz;
        Encoding intensity;
        double mzTolerance;
        double relativeIntensityTolerance;
    };
    const std::vector<Case> cases = {
        {Encoding::Float64, Encoding::Float32, 0.0, 1e-7},
        {Encoding::Float64Zlib, Encoding::Int32, 0.0, 0.0},
        {Encoding::Linear, Encoding::Pic, 1e-6, 0.5},
        {Encoding::LinearZlib, Encoding::Slof, 1e-6, 5e-4},
        {Encoding::Float32, Encoding::Float64Zlib, 1e-4, 0.0},
    };
    std::vector<rawtest::HandSpectrum> spectra;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        rawtest::HandSpectrum s;
        s.id = "scan=" + std::to_string(i + 1);
        s.rtParam = rawtest::RtParam(std::to_string(60 * (i + 1)), "second");
        s.mz = rawtest::Encode(mz, cases[i].mz);
        s.intensity = rawtest::Encode(intensity, cases[i].intensity);
        s.declaredLength = mz.size();
        spectra.push_back(s);
    }
    const auto run = MsRun::OpenBytes(rawtest::MzmlDocument(spectra));
    ASSERT_TRUE(run);
    ASSERT_EQ(run->Scans().size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_DOUBLE_EQ(run->Scans()[i].rtMinutes, static_cast<double>(i + 1));
        const auto spectrum = run->Decode(i);
        ASSERT_TRUE(spectrum) << i;
        ASSERT_EQ(spectrum->mz.size(), mz.size()) << i;
        for (std::size_t k = 0; k < mz.size(); ++k) {
            EXPECT_NEAR(spectrum->mz[k], mz[k], cases[i].mzTolerance) << i << "/" << k;
            EXPECT_NEAR(spectrum->intensity[k], intensity[k],
                        intensity[k] * cases[i].relativeIntensityTolerance)
                << i << "/" << k;
        }
    }
}

TEST(ArrayEncodings, ReferenceableParamGroupsSupplyParameters) {
    using rawtest::Encoding;
    const std::string groups =
        "<referenceableParamGroupList count=\"2\">"
        "<referenceableParamGroup id=\"mzArray\"><cvParam cvRef=\"MS\" accession=\"MS:1000523\" "
        "name=\"64-bit float\"/>"
        "<cvParam cvRef=\"MS\" accession=\"MS:1000574\" name=\"zlib compression\"/></referenceableParamGroup>"
        "<referenceableParamGroup id=\"ms2\"><cvParam cvRef=\"MS\" accession=\"MS:1000511\" name=\"ms "
        "level\" value=\"2\"/>"
        "<cvParam cvRef=\"MS\" accession=\"MS:1000127\" name=\"centroid "
        "spectrum\"/></referenceableParamGroup>"
        "</referenceableParamGroupList>";
    const std::vector<double> mz = {110.5, 220.25, 330.125};
    rawtest::HandSpectrum s;
    s.id = "scan=7";
    s.msLevel = 1; // overridden by the group below: the group's ms level comes after ours
    s.rtParam = rawtest::RtParam("2.5", "minute");
    s.mz = {"<referenceableParamGroupRef ref=\"mzArray\"/>",
            rawtest::Encode(mz, Encoding::Float64Zlib).base64};
    s.intensity = rawtest::Encode({1.0, 2.0, 3.0}, Encoding::Float32);
    s.declaredLength = 3;
    s.extraHeader = "<referenceableParamGroupRef ref=\"ms2\"/>";
    const auto run = MsRun::OpenBytes(rawtest::MzmlDocument({s}, groups));
    ASSERT_TRUE(run);
    const ScanInfo& scan = run->Scans().at(0);
    EXPECT_EQ(scan.msLevel, 2);
    EXPECT_TRUE(scan.centroid);
    EXPECT_DOUBLE_EQ(scan.rtMinutes, 2.5);
    const auto spectrum = run->Decode(0);
    ASSERT_TRUE(spectrum);
    EXPECT_EQ(spectrum->mz, mz);
}

TEST(ArrayEncodings, UnsortedMassesComeBackAscending) {
    using rawtest::Encoding;
    rawtest::HandSpectrum s;
    s.id = "scan=1";
    s.rtParam = rawtest::RtParam("1", "minute");
    s.mz = rawtest::Encode({300.0, 100.0, NAN, 200.0}, Encoding::Float64);
    s.intensity = rawtest::Encode({3.0, 1.0, 9.0, 2.0}, Encoding::Float32);
    s.declaredLength = 4;
    const auto run = MsRun::OpenBytes(rawtest::MzmlDocument({s}));
    ASSERT_TRUE(run);
    const auto spectrum = run->Decode(0);
    ASSERT_TRUE(spectrum);
    EXPECT_EQ(spectrum->mz, (std::vector<double>{100.0, 200.0, 300.0}));
    EXPECT_EQ(spectrum->intensity, (std::vector<double>{1.0, 2.0, 3.0}));
}

TEST(ArrayEncodings, BinaryTextReadsAsTheXmlGivesIt) {
    using rawtest::Encoding;
    rawtest::HandSpectrum s;
    s.id = "scan=1";
    s.rtParam = rawtest::RtParam("1", "minute");
    s.mz = rawtest::Encode({100.5, 200.25, 300.125, 400.0625}, Encoding::Float64Zlib);
    s.intensity = rawtest::Encode({10.0, 20.0, 30.0, 40.0}, Encoding::Float32);
    s.declaredLength = 4;
    const std::string clean = rawtest::MzmlDocument({s});
    const auto reference = MsRun::OpenBytes(clean);
    ASSERT_TRUE(reference);
    const auto expected = reference->Decode(0);
    ASSERT_TRUE(expected);
    ASSERT_EQ(expected->mz.size(), 4u);

    // Each edit rewrites the text of the m/z array's <binary> element, or puts something before it.
    const std::string payload = s.mz.base64;
    const std::string element = "<binary>" + payload + "</binary>";
    const std::vector<std::pair<const char*, std::string>> edits = {
        {"line breaks", "<binary>\r\n" + payload.substr(0, 8) + "\n  " + payload.substr(8) + "\n</binary>"},
        {"a character reference",
         "<binary>&#" + std::to_string(static_cast<int>(payload[0])) + ";" + payload.substr(1) + "</binary>"},
        {"attributes", "<binary note=\"x\">" + payload + "</binary>"},
        {"a comment after the text", "<binary>" + payload + "<!-- <binary>AAAA</binary> --></binary>"},
        {"a commented-out element before it", "<!-- <binary>AAAA</binary> -->" + element},
    };
    for (const auto& [name, replacement] : edits) {
        std::string text = clean;
        const std::size_t at = text.find(element);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, element.size(), replacement);
        const auto run = MsRun::OpenBytes(text);
        ASSERT_TRUE(run) << name;
        const auto spectrum = run->Decode(0);
        ASSERT_TRUE(spectrum) << name;
        EXPECT_EQ(spectrum->mz, expected->mz) << name;
        EXPECT_EQ(spectrum->intensity, expected->intensity) << name;
    }
}

TEST(ArrayEncodings, NamesAreReadWholeNotByTheirStart) {
    // Attributes and elements whose names begin or end like the ones read are other names.
    rawtest::HandSpectrum s;
    s.id = "scan=1";
    s.msLevel = 1;
    s.rtParam = rawtest::RtParam("3", "minute");
    s.extraHeader = "<cvParamX cvRef=\"MS\" accession=\"MS:1000511\" name=\"ms level\" value=\"3\"/>"
                    "<cvParam cvRef=\"MS\" accessio=\"MS:1000511\" accessionX=\"MS:1000511\" "
                    "accession=\"MS:1000511\" name=\"ms level\" valu=\"5\" values=\"7\" value=\"2\"/>";
    s.mz = rawtest::Encode({100.0, 200.0}, rawtest::Encoding::Float64);
    s.intensity = rawtest::Encode({1.0, 2.0}, rawtest::Encoding::Float32);
    s.declaredLength = 2;
    const auto run = MsRun::OpenBytes(rawtest::MzmlDocument({s}));
    ASSERT_TRUE(run);
    ASSERT_EQ(run->Scans().size(), 1u);
    EXPECT_EQ(run->Scans()[0].msLevel, 2);
    EXPECT_DOUBLE_EQ(run->Scans()[0].rtMinutes, 3.0);
}
