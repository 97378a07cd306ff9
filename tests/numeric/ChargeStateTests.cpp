// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "numeric/ChargeState.h"
#include "numeric/SyntheticSpectrum.h"

namespace {

using test_spectra::SyntheticSpectrum;

constexpr float kTolerance = 0.00065f;
constexpr float kHydrogen = 1.00782f;

struct Result {
    int charge;
    float mz;
    float height;
};

Result Find(double setMass, const std::vector<float>& masses, const std::vector<float>& intensities) {
    Result result{0, -1.0f, -1.0f};
    result.charge =
        FindChargeState(static_cast<float>(setMass), 0, masses.data(), intensities.data(),
                        static_cast<int>(masses.size()), kTolerance, kHydrogen, result.mz, result.height);
    return result;
}

// Monoisotopic m/z of charge z placing the envelope's neutral mass near `mass`.
double MonoMz(double mass, int charge) {
    return mass / charge + test_spectra::kProton;
}

// Orbitrap-like profile: R = 60,000 at m/z 1000, sampled about six times per width.
constexpr double kProfileFwhmAt1000 = 1000.0 / 60000.0;
constexpr double kProfileGrid = 0.003;

class EnvelopeCharge : public ::testing::TestWithParam<int> {};

TEST_P(EnvelopeCharge, CentroidEnvelopeGivesItsChargeAndTheSelectedHeight) {
    const int charge = GetParam();
    for (double mass : {900.0, 1600.0, 2600.0}) {
        SyntheticSpectrum spectrum;
        const double setMass = spectrum.AddEnvelope(MonoMz(mass * charge / 2.0, charge), charge, 1e6);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        const Result result = Find(setMass, masses, intensities);
        EXPECT_EQ(result.charge, charge) << "mass " << mass * charge / 2.0;
        EXPECT_NEAR(result.mz, setMass, 1e-3);
        const double expectedHeight = intensities[0];
        EXPECT_FLOAT_EQ(result.height, expectedHeight);
    }
}

TEST_P(EnvelopeCharge, ProfileEnvelopeGivesItsCharge) {
    const int charge = GetParam();
    for (double mass : {900.0, 1600.0, 2600.0}) {
        SyntheticSpectrum spectrum;
        const double setMass = spectrum.AddEnvelope(MonoMz(mass * charge / 2.0, charge), charge, 1e6);
        std::vector<float> masses, intensities;
        spectrum.Profile(kProfileGrid, kProfileFwhmAt1000, masses, intensities);
        const Result result = Find(setMass, masses, intensities);
        EXPECT_EQ(result.charge, charge) << "mass " << mass * charge / 2.0;
        EXPECT_NEAR(result.mz, setMass, 2e-3);
    }
}

TEST_P(EnvelopeCharge, EnvelopeAmongNoiseGivesItsCharge) {
    const int charge = GetParam();
    std::mt19937 random(1234 + charge);
    for (int trial = 0; trial < 10; ++trial) {
        SyntheticSpectrum spectrum;
        const double setMass = spectrum.AddEnvelope(MonoMz(1200.0 + 150.0 * trial, charge), charge, 2e6);
        spectrum.AddNoise(random, 60, setMass - 10.0, setMass + 12.0, 1e3, 4e4);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        EXPECT_EQ(Find(setMass, masses, intensities).charge, charge) << "trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(ChargesOneToSix, EnvelopeCharge, ::testing::Range(1, 7));

TEST(ChargeStateNeighbours, OverlappingEnvelopeOfAnotherChargeDoesNotChangeTheAnswer) {
    struct Case {
        int charge;
        int neighbourCharge;
        double neighbourShift; // m/z from the selected envelope's monoisotopic peak
        double neighbourHeight;
    };
    const Case cases[] = {{2, 3, 0.21, 3e6}, {3, 2, -0.37, 5e5}, {2, 1, 1.27, 1e6},
                          {4, 2, 0.13, 2e6}, {1, 2, 0.55, 8e5},  {3, 4, 0.09, 1e6}};
    for (const Case& c : cases) {
        for (bool profile : {false, true}) {
            SyntheticSpectrum spectrum;
            const double mono = MonoMz(1800.0, c.charge);
            const double setMass = spectrum.AddEnvelope(mono, c.charge, 1e6);
            spectrum.AddEnvelope(mono + c.neighbourShift, c.neighbourCharge, c.neighbourHeight);
            std::vector<float> masses, intensities;
            if (profile) {
                spectrum.Profile(kProfileGrid, kProfileFwhmAt1000, masses, intensities);
            } else {
                spectrum.Centroid(masses, intensities);
            }
            EXPECT_EQ(Find(setMass, masses, intensities).charge, c.charge)
                << "charge " << c.charge << " beside charge " << c.neighbourCharge
                << (profile ? " profile" : "");
        }
    }
}

TEST(ChargeStateNeighbours, WeakEnvelopeBesideATallOneKeepsItsOwnCharge) {
    SyntheticSpectrum spectrum;
    const double setMass = spectrum.AddEnvelope(700.30, 2, 2e5);
    spectrum.AddEnvelope(699.95, 3, 5e7);
    std::vector<float> masses, intensities;
    spectrum.Centroid(masses, intensities);
    const Result result = Find(setMass, masses, intensities);
    EXPECT_EQ(result.charge, 2);
    EXPECT_NEAR(result.height, 2e5 * 100.0 / 100.0, 2e5 * 0.01);
}

// A tall peak of another ion a quarter step beside the selected one is where charge 2z would put an isotope,
// but one peak a thousand times taller is no isotope of this envelope: it must not cost z its answer.
TEST(ChargeStateNeighbours, TallPeakAtAFractionalStepDoesNotRejectTheCharge) {
    for (double fraction : {0.25, 0.5, 0.75}) {
        SyntheticSpectrum spectrum;
        const double setMass = spectrum.AddEnvelope(MonoMz(3170.0, 2), 2, 3e4);
        spectrum.AddPeak(setMass + fraction * test_spectra::kCarbon13Step / 2.0, 1.5e8);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        EXPECT_EQ(Find(setMass, masses, intensities).charge, 2) << "peak at " << fraction << " step";
    }
}

// Another ion's peak, far taller, on one of the envelope's isotope positions: the envelope is still read.
TEST(ChargeStateNeighbours, TallForeignPeakOnAnIsotopePositionDoesNotHideTheEnvelope) {
    for (int charge : {1, 2, 3}) {
        for (int isotope : {2, 3}) {
            SyntheticSpectrum spectrum;
            const double setMass = spectrum.AddEnvelope(MonoMz(1400.0, charge), charge, 5e5);
            spectrum.AddPeak(setMass + isotope * test_spectra::kCarbon13Step / charge + 0.0004, 2e7);
            std::vector<float> masses, intensities;
            spectrum.Centroid(masses, intensities);
            EXPECT_EQ(Find(setMass, masses, intensities).charge, charge)
                << "charge " << charge << ", foreign peak on isotope " << isotope;
        }
    }
}

// Two envelopes whose isotopes fall closer than the instrument resolves: their signals merge into one
// centroid, taller than either and off both isotope steps, pulled toward the taller contributor. With its
// first isotope hidden in that centroid, an envelope must not be read at a divisor of its charge from the
// steps that remain (the spectrum fits its own charge as well once the merge is allowed for); the
// neighbour keeps its charge.
TEST(ChargeStateNeighbours, IsotopeMergedIntoAnotherIonsCentroidDoesNotGiveADivisorOfTheCharge) {
    struct Case {
        int charge;
        double mass;
        double height;
        int neighbourCharge;
        double neighbourHeight;
        double separation; // neighbour's isotope 2 minus this envelope's isotope 1, m/z
    };
    const Case cases[] = {{4, 3276.0, 3.3e6, 2, 5.7e6, 0.016},
                          {4, 3276.0, 3.3e6, 2, 5.7e6, -0.015},
                          {3, 3254.0, 4.0e6, 2, 13.8e6, 0.014},
                          {3, 3254.0, 4.0e6, 2, 13.8e6, -0.012}};
    constexpr double kResolvingPpm = 20.0;
    for (const Case& c : cases) {
        SyntheticSpectrum spectrum;
        const double mono = MonoMz(c.mass, c.charge);
        const double firstIsotope = mono + test_spectra::kCarbon13Step / c.charge;
        const double neighbourMono =
            firstIsotope + c.separation - 2.0 * test_spectra::kCarbon13Step / c.neighbourCharge;
        const double setMass = spectrum.AddEnvelope(mono, c.charge, c.height);
        const double neighbourSetMass =
            spectrum.AddEnvelope(neighbourMono, c.neighbourCharge, c.neighbourHeight);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities, kResolvingPpm);
        const int found = Find(setMass, masses, intensities).charge;
        EXPECT_TRUE(found == c.charge || found == -1)
            << "charge " << c.charge << " read as " << found << ", separation " << c.separation;
        EXPECT_EQ(Find(neighbourSetMass, masses, intensities).charge, c.neighbourCharge)
            << "neighbour of charge " << c.charge << ", separation " << c.separation;
    }
}

// An envelope whose tallest isotope merged with another ion's signal into one centroid, off its step by
// more than the spectrum's precision: the merged centroid says nothing either way, and the isotopes on
// either side of it, precisely on their steps, still show the charge. An ion alone beside the same
// merged centroid, with nothing on its other steps, stays undetermined.
TEST(ChargeStateNeighbours, IsotopeMergedIntoAForeignCentroidLeavesTheChargeToTheOtherIsotopes) {
    constexpr double kResolvingPpm = 20.0;
    // Isotopes 0 to 3 of a 2.2 kDa envelope as a thresholded scan keeps them, isotope 1 taller than
    // averagine's; isotope 2 merges with a foreign signal half its height.
    const double heights[] = {1.4e5, 2.6e5, 0.65e5, 0.7e5};
    for (int charge : {2, 4, 5}) {
        for (double foreignOffset : {0.009, -0.009}) {
            SyntheticSpectrum spectrum;
            const double mono = MonoMz(540.0 * 4, charge);
            for (int isotope = 0; isotope < 4; ++isotope) {
                spectrum.AddPeak(mono + isotope * test_spectra::kCarbon13Step / charge, heights[isotope]);
            }
            spectrum.AddPeak(mono + 2.0 * test_spectra::kCarbon13Step / charge + foreignOffset, 0.65e5);
            // Weak peaks of other ions away from the envelope set the scan's detection level.
            for (double offset = -6.5; offset < 10.0; offset += 0.37) {
                if (offset < -1.5 || offset > 2.5) {
                    spectrum.AddPeak(mono + offset, offset < 0.0 ? 2.0e4 : 3.0e4);
                }
            }
            std::vector<float> masses, intensities;
            spectrum.Centroid(masses, intensities, kResolvingPpm);
            EXPECT_EQ(Find(mono, masses, intensities).charge, charge)
                << "charge " << charge << ", foreign peak " << foreignOffset;
        }
    }
}

// A weak envelope among noise of its own height: a noise peak at a half step between two isotopes
// does not make the envelope's charge twice what it is, while an envelope of charge 2z, whose every
// half step is filled, is still read as 2z.
TEST(ChargeStateNeighbours, LoneNoisePeakAtAHalfStepDoesNotDoubleTheCharge) {
    for (int charge : {1, 2, 3}) {
        SyntheticSpectrum spectrum;
        const double setMass = spectrum.AddEnvelope(MonoMz(2500.0, charge), charge, 2e4);
        spectrum.AddPeak(setMass + 0.5 * test_spectra::kCarbon13Step / charge, 5e3);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        EXPECT_EQ(Find(setMass, masses, intensities).charge, charge) << "charge " << charge;

        SyntheticSpectrum doubled;
        const double doubledSetMass = doubled.AddEnvelope(MonoMz(2500.0, 2 * charge), 2 * charge, 2e4);
        doubled.Centroid(masses, intensities);
        EXPECT_EQ(Find(doubledSetMass, masses, intensities).charge, 2 * charge) << "charge " << 2 * charge;
    }
}

// Crowded survey scans put other ions' peaks on some of the half steps of a charge-2 envelope, so that
// charge 4 fits nearly as well, but with a hole: the half step after them is empty while the isotope beyond
// it, predicted weaker, is seen. Thresholding removes an envelope's weakest isotopes first, so the half
// steps hold chance neighbours and the charge stays 2.
TEST(ChargeStateNeighbours, NeighboursOnSomeHalfStepsWithAHoleBeyondDoNotDoubleTheCharge) {
    for (double neighbourHeight : {0.9e6, 1.1e6}) {
        SyntheticSpectrum spectrum;
        const double mono = MonoMz(2990.0, 2);
        const double setMass = spectrum.AddEnvelope(mono, 2, 1e6, 1);
        const double halfStep = 0.5 * test_spectra::kCarbon13Step / 2;
        spectrum.AddPeak(setMass - halfStep, neighbourHeight);
        spectrum.AddPeak(setMass + halfStep, 1.1 * neighbourHeight);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        EXPECT_EQ(Find(setMass, masses, intensities).charge, 2) << "neighbours " << neighbourHeight;
    }
}

TEST(ChargeStateSelection, SetMassOnAHigherIsotopeStillGivesTheCharge) {
    for (int isotope : {1, 2, 3}) {
        for (bool profile : {false, true}) {
            SyntheticSpectrum spectrum;
            const double setMass = spectrum.AddEnvelope(MonoMz(3000.0, 3), 3, 1e6, isotope);
            std::vector<float> masses, intensities;
            if (profile) {
                spectrum.Profile(kProfileGrid, kProfileFwhmAt1000, masses, intensities);
            } else {
                spectrum.Centroid(masses, intensities);
            }
            const Result result = Find(setMass, masses, intensities);
            EXPECT_EQ(result.charge, 3) << "isotope " << isotope << (profile ? " profile" : "");
            EXPECT_NEAR(result.mz, setMass, 2e-3);
        }
    }
}

// On high-resolution data two peaks a few ppm apart are two ions: the one at the set mass is the precursor,
// even when a taller peak of another envelope sits right beside it.
TEST(ChargeStateSelection, TallerPeakAFewPpmAwayIsNotTakenForThePrecursor) {
    for (double ppm : {-10.0, -2.5, 3.0, 12.0}) {
        SyntheticSpectrum spectrum;
        const double setMass = spectrum.AddEnvelope(MonoMz(3100.0, 3), 3, 2.5e7, 1);
        // A charge-2 envelope three times as tall, one of its peaks `ppm` from the selected one.
        const double beside = setMass * (1.0 + ppm * 1e-6);
        spectrum.AddEnvelope(beside - test_spectra::kCarbon13Step / 2.0, 2, 7e7);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        const Result result = Find(setMass, masses, intensities);
        EXPECT_EQ(result.charge, 3) << ppm << " ppm";
        EXPECT_NEAR(result.mz, setMass, 1e-4) << ppm << " ppm";
    }
}

// Some instruments aim the isolation window at an envelope's middle, between its isotopes. A weak peak
// closer to that set mass than any isotope (noise, or a weaker ion) is not the ion the instrument chose:
// the nearest of the peaks that stand out is one of the envelope's, and the envelope gives the charge.
TEST(ChargeStateSelection, SetMassBetweenIsotopesReadsTheEnvelopeNotTheNearestWeakPeak) {
    for (int charge : {2, 3, 4}) {
        SyntheticSpectrum spectrum;
        const double mono = MonoMz(1000.0 * charge, charge);
        spectrum.AddEnvelope(mono, charge, 1e6);
        const double middle = mono + 1.5 * test_spectra::kCarbon13Step / charge;
        spectrum.AddPeak(middle + 0.05, 3e4);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        const Result result = Find(middle, masses, intensities);
        EXPECT_EQ(result.charge, charge);
        EXPECT_GT(result.height, 1e5f) << "charge " << charge;
    }
}

TEST(ChargeStateSelection, SetMassOffThePeakWithinTheToleranceFindsThePeak) {
    SyntheticSpectrum spectrum;
    const double peakMz = spectrum.AddEnvelope(MonoMz(1500.0, 2), 2, 1e6);
    std::vector<float> masses, intensities;
    spectrum.Centroid(masses, intensities);
    // 300 ppm below the peak: inside the caller's 650 ppm.
    const Result result = Find(peakMz * (1.0 - 300e-6), masses, intensities);
    EXPECT_EQ(result.charge, 2);
    EXPECT_NEAR(result.mz, peakMz, 1e-3);
    EXPECT_FLOAT_EQ(result.height, 1e6f);
}

// Profile envelope of charge 3 with the set mass where some instruments aim the isolation window: between
// isotopes 2 and 3, on no peak. A weak apex `speckWidthPoints` grid steps wide lies `speckOffPpm` off the set
// mass. Returns the routine's answer.
Result SetMassBetweenIsotopesBesideAWeakApex(double speckOffPpm, int speckWidthPoints) {
    constexpr int kCharge = 3;
    SyntheticSpectrum spectrum;
    const double mono = MonoMz(4200.0, kCharge);
    spectrum.AddEnvelope(mono, kCharge, 1e6);
    const double setMass = mono + 2.4 * test_spectra::kCarbon13Step / kCharge;
    const double speckMz = setMass * (1.0 - speckOffPpm * 1e-6);
    std::vector<float> masses, intensities;
    spectrum.Profile(kProfileGrid, kProfileFwhmAt1000, masses, intensities);
    // The speck: a triangle of `speckWidthPoints` points either side of its apex, between two isotopes
    // where the profile holds no points.
    const auto at = std::lower_bound(masses.begin(), masses.end(), static_cast<float>(speckMz));
    const auto index = at - masses.begin();
    std::vector<float> speckMasses, speckIntensities;
    for (int i = -speckWidthPoints - 1; i <= speckWidthPoints + 1; ++i) {
        speckMasses.push_back(static_cast<float>(speckMz + i * kProfileGrid));
        speckIntensities.push_back(
            static_cast<float>(3e4 * std::max(0.0, 1.0 - std::abs(i) / (speckWidthPoints + 1.0))));
    }
    masses.insert(masses.begin() + index, speckMasses.begin(), speckMasses.end());
    intensities.insert(intensities.begin() + index, speckIntensities.begin(), speckIntensities.end());
    return Find(setMass, masses, intensities);
}

TEST(ChargeStateSelection, NarrowSpeckBesideASetMassBetweenIsotopesGivesWayToTheEnvelope) {
    const Result result = SetMassBetweenIsotopesBesideAWeakApex(13.0, 0);
    EXPECT_EQ(result.charge, 3);
    // The height stays that of the peak nearest the set mass, as the caller's intensity.
    EXPECT_FLOAT_EQ(result.height, 3e4f);
}

// The set mass on the weak apex itself, or an apex as wide as the envelope's peaks (an ion, not noise): the
// instrument chose that peak, and its own envelope, which it does not show, is the precursor's.
TEST(ChargeStateSelection, WeakPeakTheSetMassIsAimedAtOrAsWideAsAnIonKeepsItsOwnAnswer) {
    EXPECT_EQ(SetMassBetweenIsotopesBesideAWeakApex(0.0, 0).charge, -1);
    EXPECT_EQ(SetMassBetweenIsotopesBesideAWeakApex(13.0, 12).charge, -1);
}

TEST(ChargeStateUndecided, LonePeakGivesMinusOneAndStillItsHeight) {
    for (bool profile : {false, true}) {
        SyntheticSpectrum spectrum;
        spectrum.AddPeak(612.3, 4.5e5);
        spectrum.AddPeak(640.8, 1e5); // far away: not an isotope of it
        std::vector<float> masses, intensities;
        if (profile) {
            spectrum.Profile(kProfileGrid, kProfileFwhmAt1000, masses, intensities);
        } else {
            spectrum.Centroid(masses, intensities);
        }
        const Result result = Find(612.3, masses, intensities);
        EXPECT_EQ(result.charge, -1);
        EXPECT_NEAR(result.height, 4.5e5, 4.5e5 * 0.02);
        EXPECT_NEAR(result.mz, 612.3, 2e-3);
    }
}

TEST(ChargeStateUndecided, EmptySpectrumGivesMinusOneAndZeroHeight) {
    float mz = -1.0f;
    float height = -1.0f;
    EXPECT_EQ(FindChargeState(500.0f, 0, nullptr, nullptr, 0, kTolerance, kHydrogen, mz, height), -1);
    EXPECT_EQ(height, 0.0f);
    const std::vector<float> none;
    EXPECT_EQ(FindChargeState(500.0f, 0, none.data(), none.data(), -5, kTolerance, kHydrogen, mz, height),
              -1);
    EXPECT_EQ(height, 0.0f);
}

TEST(ChargeStateUndecided, SetMassZeroNegativeOrNotANumberGivesMinusOne) {
    SyntheticSpectrum spectrum;
    spectrum.AddEnvelope(MonoMz(1500.0, 2), 2, 1e6);
    std::vector<float> masses, intensities;
    spectrum.Centroid(masses, intensities);
    for (double setMass : {0.0, -751.0, std::numeric_limits<double>::quiet_NaN()}) {
        const Result result = Find(setMass, masses, intensities);
        EXPECT_EQ(result.charge, -1);
        EXPECT_EQ(result.height, 0.0f);
    }
}

TEST(ChargeStateUndecided, SetMassFarFromAnyPeakGivesMinusOneAndZeroHeight) {
    SyntheticSpectrum spectrum;
    spectrum.AddEnvelope(MonoMz(1500.0, 2), 2, 1e6);
    std::vector<float> masses, intensities;
    spectrum.Centroid(masses, intensities);
    for (double setMass : {1200.0, 755.5, 100.0}) {
        const Result result = Find(setMass, masses, intensities);
        EXPECT_EQ(result.charge, -1) << setMass;
        EXPECT_EQ(result.height, 0.0f) << setMass;
    }
}

// How many of `trials` noise-only windows (`chargeOfTrial` builds one from the shared random source and
// returns the routine's answer) are given a charge.
template <typename ChargeOfTrial>
int NoiseWindowsDecided(unsigned seed, int trials, ChargeOfTrial chargeOfTrial) {
    std::mt19937 random(seed);
    int decided = 0;
    for (int trial = 0; trial < trials; ++trial) {
        decided += chargeOfTrial(random) > 0 ? 1 : 0;
    }
    return decided;
}

// Two noise peaks per m/z of similar heights: an isotope step away from any peak there is often another,
// so a charge may only be claimed on more evidence than one neighbour.
TEST(ChargeStateUndecided, NoisePeaksRarelyPassForAnEnvelope) {
    const int trials = 200;
    const int decided = NoiseWindowsDecided(99, trials, [](std::mt19937& random) {
        SyntheticSpectrum spectrum;
        spectrum.AddNoise(random, 80, 480.0, 520.0, 1e3, 1e5);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        const std::size_t middle = masses.size() / 2;
        return Find(masses[middle], masses, intensities).charge;
    });
    EXPECT_LE(decided, trials / 10);
}

// Other ions' profile apexes near the half steps of a charge-2 envelope, but nearly half a peak width off
// them: a merged isotope's apex would lie closer, so they do not make the envelope charge 4.
TEST(ChargeStateNeighbours, ProfileApexesHalfAWidthOffTheHalfStepsDoNotDoubleTheCharge) {
    for (double offWidths : {0.4, 0.45}) {
        for (double neighbourHeight : {0.5e6, 1e6}) {
            SyntheticSpectrum spectrum;
            const double mono = MonoMz(2400.0, 2);
            const double setMass = spectrum.AddEnvelope(mono, 2, 1e6, 1);
            const double widthMz = kProfileFwhmAt1000 * setMass / 1000.0;
            const double halfStep = 0.5 * test_spectra::kCarbon13Step / 2;
            const double shape[] = {0.9, 0.8, 0.5, 0.25};
            for (int k = 0; k < 4; ++k) {
                spectrum.AddPeak(mono + (2 * k + 1) * halfStep + offWidths * widthMz,
                                 neighbourHeight * shape[k]);
            }
            std::vector<float> masses, intensities;
            spectrum.Profile(kProfileGrid, kProfileFwhmAt1000, masses, intensities);
            EXPECT_EQ(Find(setMass, masses, intensities).charge, 2)
                << "off " << offWidths << " widths, neighbours " << neighbourHeight;
        }
    }
}

// Profile scans crowded with peaks as tall as each other: the windows around isotope steps are matched
// tightly but judged for chance over half a width, so noise alone rarely passes for an envelope.
TEST(ChargeStateUndecided, CrowdedProfileNoiseRarelyPassesForAnEnvelope) {
    const int trials = 40;
    const int decided = NoiseWindowsDecided(7, trials, [](std::mt19937& random) {
        SyntheticSpectrum spectrum;
        spectrum.AddNoise(random, 300, 793.0, 811.0, 1e5, 1e6);
        std::vector<float> masses, intensities;
        spectrum.Profile(kProfileGrid, kProfileFwhmAt1000, masses, intensities);
        return Find(800.0, masses, intensities).charge;
    });
    EXPECT_LE(decided, trials / 10);
}

// Many weak peaks crowd the window, but none is nearly as tall as the envelope's isotopes: chance
// neighbours of such heights are rare, so the envelope's two strong isotopes are evidence enough.
TEST(ChargeStateNeighbours, TallEnvelopeAmongManyWeakPeaksGivesItsCharge) {
    std::mt19937 random(7);
    for (int charge : {1, 2, 3}) {
        for (int trial = 0; trial < 5; ++trial) {
            SyntheticSpectrum spectrum;
            const double setMass = spectrum.AddEnvelope(MonoMz(1000.0 + 40.0 * trial, charge), charge, 1e6);
            spectrum.AddNoise(random, 400, setMass - 8.0, setMass + 12.0, 5e4, 1.2e5);
            std::vector<float> masses, intensities;
            spectrum.Centroid(masses, intensities);
            EXPECT_EQ(Find(setMass, masses, intensities).charge, charge)
                << "charge " << charge << " trial " << trial;
        }
    }
}

// A heavy envelope whose tail stops after its fourth isotope (a composition unlike averagine's, or a
// thresholded scan) in a crowded window: averagine predicts a fifth isotope at more than half the
// tallest, but four clear isotopes still tell the charge.
TEST(ChargeStateNeighbours, HeavyEnvelopeWithAShortTailInACrowdedWindowGivesItsCharge) {
    std::mt19937 random(11);
    for (int charge : {2, 3}) {
        for (int trial = 0; trial < 5; ++trial) {
            const double mono = MonoMz(4130.0 + 20.0 * trial, charge);
            const double step = test_spectra::kCarbon13Step / charge;
            const double pattern[] = {0.34, 0.86, 1.0, 0.80};
            SyntheticSpectrum spectrum;
            for (int i = 0; i < 4; ++i) {
                spectrum.AddPeak(mono + i * step, 4e7 * pattern[i]);
            }
            // Other ions' peaks, up to three times as tall, anywhere but on the envelope's steps.
            std::uniform_real_distribution<double> position(mono - 7.0, mono + 11.0);
            std::uniform_real_distribution<double> logHeight(std::log(1e6), std::log(1.2e8));
            for (int added = 0; added < 120;) {
                const double mz = position(random);
                const double steps = (mz - mono) / step;
                if (std::fabs(steps - std::round(steps)) * step > 0.05) {
                    spectrum.AddPeak(mz, std::exp(logHeight(random)));
                    ++added;
                }
            }
            std::vector<float> masses, intensities;
            spectrum.Centroid(masses, intensities);
            EXPECT_EQ(Find(mono, masses, intensities).charge, charge)
                << "charge " << charge << " trial " << trial;
        }
    }
}

// A light singly charged ion whose pattern is that of a much heavier peptide (a few halogen, sulfur,
// silicon or metal atoms, or a label, weigh heavily in a small ion's pattern), among weaker peaks: the
// unit spacing of four isotopes still tells the charge.
TEST(ChargeStateNeighbours, LightIonWithAFarHeavierPatternGivesChargeOne) {
    std::mt19937 random(5);
    const double pattern[] = {0.46, 0.96, 1.0, 0.70};
    for (int trial = 0; trial < 6; ++trial) {
        const double mono = 390.0 + 50.0 * trial;
        SyntheticSpectrum spectrum;
        for (int i = 0; i < 4; ++i) {
            spectrum.AddPeak(mono + i * test_spectra::kCarbon13Step, 5e5 * pattern[i]);
        }
        spectrum.AddNoise(random, 60, mono - 7.0, mono + 11.0, 1e3, 6e4);
        std::vector<float> masses, intensities;
        spectrum.Centroid(masses, intensities);
        EXPECT_EQ(Find(mono, masses, intensities).charge, 1) << "centroid, mono " << mono;
        spectrum.Profile(kProfileGrid, kProfileFwhmAt1000, masses, intensities);
        EXPECT_EQ(Find(mono, masses, intensities).charge, 1) << "profile, mono " << mono;
    }
}

// Profile peaks of eight points a width `w` apart, as some converters write them: 0, .12, .45, .92, .92,
// .45, .12, 0 of the height, apex midway.
void AddEightPointPeak(double apexMz, double height, double w, std::vector<float>& masses,
                       std::vector<float>& intensities) {
    const double shape[] = {0.0, 0.12, 0.45, 0.92, 0.92, 0.45, 0.12, 0.0};
    for (int j = 0; j < 8; ++j) {
        masses.push_back(static_cast<float>(apexMz + (j - 3.5) * w));
        intensities.push_back(static_cast<float>(height * shape[j]));
    }
}

// A weak peak just left of an isotope, touching it, has pushed the isotope's apex more than a width off
// its step; the other isotopes are in place. The displaced isotope still counts for the charge.
TEST(ChargeStateNeighbours, IsotopeDisplacedByATouchingNeighbourOnAProfileScanStillCounts) {
    for (int charge : {2, 3}) {
        const double mono = 800.0;
        const double w = 4e-7 * std::pow(mono, 1.5);
        const double step = test_spectra::kCarbon13Step / charge;
        const double heights[] = {1e6, 9e5, 4.5e5, 1.5e5};
        std::vector<float> masses, intensities;
        AddEightPointPeak(mono - 2.3, 3e3, w, masses, intensities);
        for (int i = 0; i < 4; ++i) {
            double apex = mono + i * step;
            if (i == 1) {
                AddEightPointPeak(apex - 4.0 * w, 2e4, w, masses, intensities);
                apex += 4.0 * w;
            }
            AddEightPointPeak(apex, heights[i], w, masses, intensities);
        }
        AddEightPointPeak(mono + 3.1, 3e3, w, masses, intensities);
        EXPECT_EQ(Find(mono, masses, intensities).charge, charge) << "charge " << charge;
    }
}

// A weak peak sits on an isotope's step and the isotope itself, laid beside it, lies a third of a step
// off, too far to be taken for that isotope: the step is neither evidence for the charge nor a strong
// isotope missing, so the other isotopes still tell the charge.
TEST(ChargeStateNeighbours, IsotopePushedOffItsStepByAWeakPeakOnItDoesNotRejectTheCharge) {
    for (int charge : {2, 3}) {
        for (int pushed : {1, 2}) {
            const double mono = 1261.04;
            const double w = 4e-7 * std::pow(mono, 1.5);
            const double step = test_spectra::kCarbon13Step / charge;
            const std::vector<double> pattern =
                test_spectra::PublishedPattern(charge * (mono - test_spectra::kProton));
            std::vector<float> masses, intensities;
            AddEightPointPeak(mono - 2.3, 3e3, w, masses, intensities);
            for (std::size_t i = 0; i < pattern.size(); ++i) {
                double apex = mono + i * step;
                if (static_cast<int>(i) == pushed) {
                    AddEightPointPeak(apex, 7e3, w, masses, intensities);
                    apex += 8.0 * w;
                }
                AddEightPointPeak(apex, 2e7 * pattern[i] / 100.0, w, masses, intensities);
            }
            AddEightPointPeak(mono + 5.2, 3e3, w, masses, intensities);
            EXPECT_EQ(Find(mono, masses, intensities).charge, charge)
                << "charge " << charge << " pushed " << pushed;
        }
    }
}

TEST(ChargeStateUndecided, UnresolvedIsotopesOnALowResolutionScanAreNotGuessed) {
    // Ion-trap-like profile, width 0.5 at m/z 1000: the isotopes of charge 4 (0.25 apart) merge.
    SyntheticSpectrum spectrum;
    const double setMass = spectrum.AddEnvelope(MonoMz(3000.0, 4), 4, 1e6);
    std::vector<float> masses, intensities;
    spectrum.Profile(0.05, 0.5, masses, intensities);
    const int charge = Find(setMass, masses, intensities).charge;
    EXPECT_TRUE(charge == -1 || charge == 4) << charge;
}

// An ion-trap survey scan at unit resolution as converters write it: Gaussian peaks `fwhm` wide (the same
// at every m/z) sampled every `grid` m/z over the whole window, never zero, on a noisy baseline.
void IonTrapProfile(const SyntheticSpectrum& spectrum, double fromMz, double toMz, double grid, double fwhm,
                    std::mt19937& random, std::vector<float>& masses, std::vector<float>& intensities) {
    std::vector<float> centroidMasses, heights;
    spectrum.Centroid(centroidMasses, heights);
    std::uniform_real_distribution<double> baseline(200.0, 1500.0);
    masses.clear();
    intensities.clear();
    const double sigma = fwhm / 2.3548;
    for (double mz = fromMz; mz <= toMz; mz += grid) {
        double sum = baseline(random);
        for (std::size_t i = 0; i < centroidMasses.size(); ++i) {
            const double d = (mz - centroidMasses[i]) / sigma;
            sum += std::fabs(d) < 8.0 ? heights[i] * std::exp(-0.5 * d * d) : 0.0;
        }
        masses.push_back(static_cast<float>(mz));
        intensities.push_back(static_cast<float>(sum));
    }
}

// At unit resolution (peaks 0.4 m/z wide, points every 0.083 m/z, no zero points) isotopes closer than
// the peak width merge: no charge above 2 can be told, and the sampling grid must not pass for the
// isotope steps of charge 4 or 6. Envelopes of charge 1 and 2, whose steps the width still separates,
// give their charge or none.
TEST(ChargeStateResolution, UnitResolutionProfileNeverGivesAChargeItsPeakWidthCannotResolve) {
    std::mt19937 random(7);
    for (int trueCharge = 1; trueCharge <= 4; ++trueCharge) {
        for (double mass : {900.0, 1400.0, 2100.0}) {
            SyntheticSpectrum spectrum;
            const double setMass = spectrum.AddEnvelope(MonoMz(mass, trueCharge), trueCharge, 2e5);
            spectrum.AddEnvelope(setMass - 4.1, 1, 6e4);
            spectrum.AddEnvelope(setMass + 5.3, 2, 4e4);
            std::vector<float> masses, intensities;
            IonTrapProfile(spectrum, setMass - 10.0, setMass + 12.0, 1.0 / 12.0, 0.4, random, masses,
                           intensities);
            const int found = Find(setMass, masses, intensities).charge;
            if (trueCharge <= 2) {
                EXPECT_TRUE(found == trueCharge || found == -1) << "mass " << mass << " found " << found;
            } else {
                EXPECT_EQ(found, -1) << "charge " << trueCharge << " mass " << mass;
            }
        }
    }
}

// Ion-trap centroids: no two closer than the unit resolution (about 0.4 m/z), many of them in the window,
// their positions scattered by a tenth of an m/z. Such spacing cannot show isotope steps of charge 3 and
// up, however well scattered centroids happen to line up with them.
TEST(ChargeStateResolution, CentroidsSpacedAtUnitResolutionNeverGiveAChargeTheyCannotResolve) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> gap(0.42, 0.75);
    std::uniform_real_distribution<double> logHeight(std::log(2e3), std::log(3e5));
    int decided = 0;
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<float> masses, intensities;
        for (double mz = 590.0; mz < 612.0; mz += gap(random)) {
            masses.push_back(static_cast<float>(mz));
            intensities.push_back(static_cast<float>(std::exp(logHeight(random))));
        }
        const std::size_t selected = masses.size() / 2;
        const int found = Find(masses[selected], masses, intensities).charge;
        EXPECT_LE(found, 2) << "trial " << trial;
        decided += found > 0 ? 1 : 0;
    }
    EXPECT_LT(decided, 30);
}

TEST(ChargeStateInput, BadArraysNeitherCrashNorInventACharge) {
    std::vector<float> masses = {500.0f, 499.0f, std::numeric_limits<float>::quiet_NaN(), 500.5f, 501.0f};
    std::vector<float> intensities = {1e5f, -3.0f, 2e5f, std::numeric_limits<float>::infinity(), 0.0f};
    Result result = Find(500.0, masses, intensities);
    EXPECT_GE(result.charge, -1);
    EXPECT_LE(result.charge, 8);
    std::vector<float> zeros(100, 0.0f);
    std::vector<float> grid(100);
    for (int i = 0; i < 100; ++i) {
        grid[i] = 495.0f + 0.1f * i;
    }
    result = Find(500.0, grid, zeros);
    EXPECT_EQ(result.charge, -1);
    EXPECT_EQ(result.height, 0.0f);
}

TEST(ChargeStateInput, SparseCentroidEnvelopeWithRegularSpacingIsNotTakenForProfile) {
    // A lone singly charged envelope is as regular as a profile grid; it must still be read as centroids.
    SyntheticSpectrum spectrum;
    const double setMass = spectrum.AddEnvelope(MonoMz(2800.0, 1), 1, 1e6);
    for (int i = 1; i <= 8; ++i) {
        spectrum.AddPeak(setMass - 12.0 + test_spectra::kCarbon13Step * i, 500.0);
    }
    std::vector<float> masses, intensities;
    spectrum.Centroid(masses, intensities);
    EXPECT_EQ(Find(setMass, masses, intensities).charge, 1);
}

} // namespace

namespace {

struct ThresholdedScan {
    int charge = 2;             // of the envelope whose one isotope beside the selected peak is kept
    double partnerRatio = 0.65; // its height relative to the selected peak's
    double partnerOffPpm = 2.0; // its distance from the isotope step
    double crowdMin = 3e4;      // the other peaks' heights
    double crowdMax = 2.7e5;
};

// A thresholded centroid survey scan: the selected peak (m/z 570.77, height 1.8e5) keeps only one isotope
// beside it, among 60 peaks that lie on no isotope step of the selected peak.
Result SinglePartnerAmongThresholdedPeaks(std::mt19937& random, const ThresholdedScan& scan) {
    const double selectedMz = 570.7711;
    const double partnerMz = (selectedMz + 1.00286 / scan.charge) * (1.0 + scan.partnerOffPpm * 1e-6);
    std::vector<std::pair<float, float>> points{
        {static_cast<float>(selectedMz), 1.8e5f},
        {static_cast<float>(partnerMz), static_cast<float>(1.8e5 * scan.partnerRatio)}};
    std::uniform_real_distribution<double> position(selectedMz - 6.9, selectedMz + 10.9);
    std::uniform_real_distribution<double> height(scan.crowdMin, scan.crowdMax);
    while (points.size() < 62) {
        const double mz = position(random);
        bool onAStep = false;
        for (int charge = 1; charge <= 8 && !onAStep; ++charge) {
            const double steps = (mz - selectedMz) * charge / 1.00286;
            onAStep = std::fabs(steps - std::round(steps)) * 1.00286 / charge < 0.03;
        }
        if (!onAStep) {
            points.emplace_back(static_cast<float>(mz), static_cast<float>(height(random)));
        }
    }
    std::sort(points.begin(), points.end());
    std::vector<float> masses, intensities;
    for (const auto& [mz, intensity] : points) {
        masses.push_back(mz);
        intensities.push_back(intensity);
    }
    return Find(selectedMz, masses, intensities);
}

} // namespace

// Vendor-thresholded scans often keep one isotope beside the selected peak. Among a crowd of peaks as tall,
// one partner alone could be chance; one that lies on the step as precisely as the spectrum shows and is
// about as tall as averagine predicts (thresholding and ion statistics make it often shorter; near the
// scan's detection level, where a peak holds few ions, down to a third of it) tells the charge when nothing
// else does.
TEST(ChargeStateThresholded, SinglePartnerThatFitsAveragineGivesTheCharge) {
    std::mt19937 random(12);
    for (double ratio : {0.65, 0.3, 0.2}) {
        int agree = 0;
        const int trials = 20;
        for (int trial = 0; trial < trials; ++trial) {
            ThresholdedScan scan;
            scan.partnerRatio = ratio;
            const Result result = SinglePartnerAmongThresholdedPeaks(random, scan);
            EXPECT_TRUE(result.charge == 2 || result.charge == -1) << "ratio " << ratio << " trial " << trial;
            agree += result.charge == 2 ? 1 : 0;
        }
        EXPECT_GE(agree, trials * 3 / 4) << "ratio " << ratio;
    }
}

// ... but a partner far shorter or taller than averagine's isotope (a third of it, well above the detection
// level), or off the step by more than the spectrum's precision, is no better than chance; nor is one
// partner of a heavy envelope, whose pattern predicts more isotopes as tall: undetermined.
TEST(ChargeStateThresholded, SinglePartnerThatDoesNotFitIsNotEnough) {
    std::mt19937 random(12);
    for (int trial = 0; trial < 10; ++trial) {
        ThresholdedScan tooShort;
        tooShort.partnerRatio = 0.15;
        EXPECT_EQ(SinglePartnerAmongThresholdedPeaks(random, tooShort).charge, -1) << "trial " << trial;
        ThresholdedScan shortAboveTheFloor;
        shortAboveTheFloor.partnerRatio = 0.22;
        shortAboveTheFloor.crowdMin = 1e3;
        shortAboveTheFloor.crowdMax = 1.5e5;
        EXPECT_EQ(SinglePartnerAmongThresholdedPeaks(random, shortAboveTheFloor).charge, -1)
            << "trial " << trial;
        ThresholdedScan tooTall;
        tooTall.partnerRatio = 2.0;
        EXPECT_EQ(SinglePartnerAmongThresholdedPeaks(random, tooTall).charge, -1) << "trial " << trial;
        ThresholdedScan offStep;
        offStep.partnerOffPpm = 12.0;
        EXPECT_EQ(SinglePartnerAmongThresholdedPeaks(random, offStep).charge, -1) << "trial " << trial;
        // Charge 7 at m/z 570 weighs 4 kDa: averagine's isotopes 0 to 4 are 44/89/100/77/48 %. The selected
        // peak as the tallest and the next one as tall as predicted, among peaks so tall that the missing
        // isotopes could have sunk below the threshold.
        ThresholdedScan heavy;
        heavy.charge = 7;
        heavy.partnerRatio = 0.77;
        heavy.crowdMin = 2e5;
        heavy.crowdMax = 4e5;
        EXPECT_EQ(SinglePartnerAmongThresholdedPeaks(random, heavy).charge, -1) << "trial " << trial;
    }
}
