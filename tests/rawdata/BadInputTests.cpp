// SPDX-License-Identifier: GPL-3.0-or-later
// Bad input fails cleanly or damages only itself: files that cannot be read, files that are not mzML,
// truncation at any byte, corrupted bytes, stale indexes, broken XML or compressed data in one
// spectrum, lying lengths, absurd numbers and entity expansion.

#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rawdata/HandMadeMzml.h"
#include "rawdata/MsRun.h"
#include "rawdata/RawData.h"
#include "support/RawTestFiles.h"

using varnex::rawdata::MsRun;

namespace {

void ExpectOpenFails(const std::string& path) {
    std::string error;
    EXPECT_FALSE(MsRun::Open(path, &error)) << path;
    EXPECT_FALSE(error.empty());
    CDMRawDatafile file;
    EXPECT_EQ(file.Open(path.c_str(), 0), 0);
    CDatafileSampleInfo info;
    EXPECT_EQ(file.ReadSampleInfo(info), 0);
    CRawDatafile reader;
    EXPECT_FALSE(reader.Open(path.c_str(), 0));
    EXPECT_FALSE(reader.SelectFunction(0));
    float* masses = reinterpret_cast<float*>(1);
    float* intensities = reinterpret_cast<float*>(1);
    int points = -1;
    EXPECT_FALSE(reader.GetScan(0, masses, intensities, points));
    EXPECT_EQ(masses, nullptr);
    EXPECT_EQ(intensities, nullptr);
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, path.c_str());
    record.SetInt16(RawPathRecord::kOffsetFunction, 1);
    EXPECT_EQ(DmRawScansInFunction(record), 0u);
}

// Opens the bytes and decodes every spectrum; returns the run (null when it did not open).
std::shared_ptr<const MsRun> OpenAndDecodeAll(std::string bytes) {
    auto run = MsRun::OpenBytes(std::move(bytes));
    if (run) {
        for (std::size_t i = 0; i < run->Scans().size(); ++i) {
            run->Decode(i);
        }
    }
    return run;
}

std::vector<rawtest::HandSpectrum> ThreeSpectra() {
    using rawtest::Encoding;
    std::vector<rawtest::HandSpectrum> spectra;
    for (int i = 1; i <= 3; ++i) {
        rawtest::HandSpectrum s;
        s.id = "scan=" + std::to_string(i);
        s.msLevel = i == 1 ? 1 : 2;
        s.isolationTarget = 400.0 + i;
        s.rtParam = rawtest::RtParam(std::to_string(i), "minute");
        s.mz = rawtest::Encode({100.0 * i, 200.0 * i, 300.0 * i}, Encoding::Float64Zlib);
        s.intensity = rawtest::Encode({1.0, 2.0, 3.0}, Encoding::Float32);
        s.declaredLength = 3;
        spectra.push_back(s);
    }
    return spectra;
}

// The hand-made run with spectrum 2 changed by `damage` (applied to its XML text).
std::shared_ptr<const MsRun> WithSecondSpectrumDamaged(const std::function<void(std::string&)>& damage) {
    std::string document = rawtest::MzmlDocument(ThreeSpectra());
    const std::size_t begin = document.find("<spectrum index=\"1\"");
    const std::size_t end = document.find("<spectrum index=\"2\"");
    std::string second = document.substr(begin, end - begin);
    damage(second);
    document.replace(begin, end - begin, second);
    return MsRun::OpenBytes(document);
}

} // namespace

TEST(BadInput, FilesThatCannotBeReadFailCleanly) {
    ExpectOpenFails((rawtest::TempDir() / "does-not-exist.mzML").string());
    ExpectOpenFails(rawtest::TempDir().string());
    ExpectOpenFails(rawtest::WriteFile("empty.mzML", ""));
    const std::string fifo = (rawtest::TempDir() / "fifo.mzML").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ExpectOpenFails(fifo); // must not block waiting for a writer
    ExpectOpenFails("");
}

TEST(BadInput, UnreadableFileFailsCleanly) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not apply to root";
    }
    const std::string path = rawtest::WriteFile("unreadable.mzML", rawtest::ReadAll(rawtest::SamplePath()));
    ::chmod(path.c_str(), 0);
    ExpectOpenFails(path);
}

TEST(BadInput, ContentThatIsNotMzmlFailsCleanly) {
    ExpectOpenFails(rawtest::WriteFile("text.mzML", "just some text\nand more\n"));
    ExpectOpenFails(rawtest::WriteFile("other.mzML", "<?xml version=\"1.0\"?><html><body>x</body></html>"));
    ExpectOpenFails(
        rawtest::WriteFile("nospectra.mzML", "<mzML><run><spectrumList count=\"0\"/></run></mzML>"));
    std::mt19937 random(42);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(1000 + round * 977, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        if (round % 2 == 1) {
            bytes[0] = '\x1f'; // pretend to be gzip
            bytes[1] = '\x8b';
        }
        EXPECT_FALSE(MsRun::OpenBytes(bytes)) << round;
    }
}

TEST(BadInput, TruncationAtAnyByteKeepsEveryCompleteSpectrum) {
    SKIP_WITHOUT_SHARED_DATA();
    const std::string original = rawtest::ReadAll(rawtest::SharedFile("thermo_Velos_sliced-mzml.mzML"));
    const auto whole = MsRun::OpenBytes(original);
    ASSERT_TRUE(whole);
    std::mt19937 random(7);
    std::vector<std::size_t> cuts = {0, 1, 2, 10, 100, 1000, original.size() - 1, original.size() - 100};
    for (int i = 0; i < 120; ++i) {
        cuts.push_back(random() % original.size());
    }
    for (const std::size_t cut : cuts) {
        const auto run = OpenAndDecodeAll(original.substr(0, cut));
        if (!run) {
            continue;
        }
        ASSERT_LE(run->Scans().size(), whole->Scans().size()) << cut;
        // Every spectrum but the last one read is complete and reads as in the whole file.
        for (std::size_t i = 0; i + 1 < run->Scans().size(); ++i) {
            ASSERT_EQ(run->NativeId(i), whole->NativeId(i)) << cut;
            const auto a = run->Decode(i);
            const auto b = whole->Decode(i);
            ASSERT_TRUE(a && b) << cut << " " << i;
            EXPECT_EQ(a->mz, b->mz) << cut << " " << i;
        }
    }
}

TEST(BadInput, TruncatedIndexedAndCompressedFilesStillOpen) {
    const std::string sample = rawtest::ReadAll(rawtest::SamplePath());
    const auto cut = OpenAndDecodeAll(sample.substr(0, sample.size() * 2 / 3));
    ASSERT_TRUE(cut);
    EXPECT_FALSE(cut->UsedIndex());
    EXPECT_GT(cut->Scans().size(), 100u);

    SKIP_WITHOUT_SHARED_DATA();
    const std::string gz =
        rawtest::ReadAll(rawtest::SharedFile("bruker_timsTOF_ddaPASEF_8B8egg_244.mzML.gz"));
    for (const std::size_t length : {std::size_t{10}, std::size_t{5000}, gz.size() / 3, gz.size() - 9}) {
        const auto run = OpenAndDecodeAll(gz.substr(0, length));
        if (run) {
            EXPECT_LE(run->Scans().size(), 103u) << length;
        }
    }
}

TEST(BadInput, CorruptedBytesNeverCrash) {
    SKIP_WITHOUT_SHARED_DATA();
    const std::string original = rawtest::ReadAll(rawtest::SharedFile("thermo_LTQFT_small.mzML"));
    std::mt19937 random(11);
    for (int round = 0; round < 40; ++round) {
        std::string bytes = original;
        for (int k = 0; k < 1 + round; ++k) {
            bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        const auto run = OpenAndDecodeAll(bytes);
        if (run) {
            EXPECT_LE(run->Scans().size(), 60u);
        }
    }
    // Corruption inside the compressed stream of a gzip file.
    std::string gz = rawtest::ReadAll(rawtest::SharedFile("bruker_timsTOF_ddaPASEF_8B8egg_244.mzML.gz"));
    for (std::size_t at = 1000; at < gz.size(); at += gz.size() / 7) {
        gz[at] = static_cast<char>(gz[at] ^ 0x55);
    }
    const auto run = OpenAndDecodeAll(gz);
    if (run) {
        EXPECT_LE(run->Scans().size(), 103u);
    }
}

TEST(BadInput, BrokenHeaderXmlLosesOnlyThatSpectrum) {
    const auto run = WithSecondSpectrumDamaged(
        [](std::string& xml) { xml.replace(xml.find("</scanList>"), 11, "</scanLisx>"); });
    ASSERT_TRUE(run);
    EXPECT_EQ(run->DamagedSpectrumCount(), 1u);
    ASSERT_EQ(run->Scans().size(), 2u);
    EXPECT_EQ(run->NativeId(0), "scan=1");
    EXPECT_EQ(run->NativeId(1), "scan=3");
    EXPECT_TRUE(run->Decode(0));
    EXPECT_TRUE(run->Decode(1));

    // The same in an indexed file, damaged in place so that the index stays right.
    std::string sample = rawtest::ReadAll(rawtest::SamplePath());
    const std::size_t spectrum = sample.find("id=\"function=2 process=0 scan=5\"");
    const std::size_t tag = sample.find("</scanList>", spectrum);
    sample.replace(tag, 11, "</scanLisx>");
    const auto indexed = MsRun::OpenBytes(sample);
    ASSERT_TRUE(indexed);
    EXPECT_TRUE(indexed->UsedIndex());
    EXPECT_EQ(indexed->DamagedSpectrumCount(), 1u);
    EXPECT_EQ(indexed->ScansOfFunction(2).size(), 170u);
    EXPECT_EQ(indexed->ScansOfFunction(1).size(), 70u);
}

TEST(BadInput, BrokenArraysFailOnlyThatSpectrum) {
    const std::vector<std::function<void(std::string&)>> damages = {
        // Unbalanced XML after the header.
        [](std::string& xml) { xml.replace(xml.find("</binary>"), 9, "</binarx>"); },
        // Valid base64, damaged zlib stream.
        [](std::string& xml) {
            const std::size_t at = xml.find("<binary>") + 8 + 6;
            xml[at] = xml[at] == 'A' ? 'B' : 'A';
            xml[at + 1] = xml[at + 1] == 'A' ? 'B' : 'A';
        },
        // Not base64 at all.
        [](std::string& xml) { xml.replace(xml.find("<binary>") + 8, 3, "*!*"); },
        // A partial value.
        [](std::string& xml) {
            const std::size_t begin = xml.rfind("<binary>") + 8;
            const std::size_t end = xml.find("</binary>", begin);
            xml.replace(begin, end - begin, rawtest::Base64({1, 2, 3, 4, 5}));
        },
    };
    for (std::size_t k = 0; k < damages.size(); ++k) {
        const auto run = WithSecondSpectrumDamaged(damages[k]);
        ASSERT_TRUE(run) << k;
        ASSERT_EQ(run->Scans().size(), 3u) << k;
        EXPECT_TRUE(run->Decode(0)) << k;
        EXPECT_FALSE(run->Decode(1)) << k;
        EXPECT_TRUE(run->Decode(2)) << k;
    }
    // Through the boundary: the one spectrum without arrays.
    const std::string path = rawtest::WriteFile("broken-array.mzML", rawtest::MzmlDocument(ThreeSpectra()));
    std::string bytes = rawtest::ReadAll(path);
    const std::size_t at = bytes.find("<binary>", bytes.find("<spectrum index=\"1\"")) + 8 + 6;
    bytes[at] = bytes[at] == 'A' ? 'B' : 'A';
    bytes[at + 1] = bytes[at + 1] == 'A' ? 'B' : 'A';
    rawtest::WriteFile("broken-array.mzML", bytes);
    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), 0));
    reader.SelectFunction(1);
    float* masses = nullptr;
    float* intensities = nullptr;
    int points = -1;
    EXPECT_FALSE(reader.GetScan(0, masses, intensities, points));
    EXPECT_EQ(masses, nullptr);
    EXPECT_EQ(intensities, nullptr);
    EXPECT_EQ(points, 0);
}

TEST(BadInput, DeclaredLengthsBoundTheArraysButDoNotMakeThem) {
    // More declared than stored (and an absurd encoded length): the stored values are what there is.
    const auto generous = WithSecondSpectrumDamaged([](std::string& xml) {
        xml.replace(xml.find("defaultArrayLength=\"3\""), 22, "defaultArrayLength=\"2000000\"");
        xml.replace(xml.find("encodedLength=\""), 15, "encodedLength=\"99999999999");
    });
    ASSERT_TRUE(generous);
    const auto spectrum = generous->Decode(1);
    ASSERT_TRUE(spectrum);
    EXPECT_EQ(spectrum->mz.size(), 3u);

    // Fewer declared than stored, for the spectrum or one array, and a declaration beyond any real
    // spectrum: that spectrum is damaged, its neighbours are not.
    for (const char* declaration :
         {"defaultArrayLength=\"2\"", "defaultArrayLength=\"2000000000\"", "defaultArrayLength=\"1e300\""}) {
        const auto run = WithSecondSpectrumDamaged(
            [&](std::string& xml) { xml.replace(xml.find("defaultArrayLength=\"3\""), 22, declaration); });
        ASSERT_TRUE(run) << declaration;
        EXPECT_FALSE(run->Decode(1)) << declaration;
        EXPECT_TRUE(run->Decode(0) && run->Decode(2)) << declaration;
    }
    const auto shortArray = WithSecondSpectrumDamaged([](std::string& xml) {
        xml.replace(xml.find("<binaryDataArray "), 17, "<binaryDataArray arrayLength=\"1\" ");
    });
    ASSERT_TRUE(shortArray);
    EXPECT_FALSE(shortArray->Decode(1));
}

TEST(BadInput, AbsurdNumbersStayHarmless) {
    using rawtest::Encoding;
    std::vector<rawtest::HandSpectrum> spectra = ThreeSpectra();
    spectra[0].rtParam = rawtest::RtParam("1e999", "minute");
    spectra[1].rtParam = rawtest::RtParam("nan", "second");
    spectra[1].isolationTarget = -5.0;
    spectra[2].msLevel = 99999;
    spectra[2].extraHeader =
        "<cvParam cvRef=\"MS\" accession=\"MS:1000285\" name=\"total ion current\" value=\"-1e308\"/>";
    spectra[2].id = "function=99999999 process=0 scan=1";
    std::string document = rawtest::MzmlDocument(spectra);
    document.insert(
        document.find("</precursor>"),
        "<selectedIonList count=\"1\"><selectedIon><cvParam cvRef=\"MS\" accession=\"MS:1000041\" "
        "name=\"charge state\" value=\"1e30\"/></selectedIon></selectedIonList>");
    const auto run = OpenAndDecodeAll(document);
    ASSERT_TRUE(run);
    ASSERT_EQ(run->Scans().size(), 3u);
    EXPECT_EQ(run->Scans()[0].rtMinutes, 0.0); // out of range: not taken
    EXPECT_EQ(run->Scans()[1].charge, 0);
    EXPECT_EQ(run->Scans()[1].SetMass(), 0.0);
    // A level beyond reason counts as MS/MS; the absurd function number is not used as a function.
    EXPECT_EQ(run->Scans()[2].msLevel, 2);
    EXPECT_LE(run->FunctionCount(), 2);
}

TEST(BadInput, EntitiesAreNeverExpanded) {
    std::string laughs = "<!DOCTYPE mzML [<!ENTITY lol \"lol\">";
    std::string previous = "lol";
    for (int i = 1; i <= 9; ++i) {
        const std::string name = "lol" + std::to_string(i);
        laughs += "<!ENTITY " + name + " \"";
        for (int k = 0; k < 10; ++k) {
            laughs += "&" + previous + ";";
        }
        laughs += "\">";
        previous = name;
    }
    laughs += "]>\n";
    std::vector<rawtest::HandSpectrum> spectra = ThreeSpectra();
    spectra[1].id = "scan=&lol9;";
    std::string document = rawtest::MzmlDocument(spectra);
    document.insert(document.find("<mzML"), laughs);
    const auto run = OpenAndDecodeAll(document);
    ASSERT_TRUE(run);
    for (std::size_t i = 0; i < run->Scans().size(); ++i) {
        EXPECT_LT(run->NativeId(i).size(), 64u);
    }
}

TEST(BadInput, ParamGroupsReadAsWrittenButReferencesCannotMultiplyWork) {
    auto param = [](const char* accession, const char* value = "") {
        return std::string("<cvParam cvRef=\"MS\" accession=\"") + accession + "\" name=\"x\" value=\"" +
               value + "\"/>";
    };
    // Thousands of params we do not act on around a few we do, in an order where the last one counts.
    std::string settings;
    for (int i = 0; i < 3000; ++i) {
        settings += param("MS:1000504", "123.4");
    }
    const std::string acted = param("MS:1000128") + param("MS:1000127") + param("MS:1000128") +
                              param("MS:1000129") + param("MS:1000285", "5") + param("MS:1000285", "7");
    const std::string groups = "<referenceableParamGroupList count=\"1\"><referenceableParamGroup id=\"g\">" +
                               settings + acted + settings +
                               "</referenceableParamGroup></referenceableParamGroupList>";
    auto references = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += "<referenceableParamGroupRef ref=\"g\"/>";
        }
        return text;
    };
    std::vector<rawtest::HandSpectrum> spectra = ThreeSpectra();
    spectra.push_back(spectra[2]);
    spectra.push_back(spectra[2]);
    spectra[0].extraHeader = references(1);
    spectra[1].extraHeader = acted; // the same params written in place
    spectra[2].extraHeader = references(500);
    spectra[3].id = "scan=4";
    spectra[3].extraHeader = references(5000);
    spectra[4].id = "scan=5";
    spectra[4].extraHeader = settings + settings; // 6000 params of its own
    const auto run = OpenAndDecodeAll(rawtest::MzmlDocument(spectra, groups));
    ASSERT_TRUE(run);
    ASSERT_EQ(run->Scans().size(), 3u);
    EXPECT_EQ(run->DamagedSpectrumCount(), 2u);
    for (std::size_t i = 0; i < run->Scans().size(); ++i) {
        const auto& scan = run->Scans()[i];
        EXPECT_FALSE(scan.centroid) << i;
        EXPECT_EQ(scan.polarity, varnex::rawdata::Polarity::Negative) << i;
        EXPECT_EQ(scan.tic, 7.0) << i;
    }
    EXPECT_EQ(run->NativeId(2), "scan=3");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(BadInput, RunningOutOfMemoryMakesOnlyThatSpectrumUnreadable) {
    // A spectrum that honestly declares 16 million points (128 MB an array) read with less memory left
    // than that: a child process with its address space capped reports what it saw in its exit status.
    // The array is larger than the 64 MB heap of a malloc arena, which a thread that ran earlier in this
    // process may have left reserved (and so already counted) but empty.
    const std::string big =
        rawtest::Base64(rawtest::Zlib(std::vector<unsigned char>(std::size_t{128} << 20)));
    std::string document;
    {
        const auto damaged = [&](std::string& xml) {
            xml.replace(xml.find("defaultArrayLength=\"3\""), 22, "defaultArrayLength=\"16777216\"");
            const std::size_t begin = xml.find("<binary>") + 8;
            xml.replace(begin, xml.find("</binary>") - begin, big);
        };
        std::string whole = rawtest::MzmlDocument(ThreeSpectra());
        const std::size_t begin = whole.find("<spectrum index=\"1\"");
        const std::size_t end = whole.find("<spectrum index=\"2\"");
        std::string second = whole.substr(begin, end - begin);
        damaged(second);
        document = whole.replace(begin, end - begin, second);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit =
            static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (16 << 20);
        const rlimit memory{limit, limit};
        ::setrlimit(RLIMIT_AS, &memory);
        const auto run = MsRun::OpenBytes(document);
        const int status = !run ? 10 : run->Decode(1) ? 11 : !run->Decode(0) || !run->Decode(2) ? 12 : 0;
        ::_exit(status);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif
