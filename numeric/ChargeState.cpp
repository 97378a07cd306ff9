// SPDX-License-Identifier: GPL-3.0-or-later
#include "numeric/ChargeState.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <vector>

#include "numeric/Averagine.h"
#include "numeric/PeakList.h"

namespace {

using varnex::numeric::Peak;

constexpr double kElectronMass = 0.000548579909;
// Spacing of a peptide envelope's isotopes times the charge, Da: where a charge's isotope steps are
// looked for and whether the peak width can resolve them.
constexpr double kIsotopeStepDa = 1.00235;
constexpr int kMaxCharge = 8;
// The selected peak may be up to this isotope of its envelope (the tallest one of heavy peptides).
constexpr int kMaxSelectedIsotope = 5;
constexpr int kMaxIsotopes = varnex::numeric::kTabulatedIsotopes;
// Window around the set mass, m/z: room for the selected peak as isotope 5 of a singly charged
// envelope below it, and for ten isotopes above it.
constexpr double kWindowBelowMz = 7.0;
constexpr double kWindowAboveMz = 11.0;
constexpr double kMinScore = 0.6;
// Instruments select the monoisotopic peak or a tall isotope, not one from an envelope's tail.
constexpr float kMinSelectedIsotope = 0.3f;
// Isotopes are counted up to this many times the height the selected peak predicts for them.
constexpr double kExcessFactor = 2.0;
// A multiple of the best charge wins when it scores within this much of it.
constexpr double kMultipleMargin = 0.05;
// ... and leaves the charge undetermined when it scores within this much.
constexpr double kAmbiguousMargin = 0.08;
// Detection level: this fraction of the window's peaks is weaker (vendor centroid data are already
// thresholded, so a middle percentile would sit above real isotopes).
constexpr double kDetectionPercentile = 0.05;
// An isotope is only missed when predicted this far above the detection level.
constexpr double kMissingFactor = 3.0;
// An isotope seen at less than this fraction of its predicted height counts as missing.
constexpr double kMissingFraction = 0.25;
// The selected peak must reach this fraction of the height the fitted envelope predicts for it.
constexpr double kSelectedFraction = 0.33;
// Isotopes predicted at least this fraction of the tallest one must be seen ...
constexpr float kStrongIsotope = 0.5f;
// ... except past the last one seen, once two isotopes beyond the selected peak are: the tail of an
// envelope fades faster than averagine's for other compositions, and sinks below thresholded data first.
constexpr float kStrongTailIsotope = 0.75f;
// Patterns of masses 2^(j/2) times the envelope's, |j| <= this, each step costing this much score.
constexpr int kPatternScaleSteps = 4;
constexpr double kPatternScalePenalty = 0.04;
// Light ions may carry patterns heavier still, up to this many steps, as long as the pattern is no
// heavier than that of a peptide of this mass.
constexpr int kLightScaleSteps = 7;
constexpr double kLightPatternMaxMass = 5000.0;
// Selected-peak search: a peak within this relative distance of the set mass is the precursor's; failing
// that, the nearest one at least this fraction of the tallest within the tolerance.
constexpr double kSamePeakRelative = 20e-6;
constexpr double kStandOutFraction = 0.3;
// A speck near the set mass gives way to a standing-out peak at most this many isotope steps away ...
constexpr double kSpeckEnvelopeSteps = 3.0;
// ... when the set mass lies off the speck by more than this relative distance and this many of its widths
// (the instrument did not aim at it) ...
constexpr double kAimedRelative = 5e-6;
constexpr double kAimedWidths = 0.25;
// ... and, on a profile scan, the speck is narrower than this fraction of the window's typical peak width.
constexpr double kNoiseWidthFraction = 0.95;
// Isotopes seen besides the selected peak make an envelope only when chance neighbours would put peaks
// that tall in all their windows with at most this probability.
constexpr double kMaxChance = 0.0125;
// Thresholded centroid scans often keep one isotope beside the selected peak and nothing else. Such a
// single partner shows an envelope, when no charge fits otherwise, if chance neighbours would put it there
// with at most this probability and its height fits averagine's at the envelope's mass: at most this
// factor above it, or down to this fraction of it (thresholding and ion statistics shorten isotopes more
// often than they lengthen them) ...
constexpr double kSinglePartnerChance = 0.05;
constexpr double kSinglePartnerRatio = 1.5;
constexpr double kSinglePartnerShortfall = 0.4;
// ... or down to this fraction when the partner is at most this many times the detection level: so few
// ions make a peak near the floor of a thresholded scan that its height scatters far more.
constexpr double kFloorPartnerShortfall = 0.25;
constexpr double kFloorPartnerLevels = 2.0;
// ... if it lies off its step by at most this many times the closest isotope-step match the selected peak
// has with any charge (the m/z precision the spectrum itself shows there), plus this relative slack ...
constexpr double kSinglePartnerPrecisions = 1.5;
constexpr double kSinglePartnerSlack = 1e-6;
// ... and if averagine predicts no other isotope at this fraction of the tallest or more: heavier envelopes
// would show more than one partner.
constexpr float kSinglePartnerOthers = 0.75f;
// Profile apexes are pulled about by merging neighbours, so coincidences within a width are likelier
// than the peak density alone says: they must be less likely still.
constexpr double kMaxChanceProfile = 0.004;
// A window that chance neighbours fill more often than this is no evidence at all (crowded raw data).
constexpr double kMaxChanceOfOne = 0.2;
// A displaced peak was looked for over a wider window than its distance: charged for twice that.
constexpr double kDisplacedWindow = 2.0;
// A peak with a touching neighbour may have been pushed this far (in steps of the charge) off an isotope
// step; an isotope missing at its step with such a peak beside it is neither seen nor missed.
constexpr double kMaxDisplacementSteps = 0.45;
// Centroids closer than the instrument resolves are one merged centroid, off the steps of both signals.
// The closest pair of centroids in the window bounds that distance from above; it is taken as at least
// the matching tolerance and at most this many times it.
constexpr double kMaxMergeTolerances = 4.0;
// A merged centroid sums the heights of its signals: at least about the height of the isotope it hides.
constexpr double kMergedFraction = 0.8;
// Isotope steps narrower than this many peak widths merge into one profile peak.
constexpr double kResolvableWidths = 1.2;
// A profile isotope's apex lies within this many peak widths of its step (a neighbour merging into it may
// push it farther, which the pushed-peak allowance covers): a neighbour's apex half a width off is not it ...
constexpr double kProfileMatchWidths = 0.35;
// ... but chance neighbours are judged over this many widths either side of the step, as merging pulls
// apexes about.
constexpr double kProfileChanceWidths = 0.5;
// A window of at least this many centroids whose closest pair would lie this unlikely far apart by chance
// shows the resolution of the instrument.
constexpr int kMinCentroidsForResolution = 20;
constexpr double kMaxGapChance = 1e-3;
// Centroid positions scatter; an isotope step this fraction of the resolution may still be resolved.
constexpr double kResolutionSlack = 0.9;
// Peaks at least this fraction of the selected one's height show the instrument's peak width.
constexpr double kWidthPeakFraction = 0.05;

// 2^(j/2) for every pattern scale step j, as std::exp2 gives it: worked out once, not per pattern tried.
const std::array<double, kPatternScaleSteps + kLightScaleSteps + 1> kPatternScales = [] {
    std::array<double, kPatternScaleSteps + kLightScaleSteps + 1> scales{};
    for (int step = -kPatternScaleSteps; step <= kLightScaleSteps; ++step) {
        scales[static_cast<std::size_t>(step + kPatternScaleSteps)] = std::exp2(0.5 * step);
    }
    return scales;
}();

// Isotopes fitted of each tabulated averagine pattern: up to its last one at 2 % of the tallest or more
// (at least two beyond the selected one, see ScoreIsotope).
int FittedIsotopes(int tabulatedIndex) {
    static const auto counts = [] {
        std::array<std::uint8_t, varnex::numeric::kTabulatedMasses> table{};
        for (int index = 0; index < varnex::numeric::kTabulatedMasses; ++index) {
            const float* expected = varnex::numeric::TabulatedAveragineAt(index);
            int count = kMaxIsotopes;
            while (count > 0 && expected[count - 1] < 0.02f) {
                --count;
            }
            table[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(count);
        }
        return table;
    }();
    return counts[static_cast<std::size_t>(tabulatedIndex)];
}

// How the peaks of one kind of data are matched to an envelope.
struct Matching {
    double maxChance;           // see kMaxChance
    double unseenShortfall;     // an isotope neither seen nor missed: its displaced peak at least this times
    double unseenExcess;        // ... and at most this many times its predicted height
    double singlePartnerChance; // see kSinglePartnerChance; 0 when not allowed
    double singlePartnerOffMz;  // ... and when its peak lies at most this far off its step
};

struct Workspace {
    std::vector<Peak> peaks;
    std::vector<double> scratch;
    std::vector<double> heightsDescending;
};

// How crowded the window is with peaks of a given height: what chance neighbours look like.
class PeakDensity final {
public:
    PeakDensity(const std::vector<double>& heightsDescending, double windowMz)
        : m_heights(heightsDescending), m_windowMz(windowMz) {}

    // Probability that a window `widthMz` wide holds a peak at least `height` tall by chance.
    double Chance(double height, double widthMz) const {
        const auto taller = std::upper_bound(m_heights.begin(), m_heights.end(), height, std::greater<>()) -
                            m_heights.begin();
        return 1.0 - std::exp(-widthMz * static_cast<double>(taller) / m_windowMz);
    }

private:
    const std::vector<double>& m_heights;
    double m_windowMz;
};

// Reused by every call on one thread, so that the routine allocates only while its buffers grow.
Workspace& ThreadWorkspace() {
    thread_local Workspace workspace;
    return workspace;
}

// Peaks [first, last) within `tolerance` of the set mass.
std::pair<std::vector<Peak>::const_iterator, std::vector<Peak>::const_iterator>
PeaksNear(const std::vector<Peak>& peaks, double setMass, double tolerance) {
    const auto first = std::lower_bound(peaks.begin(), peaks.end(), setMass - tolerance,
                                        [](const Peak& peak, double value) { return peak.mz < value; });
    const auto last = std::upper_bound(first, peaks.end(), setMass + tolerance,
                                       [](double value, const Peak& peak) { return value < peak.mz; });
    return {first, last};
}

// The tallest peak within `tolerance` of the set mass; -1 when none.
int TallestPeak(const std::vector<Peak>& peaks, double setMass, double tolerance) {
    const auto [first, last] = PeaksNear(peaks, setMass, tolerance);
    if (first == last) {
        return -1;
    }
    const auto tallest =
        std::max_element(first, last, [](const Peak& a, const Peak& b) { return a.height < b.height; });
    return static_cast<int>(tallest - peaks.begin());
}

// The nearest peak within `tolerance` of the set mass at least `minFraction` of the tallest there; -1 when
// none.
int NearestPeak(const std::vector<Peak>& peaks, double setMass, double tolerance, double minFraction) {
    const auto [first, last] = PeaksNear(peaks, setMass, tolerance);
    if (first == last) {
        return -1;
    }
    const double minHeight = minFraction * peaks[TallestPeak(peaks, setMass, tolerance)].height;
    auto nearest = last;
    for (auto it = first; it != last; ++it) {
        if (it->height >= minHeight &&
            (nearest == last || std::fabs(it->mz - setMass) < std::fabs(nearest->mz - setMass))) {
            nearest = it;
        }
    }
    return static_cast<int>(nearest - peaks.begin());
}

// The peak taken as the precursor's: the nearest one within the caller's tolerance when it lies practically
// at the set mass. Otherwise the set mass is no peak's (the survey scan shows the ion off its apex, or an
// instrument aimed the isolation window at an envelope's middle): the nearest of the peaks that stand out
// among those within the tolerance, not a speck that happens to lie closer.
int SelectPeak(const std::vector<Peak>& peaks, double setMass, double tolerance) {
    const int nearest = NearestPeak(peaks, setMass, tolerance, 0.0);
    if (nearest >= 0 && std::fabs(peaks[nearest].mz - setMass) >
                            std::max(kSamePeakRelative * setMass, 0.5 * peaks[nearest].fwhm)) {
        return NearestPeak(peaks, setMass, tolerance, kStandOutFraction);
    }
    return nearest;
}

// Median width (m/z) of the window's profile peaks at least a small fraction of `reference`'s height: the
// peak width the instrument gives there. 0 when no peak has a width (centroid data).
double TypicalWidth(const std::vector<Peak>& peaks, const Peak& reference, std::vector<double>& scratch) {
    scratch.clear();
    for (const Peak& peak : peaks) {
        if (peak.height >= kWidthPeakFraction * reference.height && peak.fwhm > 0.0) {
            scratch.push_back(peak.fwhm);
        }
    }
    if (scratch.empty()) {
        return 0.0;
    }
    const auto middle = scratch.begin() + static_cast<std::ptrdiff_t>(scratch.size() / 2);
    std::nth_element(scratch.begin(), middle, scratch.end());
    return *middle;
}

// Peak width (m/z) the instrument gives around the selected peak: the typical width, or the selected
// peak's own width when that is wider. A lone narrow apex (noise, or a sampling artefact) does not make
// unresolved isotopes resolved.
double ResolvedWidth(const std::vector<Peak>& peaks, const Peak& selected, std::vector<double>& scratch) {
    return std::max(TypicalWidth(peaks, selected, scratch), selected.fwhm);
}

// Closest distance (m/z) the instrument separates centroids at, when the window shows one: with many
// centroids and none closer than a gap that chance placement would undercut almost surely, that gap is
// the resolution, and isotope steps below it would have merged. 0 when the spacing does not tell.
double CentroidResolution(const std::vector<Peak>& peaks, double windowMz) {
    if (static_cast<int>(peaks.size()) < kMinCentroidsForResolution) {
        return 0.0;
    }
    double closest = HUGE_VAL;
    for (std::size_t i = 1; i < peaks.size(); ++i) {
        closest = std::min(closest, peaks[i].mz - peaks[i - 1].mz);
    }
    const double count = static_cast<double>(peaks.size());
    // Probability that no two of `count` uniformly placed centroids lie closer than `closest`.
    const double chance = std::exp(-count * count * closest / windowMz);
    return chance < kMaxGapChance ? closest : 0.0;
}

// The detection level from the window's heights sorted in descending order: the one at the percentile
// counted from the weakest.
double DetectionLevel(const std::vector<double>& heightsDescending) {
    const auto fromWeakest = static_cast<std::size_t>(kDetectionPercentile * heightsDescending.size());
    return heightsDescending[heightsDescending.size() - 1 - fromWeakest];
}

// What the spectrum shows around the selected peak for one charge: heights at whole isotope steps
// (offset by the selected peak's own index) and at the steps a multiple of the charge would add.
struct ChargeView {
    static constexpr int kBelow = kMaxSelectedIsotope + 1; // whole steps observed below the selected peak
    static constexpr int kSteps = kBelow + kMaxIsotopes;
    double atStep[kSteps];    // index r + kBelow: r isotope steps from the selected peak
    double reachMz[kSteps];   // half-width of the window each height was taken from
    double displaced[kSteps]; // tallest peak that may have been pushed off the step by a neighbour
    double offStepMz[kSteps]; // distance of the height's peak from its step
};

// Whether the fitted envelope has a hole: an isotope predicted well above the detection level missing from
// its step while one farther from the envelope's tallest isotope, and so weaker, is seen. Thresholding
// removes an envelope's weakest isotopes first; such a pattern is chance neighbours on the steps.
bool HasHole(const double* observed, const bool* unseen, const float* expected, int count, double scale,
             double detectionLevel) {
    const int tallest = static_cast<int>(std::max_element(expected, expected + count) - expected);
    const auto seen = [&](int i) {
        return !unseen[i] && observed[i] >= kMissingFraction * scale * expected[i];
    };
    for (int i = 0; i < count; ++i) {
        const double predicted = scale * expected[i];
        if (unseen[i] || observed[i] >= kMissingFraction * predicted ||
            predicted - observed[i] <= kMissingFactor * detectionLevel) {
            continue;
        }
        for (int j = i <= tallest ? 0 : i + 1; j < (i <= tallest ? i : count); ++j) {
            if (seen(j)) {
                return true;
            }
        }
    }
    return false;
}

// For every charge and ChargeView slot, the m/z from the selected peak to the slot's isotope step and the
// allowance for composition there, as ObserveCharge uses them: worked out once, not per spectrum.
struct StepTable {
    double offsetMz[kMaxCharge + 1][ChargeView::kSteps];
    double spreadMz[kMaxCharge + 1][ChargeView::kSteps];
};

const StepTable& Steps() {
    static const StepTable table = [] {
        StepTable steps{};
        for (int charge = 1; charge <= kMaxCharge; ++charge) {
            for (int r = -ChargeView::kBelow; r < kMaxIsotopes; ++r) {
                const int slot = r + ChargeView::kBelow;
                steps.offsetMz[charge][slot] = varnex::numeric::IsotopeOffset(r) / charge;
                steps.spreadMz[charge][slot] = 0.001 * std::abs(r) / charge;
            }
        }
        return steps;
    }();
    return table;
}

// Score of `charge` with the selected peak as isotope `isotope`: cosine of the observed heights against
// an isotope pattern with a zero one step left of the monoisotopic peak (peaks at fractional steps are left
// to ChooseCharge, which weighs the multiples of a charge). The pattern is averagine's at the
// envelope's mass, or, at a small cost, at up to four times or a quarter of it: analytes other than
// peptides (nucleic acids, metabolites, labelled or modified peptides) differ from averagine, and the
// spacing, not the exact pattern, tells the charge. Light ions may go up to about eleven times their
// mass, at the same cost per step (a few atoms of S, Cl, Br, Si or a metal, or a label, weigh heavily in
// a small ion's pattern), though never beyond a 5 kDa peptide's pattern, which stays compact. An isotope
// absent from its step but plausibly among the peaks a neighbour pushed off it is left out of the fit. -1
// when no pattern is plausible (the selected peak too weak an isotope, no other isotope seen, or a strong one
// missing). `holeFreeScore` receives the best score of the patterns without a hole.
double ScoreIsotope(const ChargeView& view, int charge, int isotope, double selectedMz, double protonMass,
                    double detectionLevel, const PeakDensity& density, const Matching& matching,
                    double& singlePartnerScore, double& holeFreeScore) {
    const double monoMz = selectedMz - varnex::numeric::IsotopeOffset(isotope) / charge;
    const double neutralMass = charge * (monoMz - protonMass);
    if (neutralMass < 50.0) {
        return -1.0;
    }
    const double* observed = view.atStep + ChargeView::kBelow - isotope; // observed[i]: isotope i
    const double* reach = view.reachMz + ChargeView::kBelow - isotope;
    const double* displaced = view.displaced + ChargeView::kBelow - isotope;
    const double* offStep = view.offStepMz + ChargeView::kBelow - isotope;
    double best = -1.0;
    for (int scaleStep = -kPatternScaleSteps; scaleStep <= kLightScaleSteps; ++scaleStep) {
        const double patternMass =
            neutralMass * kPatternScales[static_cast<std::size_t>(scaleStep + kPatternScaleSteps)];
        if (scaleStep > kPatternScaleSteps && patternMass > kLightPatternMaxMass) {
            break;
        }
        const int tabulatedIndex = varnex::numeric::TabulatedAveragineIndex(patternMass);
        const float* expected = varnex::numeric::TabulatedAveragineAt(tabulatedIndex);
        if (expected[isotope] < (isotope == 0 ? 0.05f : kMinSelectedIsotope)) {
            continue;
        }
        const int count = std::max(isotope + 2, FittedIsotopes(tabulatedIndex));
        // Heights beyond what the envelope, scaled to the selected peak, predicts are another ion's
        // overlapping it: counted only up to a limit, so that a tall neighbour cannot hide the envelope.
        const double anchor = observed[isotope] / expected[isotope];
        bool unseen[kMaxIsotopes];
        for (int i = 0; i < count; ++i) {
            const double predicted = anchor * expected[i];
            unseen[i] = observed[i] < kMissingFraction * predicted &&
                        displaced[i] >= matching.unseenShortfall * predicted &&
                        displaced[i] <= matching.unseenExcess * predicted;
        }
        const double leading = std::min(observed[-1], anchor * expected[0]); // the pattern's leading zero
        double dot = 0.0;
        double expectedNorm = 0.0;
        double observedNorm = leading * leading;
        for (int i = 0; i < count; ++i) {
            if (unseen[i]) {
                continue;
            }
            const double height =
                i == isotope ? observed[i] : std::min(observed[i], kExcessFactor * anchor * expected[i]);
            dot += height * expected[i];
            expectedNorm += static_cast<double>(expected[i]) * expected[i];
            observedNorm += height * height;
        }
        if (dot <= 0.0) {
            continue;
        }
        const double scale = dot / expectedNorm;
        double chance = 1.0; // that chance neighbours fill every window where an isotope was seen
        int evidenceCount = 0;
        int evidenceIsotope = -1;
        bool strongIsotopeMissing = false;
        int seenBeyond = 0;
        int lastSeen = isotope;
        for (int i = isotope + 1; i < count; ++i) {
            if (!unseen[i] && observed[i] >= kMissingFraction * scale * expected[i]) {
                ++seenBeyond;
                lastSeen = i;
            }
        }
        for (int i = 0; i < count && !strongIsotopeMissing; ++i) {
            if (unseen[i]) {
                continue;
            }
            const double predicted = scale * expected[i];
            if (i == isotope) {
                // A selected peak far below its share of the envelope belongs to something else.
                strongIsotopeMissing = observed[i] < kSelectedFraction * predicted;
                continue;
            }
            // Only isotopes about as tall as predicted are evidence; far taller ones are another ion's.
            if (observed[i] >= kMissingFraction * predicted && expected[i] >= 0.05f &&
                observed[i] <= kExcessFactor * anchor * expected[i]) {
                const double chanceHere = density.Chance(kMissingFraction * predicted, 2.0 * reach[i]);
                chance *= chanceHere <= kMaxChanceOfOne ? chanceHere : 1.0;
                ++evidenceCount;
                evidenceIsotope = i;
            }
            const float strong = i > lastSeen && seenBeyond >= 2 ? kStrongTailIsotope : kStrongIsotope;
            if (observed[i] < kMissingFraction * predicted && expected[i] >= strong &&
                predicted - observed[i] > kMissingFactor * detectionLevel) {
                strongIsotopeMissing = true;
            }
        }
        if (strongIsotopeMissing) {
            continue;
        }
        const bool onePartnerOnly = chance > matching.maxChance;
        if (onePartnerOnly) {
            const bool singlePartner = matching.singlePartnerChance > 0.0 && evidenceCount == 1 &&
                                       scaleStep == 0 && std::abs(evidenceIsotope - isotope) == 1;
            if (!singlePartner || chance > matching.singlePartnerChance ||
                offStep[evidenceIsotope] > matching.singlePartnerOffMz) {
                continue;
            }
            bool compact = true;
            for (int i = 0; i < count; ++i) {
                compact =
                    compact && (i == isotope || i == evidenceIsotope || expected[i] < kSinglePartnerOthers);
            }
            if (!compact) {
                continue;
            }
            const double ratio = (observed[evidenceIsotope] / observed[isotope]) /
                                 (static_cast<double>(expected[evidenceIsotope]) / expected[isotope]);
            const double shortfall = observed[evidenceIsotope] <= kFloorPartnerLevels * detectionLevel
                                         ? kFloorPartnerShortfall
                                         : kSinglePartnerShortfall;
            if (ratio < shortfall || ratio > kSinglePartnerRatio) {
                continue;
            }
        }
        const double cosine = dot / std::sqrt(expectedNorm * observedNorm);
        const double score = cosine * (1.0 - kPatternScalePenalty * std::abs(scaleStep));
        if (onePartnerOnly) {
            singlePartnerScore = std::max(singlePartnerScore, score);
        } else {
            best = std::max(best, score);
            if (score > holeFreeScore && !HasHole(observed, unseen, expected, count, scale, detectionLevel)) {
                holeFreeScore = score;
            }
        }
    }
    return best;
}

// Matching tolerance, m/z, of centroid data. The spectrum carries no resolution, so it is judged from
// the selected peak's neighbours: the closest match to an isotope step of any charge, among peaks
// tall enough to be isotopes, shows how precise the m/z values are (a few ppm on Orbitrap/TOF data,
// tenths on ion traps).
double CentroidPrecision(const std::vector<Peak>& peaks, const Peak& selected) {
    double best = 0.3;
    for (int charge = 1; charge <= kMaxCharge; ++charge) {
        for (int direction = -1; direction <= 1; direction += 2) {
            const double mz = selected.mz + varnex::numeric::IsotopeOffset(direction) / charge;
            const double reach = 0.3 / charge;
            auto it = std::lower_bound(peaks.begin(), peaks.end(), mz - reach,
                                       [](const Peak& peak, double value) { return peak.mz < value; });
            for (; it != peaks.end() && it->mz <= mz + reach; ++it) {
                if (it->height >= 0.05 * selected.height) {
                    best = std::min(best, std::fabs(it->mz - mz));
                }
            }
        }
    }
    return best;
}

// Distance, m/z at `mz`, within which centroids may be signals merged into one: the closest pair of
// centroids in the window shows what the instrument still resolves there.
double MergeDistance(const std::vector<Peak>& peaks, double mz, double precision) {
    double closestRelative = HUGE_VAL;
    for (std::size_t i = 1; i < peaks.size(); ++i) {
        closestRelative = std::min(closestRelative, (peaks[i].mz - peaks[i - 1].mz) / peaks[i].mz);
    }
    return std::clamp(closestRelative * mz, precision, kMaxMergeTolerances * precision);
}

using PeakIterator = std::vector<Peak>::const_iterator;

// std::lower_bound of `mz` among the peaks, searched from `from` on: the isotope steps of one charge are
// looked up in ascending m/z, each a step beyond the last, so a few peaks on from the last answer beat a
// search of the whole window. Any `from` gives the same answer.
PeakIterator LowerBoundFrom(const std::vector<Peak>& peaks, PeakIterator from, double mz) {
    const auto below = [](const Peak& peak, double value) { return peak.mz < value; };
    if (from != peaks.begin() && !below(*std::prev(from), mz)) {
        return std::lower_bound(peaks.begin(), from, mz, below);
    }
    std::ptrdiff_t stride = 1;
    while (peaks.end() - from > stride && below(from[stride - 1], mz)) {
        from += stride;
        stride *= 2;
    }
    return std::lower_bound(from, from + std::min(stride, peaks.end() - from), mz, below);
}

// The tallest peak that may be the one expected at `mz`: within `reach` of it, or farther by as much as
// a touching neighbour on the side of `mz` may have pushed it, never beyond `limit`. Its height,
// in `windowMz` the half-width of the window it was accepted in (`reach` when none was), and in
// `displacedHeight` the tallest peak within its possible displacement up to `displacedLimit`. `searchFrom`
// is where the search of the last step began, and becomes this one's.
double HeightNear(const std::vector<Peak>& peaks, double mz, double reach, double limit,
                  double displacedLimit, double maxShift, double mergeMz, double precision, double& windowMz,
                  double& displacedHeight, double& offStepMz, PeakIterator& searchFrom) {
    const double search =
        std::max(std::min(std::max(limit, displacedLimit), reach + maxShift), std::min(mergeMz, limit));
    searchFrom = LowerBoundFrom(peaks, searchFrom, mz - search);
    auto it = searchFrom;
    double height = 0.0;
    windowMz = reach;
    displacedHeight = 0.0;
    offStepMz = 0.0;
    for (; it != peaks.end() && it->mz <= mz + search; ++it) {
        const double distance = std::fabs(it->mz - mz);
        // A peak pushed away from a touching neighbour belongs between that neighbour and its apex.
        const double possible = reach + (it->mz > mz ? it->pushedRightMz : it->pushedLeftMz);
        if (distance <= std::min(limit, possible) && it->height > height) {
            height = it->height;
            windowMz = distance <= reach ? std::max(distance, precision) : kDisplacedWindow * distance;
            offStepMz = distance;
        }
        if (distance <= std::min(displacedLimit, possible) || distance <= std::min(mergeMz, limit)) {
            displacedHeight = std::max(displacedHeight, it->height);
        }
    }
    return height;
}

void ObserveCharge(const std::vector<Peak>& peaks, const Peak& selected, int charge, double precision,
                   double chanceHalfWidthMz, double maxShift, double mergeMz, ChargeView& view) {
    const double step = kIsotopeStepDa / charge;
    // Never wider than half the distance between the first steps of this charge and the next one, so that
    // one displaced peak cannot count for both.
    const double limit = std::min(0.3 * step, 0.5 / (charge * (charge + 1.0)));
    const double tolerance = std::min(limit, precision);
    const StepTable& steps = Steps();
    auto searchFrom = peaks.begin();
    for (int r = -ChargeView::kBelow; r < kMaxIsotopes; ++r) {
        const int slot = r + ChargeView::kBelow;
        const double mz = selected.mz + steps.offsetMz[charge][slot];
        // Isotope steps vary by a few mDa with composition; allow for it farther out. The selected
        // peak's own apex may be displaced as well.
        const double reach = std::min(limit, tolerance + steps.spreadMz[charge][slot] + selected.shiftMz);
        if (r == 0) {
            view.atStep[slot] = selected.height;
            view.reachMz[slot] = reach;
            view.displaced[slot] = 0.0;
            view.offStepMz[slot] = 0.0;
        } else {
            view.atStep[slot] =
                HeightNear(peaks, mz, reach, limit, kMaxDisplacementSteps * step, maxShift, mergeMz,
                           std::max(tolerance, chanceHalfWidthMz), view.reachMz[slot], view.displaced[slot],
                           view.offStepMz[slot], searchFrom);
        }
    }
}

// The best-scoring charge, or a multiple of it that also fits: an envelope of charge m * z shows peaks at
// every z step too, so z fitting says little once the steps in between are filled as m * z predicts. A
// multiple is judged by its fits without a hole (`holeFreeScores`, never above its own score): chance
// neighbours on the steps in between rarely fill them all.
int ChooseCharge(const double* scores, const double* holeFreeScores) {
    int best = -1;
    for (int charge = 1; charge <= kMaxCharge; ++charge) {
        if (scores[charge] >= kMinScore && (best < 0 || scores[charge] > scores[best] + 1e-9)) {
            best = charge;
        }
    }
    if (best < 0) {
        return -1;
    }
    for (int multiple = kMaxCharge / best; multiple >= 2; --multiple) {
        const double finer = std::min(scores[multiple * best], holeFreeScores[multiple * best]);
        if (finer >= std::max(kMinScore, scores[best] - kMultipleMargin)) {
            return multiple * best;
        }
        // Nearly as good a fit at a multiple: the spectrum does not tell the two apart.
        if (finer >= std::max(kMinScore, scores[best] - kAmbiguousMargin)) {
            return -1;
        }
    }
    return best;
}

// What the charge of every peak of one window is read against.
struct Window {
    const std::vector<Peak>& peaks;
    bool profile;
    double protonMass;
    double detectionLevel;
    const PeakDensity& density;
    double spanMz; // m/z from the window's first point to its last
};

// The charge of the envelope holding `selected`, one of the window's peaks; -1 when the window does not
// tell.
int ChargeOfPeak(const Window& window, const Peak& selected, std::vector<double>& scratch) {
    const std::vector<Peak>& peaks = window.peaks;
    const bool profile = window.profile;
    const double protonMass = window.protonMass;
    const double detectionLevel = window.detectionLevel;
    const PeakDensity& density = window.density;
    double scores[kMaxCharge + 1];
    std::fill(scores, scores + kMaxCharge + 1, -1.0);
    // Profile peaks carry their width; centroids only carry their scatter around isotope steps.
    const double bestMatch = profile ? 0.0 : CentroidPrecision(peaks, selected);
    const double precision = profile ? std::max(kProfileMatchWidths * selected.fwhm, 3e-6 * selected.mz)
                                     : std::max(3.0 * bestMatch + 3e-6 * selected.mz, 6e-6 * selected.mz);
    const double chanceHalfWidthMz = profile ? kProfileChanceWidths * selected.fwhm : 0.0;
    double maxShift = 0.0;
    for (const Peak& peak : peaks) {
        maxShift = std::max(maxShift, peak.shiftMz);
    }
    // Profile peaks pushed aside keep about their height. Centroids merged with another ion's sum their
    // heights; an isotope that only such a centroid may hold is no evidence either way, so it never counts
    // for a charge (a fit leaving it out decides only when nothing else fits), but a multiple of the answer
    // that fits better with it leaves the answer undetermined: the answer may be a divisor read from the
    // envelope's remaining steps.
    const Matching matching =
        profile ? Matching{kMaxChanceProfile, kMissingFraction, kExcessFactor, 0.0, 0.0}
                : Matching{kMaxChance, HUGE_VAL, 0.0, kSinglePartnerChance,
                           kSinglePartnerPrecisions * bestMatch + kSinglePartnerSlack * selected.mz};
    const Matching mergedMatching{kMaxChance, kMergedFraction, HUGE_VAL, 0.0, 0.0};
    const double mergeMz = profile ? 0.0 : MergeDistance(peaks, selected.mz, precision);
    double mergedScores[kMaxCharge + 1];
    std::fill(mergedScores, mergedScores + kMaxCharge + 1, -1.0);
    // Isotopes closer than the peak width would have merged into one profile peak, or into one centroid.
    const double smallestStep = profile ? kResolvableWidths * ResolvedWidth(peaks, selected, scratch)
                                        : kResolutionSlack * CentroidResolution(peaks, window.spanMz);
    double singlePartnerScores[kMaxCharge + 1];
    std::fill(singlePartnerScores, singlePartnerScores + kMaxCharge + 1, -1.0);
    // Fits without a hole; an isotope that a merged centroid may hold leaves none.
    double holeFreeScores[kMaxCharge + 1];
    std::fill(holeFreeScores, holeFreeScores + kMaxCharge + 1, -1.0);
    double ignoredScore = -1.0;
    // Charges with a peak far taller than the selected one a step beside it: another ion's, which may hide
    // the isotope there.
    bool besideMerged[kMaxCharge + 1] = {};
    ChargeView view;
    for (int charge = 1; charge <= kMaxCharge; ++charge) {
        if (kIsotopeStepDa / charge < smallestStep) {
            break;
        }
        ObserveCharge(peaks, selected, charge, precision, chanceHalfWidthMz, maxShift, mergeMz, view);
        // Envelopes are unimodal: without a peak one step beside the selected one, no isotope of this
        // charge is seen at all.
        constexpr int kLeft = ChargeView::kBelow - 1;
        constexpr int kRight = ChargeView::kBelow + 1;
        const bool besideSeen = view.atStep[kLeft] > 0.0 || view.atStep[kRight] > 0.0;
        if (!besideSeen && !(!profile && (view.displaced[kLeft] > 0.0 || view.displaced[kRight] > 0.0))) {
            continue;
        }
        besideMerged[charge] =
            !profile && std::max({view.displaced[kLeft], view.displaced[kRight], view.atStep[kLeft],
                                  view.atStep[kRight]}) > kExcessFactor * selected.height;
        bool mergeCandidate = false;
        for (int slot = 0; slot < ChargeView::kSteps && !profile; ++slot) {
            mergeCandidate = mergeCandidate || view.displaced[slot] > view.atStep[slot];
        }
        for (int isotope = 0; isotope <= kMaxSelectedIsotope; ++isotope) {
            if (besideSeen) {
                scores[charge] = std::max(scores[charge],
                                          ScoreIsotope(view, charge, isotope, selected.mz, protonMass,
                                                       detectionLevel, density, matching,
                                                       singlePartnerScores[charge], holeFreeScores[charge]));
            }
            if (mergeCandidate) {
                mergedScores[charge] =
                    std::max(mergedScores[charge],
                             ScoreIsotope(view, charge, isotope, selected.mz, protonMass, detectionLevel,
                                          density, mergedMatching, ignoredScore, holeFreeScores[charge]));
            }
        }
    }
    const auto fits = [](const double* charges) {
        return std::any_of(charges + 1, charges + kMaxCharge + 1,
                           [](double score) { return score >= kMinScore; });
    };
    const bool anyFit = fits(scores);
    // When no charge fits with every isotope where it is seen, an isotope merged into a foreign centroid
    // leaves the charge to the isotopes around it: the fit that neither counts nor misses it decides, its
    // evidence drawn from those other isotopes alone. An envelope shown by one partner only is weaker
    // evidence than either: it decides only when no charge fits otherwise.
    const bool mergedFit = !anyFit && fits(mergedScores);
    const double* chosenScores = anyFit ? scores : mergedFit ? mergedScores : singlePartnerScores;
    const int charge = ChooseCharge(chosenScores, anyFit ? holeFreeScores : chosenScores);
    if (charge < 0) {
        return -1;
    }
    // ... and neither decides when a multiple's isotope may hide in a taller peak beside the selected one:
    // the isotopes seen may then be another ion's.
    for (int multiple = 2 * charge; !anyFit && multiple <= kMaxCharge; multiple += charge) {
        if (besideMerged[multiple]) {
            return -1;
        }
    }
    if (mergedFit) {
        return charge;
    }
    for (int other = 1; other <= kMaxCharge; ++other) {
        if (other % charge == 0 && other != charge && mergedScores[other] >= kMinScore &&
            mergedScores[other] > scores[charge]) {
            return -1;
        }
    }
    return charge;
}

} // namespace

int FindChargeState(float setMass, int /*flags*/, const float* masses, const float* intensities,
                    int pointCount, float relativeTolerance, float hydrogenMass, float& massOut,
                    float& intensityOut) {
    massOut = 0.0f;
    intensityOut = 0.0f;
    if (pointCount <= 0 || masses == nullptr || intensities == nullptr || !(setMass > 0.0f) ||
        !std::isfinite(setMass)) {
        return -1;
    }
    const float* end = masses + pointCount;
    const int begin = static_cast<int>(std::lower_bound(masses, end, setMass - kWindowBelowMz) - masses);
    const int stop =
        static_cast<int>(std::upper_bound(masses + begin, end, setMass + kWindowAboveMz) - masses);
    if (begin >= stop) {
        return -1;
    }

    Workspace& work = ThreadWorkspace();
    const bool profile = varnex::numeric::LooksLikeProfile(masses, intensities, begin, stop, work.scratch);
    work.peaks.clear();
    varnex::numeric::CollectPeaks(masses, intensities, begin, stop, profile, work.peaks);
    const std::vector<Peak>& peaks = work.peaks;
    const double tolerance = std::fabs(static_cast<double>(relativeTolerance)) * setMass;
    const int selectedIndex = SelectPeak(peaks, setMass, tolerance);
    if (selectedIndex < 0) {
        return -1;
    }
    const Peak selected = peaks[selectedIndex];
    massOut = static_cast<float>(selected.mz);
    intensityOut = static_cast<float>(selected.height);

    const double protonMass = hydrogenMass - kElectronMass;
    work.heightsDescending.clear();
    for (const Peak& peak : peaks) {
        work.heightsDescending.push_back(peak.height);
    }
    std::sort(work.heightsDescending.begin(), work.heightsDescending.end(), std::greater<>());
    const double detectionLevel = DetectionLevel(work.heightsDescending);
    const PeakDensity density(work.heightsDescending, kWindowBelowMz + kWindowAboveMz);
    const Window window{peaks,          profile, protonMass,
                        detectionLevel, density, static_cast<double>(masses[stop - 1]) - masses[begin]};
    const int charge = ChargeOfPeak(window, selected, work.scratch);
    if (charge != -1) {
        return charge;
    }
    // A speck near the set mass that shows no envelope of its own, beside a peak that stands out: instruments
    // that aim the isolation window at an envelope's middle (the set mass then lies on no peak) may find
    // noise there. A speck is taken for noise when the set mass lies off its apex and, on a profile scan,
    // it is narrower than the window's peaks: no ion's signal is narrower than the instrument's peak width.
    // The standing-out peak's envelope is then the precursor's, when the set mass lies within a few of its
    // isotope steps.
    const int standOut = NearestPeak(peaks, setMass, tolerance, kStandOutFraction);
    if (standOut < 0 || standOut == selectedIndex ||
        std::fabs(selected.mz - setMass) <=
            std::max(kAimedRelative * setMass, kAimedWidths * selected.fwhm) ||
        (profile &&
         selected.fwhm >= kNoiseWidthFraction * TypicalWidth(peaks, peaks[standOut], work.scratch))) {
        return -1;
    }
    const int standOutCharge = ChargeOfPeak(window, peaks[standOut], work.scratch);
    if (standOutCharge > 0 &&
        std::fabs(peaks[standOut].mz - setMass) <= kSpeckEnvelopeSteps * kIsotopeStepDa / standOutCharge) {
        return standOutCharge;
    }
    return -1;
}
