// SPDX-License-Identifier: GPL-3.0-or-later
// Trapped-ion-mobility survey frames: every mobility scan's points in one spectrum, each with its inverse
// reduced mobility, and MS/MS scans that give the precursor's mobility window. The reader keeps GetScan
// as it is and reads a frame through a precursor's window on request.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rawdata/HandMadeMzml.h"
#include "rawdata/RawData.h"
#include "support/RawTestFiles.h"

namespace {

using rawtest::Encode;
using rawtest::Encoding;
using rawtest::HandSpectrum;

// Time-of-flight bins: m/z = (t0 + i * step)^2, so that their width grows with the square root of m/z.
double BinMz(double bin) {
    return std::pow(std::sqrt(600.0) + bin * 8e-5, 2.0);
}

constexpr int kIonBin = 40;       // ion A, mobility 1.00 (inside the window)
constexpr int kNeighbourBin = 90; // ion B, mobility 0.80 (outside it)
constexpr double kWindowLow = 0.99;
constexpr double kWindowHigh = 1.01;

struct Frame {
    std::vector<double> mz, intensity, mobility;
    void Add(int bin, double counts, double inverseMobility) {
        mz.push_back(BinMz(bin));
        intensity.push_back(counts);
        mobility.push_back(inverseMobility);
    }
};

// Points in mobility-scan order (not m/z order), as frames are written: ion A over three mobility scans
// inside the window, ion B over two outside it, and a few lone counts.
Frame SurveyFrame() {
    Frame frame;
    for (const double mobility : {0.79, 0.81}) {
        for (int d = -2; d <= 2; ++d) {
            frame.Add(kNeighbourBin + d, 500.0 / (1 + d * d), mobility);
        }
    }
    for (const double mobility : {0.995, 1.0, 1.005}) {
        for (int d = -2; d <= 2; ++d) {
            frame.Add(kIonBin + d, 100.0 / (1 + d * d), mobility);
        }
    }
    frame.Add(5, 7.0, 1.0);
    frame.Add(140, 9.0, 1.2);
    return frame;
}

HandSpectrum Spectrum(const std::string& id, int level, const Frame& frame, bool withMobility,
                      const std::string& extraHeader = {}) {
    HandSpectrum s;
    s.id = id;
    s.msLevel = level;
    s.rtParam = rawtest::RtParam("1.0", "minute");
    s.isolationTarget = level > 1 ? BinMz(kIonBin) : 0.0;
    s.mz = Encode(frame.mz, Encoding::Float64);
    s.intensity = Encode(frame.intensity, Encoding::Float32);
    if (withMobility) {
        s.inverseMobility = Encode(frame.mobility, Encoding::Float64Zlib);
    }
    s.declaredLength = frame.mz.size();
    s.extraHeader = extraHeader;
    return s;
}

std::string WindowParams(double low, double high) {
    return "<userParam name=\"ion mobility lower limit\" value=\"" + std::to_string(low) +
           "\" type=\"xsd:double\"/><userParam name=\"ion mobility upper limit\" value=\"" +
           std::to_string(high) + "\" type=\"xsd:double\"/>";
}

std::string MobilityRun(const std::string& name) {
    Frame fragment;
    fragment.Add(10, 50.0, 1.0);
    const std::vector<HandSpectrum> spectra = {
        Spectrum("frame=1", 1, SurveyFrame(), true),
        Spectrum("frame=2 scanStart=1", 2, fragment, true, WindowParams(kWindowLow, kWindowHigh)),
        Spectrum("frame=2 scanStart=2", 2, fragment, true),
    };
    return rawtest::WriteFile(name, rawtest::MzmlDocument(spectra));
}

struct Points {
    std::vector<float> masses, intensities;
};

bool ReadWindowed(CRawDatafile& reader, double low, double high, Points& out) {
    float* masses = nullptr;
    float* intensities = nullptr;
    int count = 0;
    if (!reader.GetSurveyScanInMobilityWindow(0, low, high, masses, intensities, count)) {
        EXPECT_EQ(masses, nullptr);
        return false;
    }
    out.masses.assign(masses, masses + count);
    out.intensities.assign(intensities, intensities + count);
    delete[] masses;
    delete[] intensities;
    return true;
}

// The tallest point within `bins` bins (and half a bin) of `bin`, 0 when none.
float HeightNear(const Points& points, int bin, int bins) {
    float height = 0.0f;
    for (std::size_t i = 0; i < points.masses.size(); ++i) {
        if (points.masses[i] >= BinMz(bin - bins - 0.5) && points.masses[i] <= BinMz(bin + bins + 0.5)) {
            height = std::max(height, points.intensities[i]);
        }
    }
    return height;
}

} // namespace

TEST(MobilityWindow, MsmsScansGiveTheirWindowAndOnlyThose) {
    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(MobilityRun("mobility-window.mzML").c_str(), 0));
    EXPECT_TRUE(reader.HasMobilityWindows());
    double low = 0.0;
    double high = 0.0;
    ASSERT_TRUE(reader.GetMobilityWindow(1, 0, low, high));
    EXPECT_DOUBLE_EQ(low, kWindowLow);
    EXPECT_DOUBLE_EQ(high, kWindowHigh);
    EXPECT_FALSE(reader.GetMobilityWindow(1, 1, low, high)); // no window given
    EXPECT_FALSE(reader.GetMobilityWindow(0, 0, low, high)); // a survey frame has none
    EXPECT_FALSE(reader.GetMobilityWindow(1, 7, low, high)); // no such scan
}

TEST(MobilityWindow, PrecursorMobilityAloneIsAWindowOfNoWidth) {
    Frame fragment;
    fragment.Add(10, 50.0, 1.0);
    const std::string centre = "<cvParam cvRef=\"MS\" accession=\"MS:1002815\" name=\"inverse reduced ion "
                               "mobility\" value=\"0.95\"/>";
    HandSpectrum msms = Spectrum("frame=2", 2, fragment, false);
    msms.rtParam += centre;
    const std::string path = rawtest::WriteFile(
        "mobility-centre.mzML", rawtest::MzmlDocument({Spectrum("frame=1", 1, SurveyFrame(), true), msms}));
    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), 0));
    double low = 0.0;
    double high = 0.0;
    ASSERT_TRUE(reader.GetMobilityWindow(1, 0, low, high));
    EXPECT_DOUBLE_EQ(low, 0.95);
    EXPECT_DOUBLE_EQ(high, 0.95);
}

// Inside the window only ion A is left, its counts from every mobility scan summed on its bins; the whole
// frame holds both ions; GetScan still gives every point of the frame as it is.
TEST(MobilityWindow, FrameReadThroughAWindowKeepsOnlyThatWindowsIons) {
    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(MobilityRun("mobility-read.mzML").c_str(), 0));
    Points windowed;
    ASSERT_TRUE(ReadWindowed(reader, kWindowLow, kWindowHigh, windowed));
    ASSERT_FALSE(windowed.masses.empty());
    EXPECT_TRUE(std::is_sorted(windowed.masses.begin(), windowed.masses.end(), std::less_equal<>()));
    const float ion = HeightNear(windowed, kIonBin, 0);
    EXPECT_GT(ion, 3 * 100.0f); // three mobility scans summed, and smoothed over neighbouring bins
    EXPECT_EQ(HeightNear(windowed, kNeighbourBin, 4), 0.0f);
    EXPECT_EQ(HeightNear(windowed, 140, 4), 0.0f);
    // The profile peaks on the ion's own bin, and falls to zero away from it.
    EXPECT_GE(ion, HeightNear(windowed, kIonBin, 6));
    EXPECT_EQ(HeightNear(windowed, kIonBin + 20, 4), 0.0f);

    Points whole;
    ASSERT_TRUE(ReadWindowed(reader, 1.0, 0.0, whole));
    EXPECT_GT(HeightNear(whole, kNeighbourBin, 0), 2 * 500.0f);
    EXPECT_GT(HeightNear(whole, kIonBin, 0), 3 * 100.0f);

    ASSERT_TRUE(reader.SelectFunction(0));
    float* masses = nullptr;
    float* intensities = nullptr;
    int count = 0;
    ASSERT_TRUE(reader.GetScan(0, masses, intensities, count));
    EXPECT_EQ(count, static_cast<int>(SurveyFrame().mz.size()));
    EXPECT_TRUE(std::is_sorted(masses, masses + count));
    delete[] masses;
    delete[] intensities;
}

// Data without mobilities, or with a mobility array that does not match its points, is read as ever and
// never through a window.
TEST(MobilityWindow, FramesWithoutUsableMobilitiesAreNotReadThroughAWindow) {
    CRawDatafile plain;
    ASSERT_TRUE(plain.Open(rawtest::SamplePath().c_str(), 0));
    EXPECT_FALSE(plain.HasMobilityWindows());
    Points points;
    EXPECT_FALSE(ReadWindowed(plain, kWindowLow, kWindowHigh, points));

    HandSpectrum survey = Spectrum("frame=1", 1, SurveyFrame(), true);
    survey.inverseMobility = Encode({1.0, 1.0, 1.0}, Encoding::Float64);
    const std::string path = rawtest::WriteFile("mobility-short.mzML", rawtest::MzmlDocument({survey}));
    CRawDatafile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), 0));
    EXPECT_FALSE(ReadWindowed(reader, kWindowLow, kWindowHigh, points));
    reader.SelectFunction(0);
    float* masses = nullptr;
    float* intensities = nullptr;
    int count = 0;
    ASSERT_TRUE(reader.GetScan(0, masses, intensities, count));
    EXPECT_EQ(count, static_cast<int>(SurveyFrame().mz.size()));
    delete[] masses;
    delete[] intensities;
}
