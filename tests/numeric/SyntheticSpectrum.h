// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

// Survey spectra built in the test: peptide isotope envelopes from published averagine abundances
// (not from the routine's own model), 13C spacing, rendered as centroids or as Gaussian profile peaks
// sampled on a regular grid.
namespace test_spectra {

constexpr double kProton = 1.007276;
constexpr double kCarbon13Step = 1.0033548;

// Relative isotope abundances (M+0, M+1, ...) of averagine peptides, from the literature.
inline std::vector<double> PublishedPattern(double neutralMass) {
    if (neutralMass < 750.0) {
        return {100.0, 26.7, 4.9};
    }
    if (neutralMass < 1250.0) {
        return {100.0, 53.6, 16.7, 3.9};
    }
    if (neutralMass < 1750.0) {
        return {100.0, 81.6, 41.5, 15.7, 4.8};
    }
    if (neutralMass < 2500.0) {
        return {92.3, 100.0, 62.9, 29.0, 10.6};
    }
    return {61.7, 100.0, 88.4, 55.7, 27.9, 11.6};
}

struct Peak {
    double mz;
    double height;
};

class SyntheticSpectrum {
public:
    // Adds an envelope; returns the m/z of isotope `isotopeOfInterest`.
    double AddEnvelope(double monoMz, int charge, double tallestHeight, int isotopeOfInterest = 0) {
        const double mass = charge * (monoMz - kProton);
        const std::vector<double> pattern = PublishedPattern(mass);
        const double top = *std::max_element(pattern.begin(), pattern.end());
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            peaks_.push_back({monoMz + i * kCarbon13Step / charge, tallestHeight * pattern[i] / top});
        }
        return monoMz + isotopeOfInterest * kCarbon13Step / charge;
    }

    void AddPeak(double mz, double height) { peaks_.push_back({mz, height}); }

    // Noise peaks with heights between `low` and `high`, spread over [fromMz, toMz].
    void AddNoise(std::mt19937& random, int count, double fromMz, double toMz, double low, double high) {
        std::uniform_real_distribution<double> position(fromMz, toMz);
        std::uniform_real_distribution<double> logHeight(std::log(low), std::log(high));
        for (int i = 0; i < count; ++i) {
            peaks_.push_back({position(random), std::exp(logHeight(random))});
        }
    }

    // Centroids; signals closer than `resolvingPpm` are unresolved and become one centroid at their
    // intensity-weighted mean m/z, with their summed height, as an instrument's centroider reports them.
    void Centroid(std::vector<float>& masses, std::vector<float>& intensities,
                  double resolvingPpm = 0.0) const {
        std::vector<Peak> sorted = peaks_;
        std::sort(sorted.begin(), sorted.end(), [](const Peak& a, const Peak& b) { return a.mz < b.mz; });
        masses.clear();
        intensities.clear();
        for (std::size_t i = 0; i < sorted.size();) {
            double weighted = 0.0;
            double height = 0.0;
            std::size_t j = i;
            do {
                weighted += sorted[j].mz * sorted[j].height;
                height += sorted[j].height;
                ++j;
            } while (j < sorted.size() &&
                     sorted[j].mz - sorted[j - 1].mz < resolvingPpm * 1e-6 * sorted[j].mz);
            masses.push_back(static_cast<float>(weighted / height));
            intensities.push_back(static_cast<float>(height));
            i = j;
        }
    }

    // Gaussian peaks of full width `fwhmAt1000` at m/z 1000 (growing with m/z as on a TOF), sampled every
    // `gridStep`; points far from any peak are left out, as converters drop runs of zeros, but each peak
    // keeps its zero-valued flanks.
    void Profile(double gridStep, double fwhmAt1000, std::vector<float>& masses,
                 std::vector<float>& intensities) const {
        masses.clear();
        intensities.clear();
        if (peaks_.empty()) {
            return;
        }
        double low = peaks_.front().mz;
        double high = low;
        for (const Peak& peak : peaks_) {
            low = std::min(low, peak.mz);
            high = std::max(high, peak.mz);
        }
        for (double mz = low - 1.0; mz <= high + 1.0; mz += gridStep) {
            double sum = 0.0;
            for (const Peak& peak : peaks_) {
                const double sigma = fwhmAt1000 * (peak.mz / 1000.0) / 2.3548;
                const double d = (mz - peak.mz) / sigma;
                if (std::fabs(d) < 8.0) {
                    sum += peak.height * std::exp(-0.5 * d * d);
                }
            }
            masses.push_back(static_cast<float>(mz));
            intensities.push_back(static_cast<float>(sum));
        }
        // Keep only points within two samples of signal.
        std::vector<float> keptMasses;
        std::vector<float> keptIntensities;
        const float floor = 1e-3f;
        for (std::size_t i = 0; i < masses.size(); ++i) {
            bool nearSignal = false;
            for (std::size_t j = (i >= 2 ? i - 2 : 0); j <= std::min(i + 2, masses.size() - 1); ++j) {
                nearSignal = nearSignal || intensities[j] > floor;
            }
            if (nearSignal) {
                keptMasses.push_back(masses[i]);
                keptIntensities.push_back(intensities[i] > floor ? intensities[i] : 0.0f);
            }
        }
        masses = std::move(keptMasses);
        intensities = std::move(keptIntensities);
    }

private:
    std::vector<Peak> peaks_;
};

} // namespace test_spectra
