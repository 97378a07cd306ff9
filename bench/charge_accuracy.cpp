// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy of the charge-state routine: per data source, how many precursors it scored, how many it got
// right, wrong, or left undetermined (-1), against
//  - ground truth: the bundled sample (data/sample.truth.tsv, split into isolated and overlapping
//    envelopes) and files written by gen_dda_mzml.py --truth (true_charge column);
//  - the instrument's own charge states in the real files of the shared data folder: one row per file
//    over every MS/MS precursor whose charge the file gives and that has a survey scan before it, and
//    the same for those whose peak is present in that survey scan (a survey peak within 20 ppm of the
//    selected ion; sliced real files lack many survey scans). MS3 and deeper scans are counted apart:
//    their set mass is a fragment, not a survey peak. A total row sums the files; a last line gives the
//    MS2 total once more without the precursors whose survey scan contradicts the instrument's charge.
// Every precursor is scored on the survey scan it was selected from, read as the program reads it (for
// ion-mobility data: the points inside the MS/MS scan's mobility window), with the arguments the program
// passes. Synthetic precursors whose peak the routine does not find within 20 ppm of the set mass are
// counted as absent, not scored: gen_dda_mzml.py's profile mode shifts peaks that collide with a
// neighbour by up to several peak widths.
//
// Usage: charge_accuracy [--no-real] [--as-listed] [--verbose] [--dump] [--explain] [--explain-missing]
//                        [MZML TRUTH_TSV]...
//        (--dump: the survey points around every miss;
//        --explain: for every real MS2 precursor whose peak is present and whose charge differs from the
//        instrument's, the survey peaks at both charges' isotope steps and which charge they favour, read
//        without the routine; --explain-missing: the same for those left at -1)
//        (default synthetic sources: the bundled sample, and bench/data/run60.mzML,
//        run60-profile.mzML and the dense seeds dense1..3.mzML with their truth tables when present;
//        bench/make-data.sh writes them)

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "model/ChargeStateCall.h"
#include "numeric/Averagine.h"
#include "numeric/PeakList.h"
#include "rawdata/MsRun.h"
#include "rawdata/RawData.h"

namespace {

using varnex::model::ListChargeState;
using varnex::rawdata::MsRun;
using varnex::rawdata::ScanInfo;
using varnex::rawdata::Spectrum;

// A real precursor counts as present in its survey scan when the routine's peak lies this close (ppm)
// to the set mass.
constexpr double kPresentPpm = 20.0;

struct Tally {
    std::string source;
    std::string kind;
    long scored = 0;
    long correct = 0;
    long wrong = 0;
    long undetermined = 0;
    long absent = 0;
    // Over every precursor, absent ones included: the routine may read a neighbour's envelope for them.
    long allCorrect = 0;
    long allWrong = 0;
    double seconds = 0.0;
    long calls = 0;
};

struct Case {
    std::size_t surveyIndex; // into MsRun::Scans()
    double setMass;
    int trueCharge;
    std::string group; // sub-source label, empty for the whole source
};

bool verbose = false;
// With --dump, every miss is followed by the survey points around its set mass.
bool dump = false;
// As the program does: a precursor left undetermined by its survey scan is tried on the survey scan before.
// Only with --as-listed: by default the routine alone is scored.
bool secondAttempt = false;

// Survey spectra as the program holds them: single-precision arrays.
struct FloatSpectrum {
    std::vector<float> masses;
    std::vector<float> intensities;
};

bool LoadSurvey(const MsRun& run, std::size_t index, FloatSpectrum& out) {
    const std::shared_ptr<const Spectrum> spectrum = run.Decode(index);
    if (!spectrum) {
        return false;
    }
    out.masses.assign(spectrum->mz.begin(), spectrum->mz.end());
    out.intensities.assign(spectrum->intensity.begin(), spectrum->intensity.end());
    return true;
}

// The last survey scan (MS level 1) before spectrum `index` in file order; false if none.
bool SurveyBefore(const MsRun& run, std::size_t index, std::size_t& survey) {
    for (std::size_t i = index; i-- > 0;) {
        if (run.Scans()[i].msLevel == 1) {
            survey = i;
            return true;
        }
    }
    return false;
}

void DumpAround(const FloatSpectrum& survey, double setMass) {
    const auto begin = std::lower_bound(survey.masses.begin(), survey.masses.end(), setMass - 2.2);
    for (auto it = begin; it != survey.masses.end() && *it <= setMass + 4.2; ++it) {
        const std::size_t i = static_cast<std::size_t>(it - survey.masses.begin());
        std::printf("    %10.5f %+9.5f %12.1f\n", *it, *it - setMass, survey.intensities[i]);
    }
}

// Scores `cases` (sorted by survey scan, so each survey spectrum is decoded once) into one tally per
// group. `requirePresent`: precursors whose peak is not in the survey scan are counted apart.
std::vector<Tally> Score(const MsRun& run, std::vector<Case> cases, const std::string& source,
                         bool requirePresent) {
    std::stable_sort(cases.begin(), cases.end(),
                     [](const Case& a, const Case& b) { return a.surveyIndex < b.surveyIndex; });
    std::map<std::string, Tally> tallies;
    FloatSpectrum survey;
    FloatSpectrum earlier;
    std::size_t loaded = static_cast<std::size_t>(-1);
    bool loadedOk = false;
    std::map<std::string, long> profileSurveys;
    for (const Case& c : cases) {
        if (c.surveyIndex != loaded) {
            loaded = c.surveyIndex;
            loadedOk = LoadSurvey(run, loaded, survey);
        }
        Tally& tally = tallies[c.group];
        const ScanInfo& info = run.Scans()[c.surveyIndex];
        profileSurveys[c.group] += info.centroid ? 0 : 1;
        if (!loadedOk) {
            ++tally.absent;
            continue;
        }
        float massOut = 0.0f;
        float heightOut = 0.0f;
        const auto start = std::chrono::steady_clock::now();
        int charge =
            ListChargeState(static_cast<float>(c.setMass), survey.masses.data(), survey.intensities.data(),
                            static_cast<int>(survey.masses.size()), massOut, heightOut);
        tally.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++tally.calls;
        std::size_t earlierIndex = 0;
        if (charge == -1 && secondAttempt && SurveyBefore(run, c.surveyIndex, earlierIndex) &&
            LoadSurvey(run, earlierIndex, earlier)) {
            float ignoredMass = 0.0f;
            float ignoredHeight = 0.0f;
            charge = ListChargeState(static_cast<float>(c.setMass), earlier.masses.data(),
                                     earlier.intensities.data(), static_cast<int>(earlier.masses.size()),
                                     ignoredMass, ignoredHeight);
        }
        tally.allCorrect += charge == c.trueCharge ? 1 : 0;
        tally.allWrong += charge != c.trueCharge && charge != -1 ? 1 : 0;
        if (requirePresent &&
            (heightOut <= 0.0f || std::fabs(massOut - c.setMass) > kPresentPpm * 1e-6 * c.setMass)) {
            ++tally.absent;
            continue;
        }
        ++tally.scored;
        if (charge == c.trueCharge) {
            ++tally.correct;
        } else if (charge == -1) {
            ++tally.undetermined;
        } else {
            ++tally.wrong;
        }
        if (verbose && charge != c.trueCharge) {
            std::printf("  %s%s survey %zu set %.5f true %d found %d\n", source.c_str(), c.group.c_str(),
                        c.surveyIndex, c.setMass, c.trueCharge, charge);
            if (dump) {
                DumpAround(survey, c.setMass);
            }
        }
    }
    std::vector<Tally> result;
    for (auto& [group, tally] : tallies) {
        tally.source = source + group;
        const long all = tally.scored + tally.absent;
        tally.kind =
            profileSurveys[group] == 0 ? "centroid" : (profileSurveys[group] == all ? "profile" : "mixed");
        result.push_back(tally);
    }
    return result;
}

// Reads a tab-separated table with a header line into rows of column name -> text.
std::vector<std::map<std::string, std::string>> ReadTable(const std::string& path) {
    std::vector<std::map<std::string, std::string>> rows;
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream stream(line);
        std::string field;
        while (std::getline(stream, field, '\t')) {
            fields.push_back(field);
        }
        if (header.empty()) {
            header = fields;
            continue;
        }
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < header.size() && i < fields.size(); ++i) {
            row[header[i]] = fields[i];
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// A data set the benchmark cannot open is named on standard error and scores nothing.
std::shared_ptr<const MsRun> OpenOrComplain(const std::string& path) {
    std::string error;
    std::shared_ptr<const MsRun> run = MsRun::Open(path, &error);
    if (!run) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    }
    return run;
}

// Ground truth of the bundled sample: one row per precursor run (function, first scan, true charge,
// overlap flag).
std::vector<Tally> ScoreSample(const std::string& mzml, const std::string& truthPath) {
    const std::shared_ptr<const MsRun> run = OpenOrComplain(mzml);
    if (!run) {
        return {};
    }
    std::vector<Case> cases;
    for (const auto& row : ReadTable(truthPath)) {
        const int function = std::atoi(row.at("function").c_str());
        const int firstScan = std::atoi(row.at("first_scan").c_str());
        const std::vector<std::size_t>& scans = run->ScansOfFunction(function);
        std::size_t survey = 0;
        if (firstScan < 1 || static_cast<std::size_t>(firstScan) > scans.size() ||
            !SurveyBefore(*run, scans[firstScan - 1], survey)) {
            continue;
        }
        const bool overlap = row.count("overlap") != 0 && row.at("overlap") == "1";
        cases.push_back({survey, std::atof(row.at("set_mass").c_str()),
                         std::atoi(row.at("true_charge").c_str()),
                         overlap ? " (overlapping)" : " (isolated)"});
    }
    return Score(*run, std::move(cases), std::filesystem::path(mzml).filename().string(), true);
}

// Ground truth of gen_dda_mzml.py --truth: one row per MS/MS spectrum, with the survey scan's index.
std::vector<Tally> ScoreGenerated(const std::string& mzml, const std::string& truthPath) {
    const auto rows = ReadTable(truthPath);
    if (!rows.empty() && rows.front().count("first_scan") != 0) {
        return ScoreSample(mzml, truthPath);
    }
    const std::shared_ptr<const MsRun> run = OpenOrComplain(mzml);
    if (!run) {
        return {};
    }
    std::vector<Case> cases;
    for (const auto& row : rows) {
        const long survey = std::atol(row.at("ms1_index").c_str());
        if (survey < 0 || static_cast<std::size_t>(survey) >= run->Scans().size()) {
            continue;
        }
        cases.push_back({static_cast<std::size_t>(survey), std::atof(row.at("isolation_target_mz").c_str()),
                         std::atoi(row.at("true_charge").c_str()), ""});
    }
    return Score(*run, std::move(cases), std::filesystem::path(mzml).filename().string(), true);
}

// Agreement with the instrument's charges: over all precursors with a survey scan, and over those whose
// peak is present in it.
struct Agreement {
    long scored = 0;
    long agree = 0;
    long disagree = 0;
    long undetermined = 0;

    void Add(int found, int instrument) {
        ++scored;
        if (found == instrument) {
            ++agree;
        } else if (found == -1) {
            ++undetermined;
        } else {
            ++disagree;
        }
    }
    void Add(const Agreement& other) {
        scored += other.scored;
        agree += other.agree;
        disagree += other.disagree;
        undetermined += other.undetermined;
    }
};

struct RealTally {
    explicit RealTally(std::string name) : source(std::move(name)) {}

    std::string source;
    Agreement all;
    Agreement present;
    // Of `present`: those whose survey scan contradicts the instrument's charge (see Contradicts).
    Agreement contradicted;
    double seconds = 0.0;
    long calls = 0;

    void Add(const RealTally& other) {
        all.Add(other.all);
        present.Add(other.present);
        contradicted.Add(other.contradicted);
        seconds += other.seconds;
        calls += other.calls;
    }
};

// The survey spectrum's peaks between `lowMz` and `highMz`: its centroids, or its profile apexes.
std::vector<varnex::numeric::Peak> PeaksBetween(const FloatSpectrum& survey, bool centroid, double lowMz,
                                                double highMz) {
    const auto begin = std::lower_bound(survey.masses.begin(), survey.masses.end(), lowMz);
    const auto end = std::upper_bound(begin, survey.masses.end(), highMz);
    const int from = static_cast<int>(begin - survey.masses.begin());
    const int to = static_cast<int>(end - survey.masses.begin());
    std::vector<varnex::numeric::Peak> peaks;
    varnex::numeric::CollectPeaks(survey.masses.data(), survey.intensities.data(), from, to, !centroid,
                                  peaks);
    return peaks;
}

// The peak nearest `mz` within `ppm` of it; null when there is none.
const varnex::numeric::Peak* NearestPeak(const std::vector<varnex::numeric::Peak>& peaks, double mz,
                                         double ppm) {
    const varnex::numeric::Peak* nearest = nullptr;
    for (const varnex::numeric::Peak& peak : peaks) {
        if (std::fabs(peak.mz - mz) <= ppm * 1e-6 * mz &&
            (nearest == nullptr || std::fabs(peak.mz - mz) < std::fabs(nearest->mz - mz))) {
            nearest = &peak;
        }
    }
    return nearest;
}

// The survey scan as the program reads it for the MS/MS scan `msms`: on ion-mobility data the points
// inside its mobility window, else the whole spectrum.
bool LoadSurveyFor(const MsRun& run, CRawDatafile& reader, bool mobility, std::size_t surveyIndex,
                   const ScanInfo& msms, FloatSpectrum& out) {
    const ScanInfo& survey = run.Scans()[surveyIndex];
    if (mobility && survey.function == 1) {
        double lower = 1.0;
        double upper = 0.0; // no window: the whole frame
        if (msms.mobilityHigh > 0.0) {
            lower = msms.mobilityLow;
            upper = msms.mobilityHigh;
        }
        float* masses = nullptr;
        float* intensities = nullptr;
        int count = 0;
        if (reader.GetSurveyScanInMobilityWindow(survey.scanNumber - 1, lower, upper, masses, intensities,
                                                 count)) {
            out.masses.assign(masses, masses + count);
            out.intensities.assign(intensities, intensities + count);
            delete[] masses;
            delete[] intensities;
            return true;
        }
    }
    return LoadSurvey(run, surveyIndex, out);
}

// --explain: the survey peaks at the isotope steps of the instrument's charge and of ours, next to the
// selected peak, read with nothing but the peak picker and the averagine pattern.
bool explain = false;
bool explainMissing = false;

constexpr double kProtonMass = 1.007276;
// A step's peak: the nearest within this of the step.
constexpr double kStepPpm = 10.0;
// A partner: a +1 or -1 step peak this close, whose upper/lower height ratio is within this factor
// range of averagine's isotope 1 / isotope 0 ratio.
constexpr double kPartnerPpm = 5.0;
constexpr double kPartnerLowest = 0.3;
constexpr double kPartnerHighest = 3.0;
constexpr std::array<int, 3> kSteps = {1, 2, -1};

struct StepPeak {
    bool found = false;
    double ppm = 0.0;
    double fraction = 0.0; // of the selected peak's height
};

struct ChargeEvidence {
    int charge = 0;
    std::array<StepPeak, kSteps.size()> steps;
    double averagineRatio = 0.0; // isotope 1 / isotope 0 at this charge
    bool partner = false;
    bool anyPeak = false; // at the +1 or -1 step
};

ChargeEvidence Evidence(const std::vector<varnex::numeric::Peak>& peaks,
                        const varnex::numeric::Peak& selected, int charge) {
    ChargeEvidence evidence;
    evidence.charge = charge;
    double abundances[2] = {};
    varnex::numeric::AveraginePattern((selected.mz - kProtonMass) * charge, abundances, 2);
    evidence.averagineRatio = abundances[0] > 0.0 ? abundances[1] / abundances[0] : 0.0;
    for (std::size_t i = 0; i < kSteps.size(); ++i) {
        const double mz = selected.mz + varnex::numeric::IsotopeOffset(kSteps[i]) / charge;
        const varnex::numeric::Peak* peak = NearestPeak(peaks, mz, kStepPpm);
        if (peak == nullptr) {
            continue;
        }
        StepPeak& step = evidence.steps[i];
        step.found = true;
        step.ppm = 1e6 * (peak->mz - mz) / mz;
        step.fraction = peak->height / selected.height;
        if (kSteps[i] == 2) {
            continue;
        }
        evidence.anyPeak = true;
        const double ratio = kSteps[i] > 0 ? step.fraction : 1.0 / step.fraction;
        evidence.partner = evidence.partner || (std::fabs(step.ppm) <= kPartnerPpm &&
                                                ratio >= kPartnerLowest * evidence.averagineRatio &&
                                                ratio <= kPartnerHighest * evidence.averagineRatio);
    }
    return evidence;
}

// Whether the spectrum favours charge `a` over `b`. A peak at b's +1 or -1 step speaks against a unless
// that step is also one of a's isotope steps (a a multiple of b).
bool Favours(const ChargeEvidence& a, const ChargeEvidence& b) {
    return a.partner && (a.charge % b.charge == 0 || !b.anyPeak);
}

const char* Classify(const ChargeEvidence& instrument, const ChargeEvidence* ours) {
    if (ours == nullptr) {
        return instrument.partner ? "instrument" : "neither";
    }
    if (Favours(*ours, instrument)) {
        return "ours";
    }
    if (Favours(instrument, *ours)) {
        return "instrument";
    }
    return ours->partner || instrument.partner ? "both" : "neither";
}

// Whether the survey scan contradicts the instrument's charge, read as --explain reads it and without the
// routine: no peak at either of that charge's +1 and -1 steps, while some other charge up to the largest
// the routine gives has a partner. Our answer plays no part, so agreements and -1s are judged alike.
bool Contradicts(const std::vector<varnex::numeric::Peak>& peaks, double ionMz, int instrument) {
    constexpr int kLargestCharge = 8;
    const varnex::numeric::Peak* selected = NearestPeak(peaks, ionMz, kPresentPpm);
    if (selected == nullptr || Evidence(peaks, *selected, instrument).anyPeak) {
        return false;
    }
    for (int charge = 1; charge <= kLargestCharge; ++charge) {
        if (charge != instrument && Evidence(peaks, *selected, charge).partner) {
            return true;
        }
    }
    return false;
}

std::string StepCells(const ChargeEvidence& evidence) {
    std::string cells = "z=" + std::to_string(evidence.charge);
    char cell[32];
    for (const StepPeak& step : evidence.steps) {
        if (step.found) {
            std::snprintf(cell, sizeof cell, " %+5.1f %5.2f", step.ppm, step.fraction);
            cells += cell;
        } else {
            cells += "           \u2014";
        }
    }
    std::snprintf(cell, sizeof cell, " %5.2f", evidence.averagineRatio);
    return cells + cell;
}

struct Explained {
    std::string line;
    std::string verdict;
    bool missing = false; // our charge is -1
};
std::vector<Explained> explained;

// The scan as the file names it: its "scan=N" part when it has one, else the whole id, else its index.
std::string ScanLabel(const MsRun& run, std::size_t index) {
    const std::string id = run.NativeId(index);
    const std::size_t scan = id.rfind("scan=");
    if (scan != std::string::npos && (scan == 0 || id[scan - 1] == ' ')) {
        return id.substr(scan, id.find(' ', scan) - scan);
    }
    return id.empty() ? "#" + std::to_string(index) : id;
}

void Explain(const std::string& file, const MsRun& run, std::size_t index,
             const std::vector<varnex::numeric::Peak>& peaks, double ionMz, int instrument, int ours) {
    const varnex::numeric::Peak* selected = NearestPeak(peaks, ionMz, kPresentPpm);
    if (selected == nullptr) {
        return;
    }
    const ChargeEvidence theirs = Evidence(peaks, *selected, instrument);
    std::string oursCells = "z=-1";
    const char* verdict = nullptr;
    if (ours > 0) {
        const ChargeEvidence evidence = Evidence(peaks, *selected, ours);
        oursCells = StepCells(evidence);
        verdict = Classify(theirs, &evidence);
    } else {
        verdict = Classify(theirs, nullptr);
    }
    char head[256];
    std::snprintf(head, sizeof head, "%-42s %-12s %10.5f %3d %3d %10.5f %9.3g | ", file.c_str(),
                  ScanLabel(run, index).c_str(), run.Scans()[index].SetMass(), instrument, ours, selected->mz,
                  selected->height);
    explained.push_back({head + StepCells(theirs) + " | " + oursCells + " | " + verdict, verdict, ours <= 0});
}

void PrintExplained() {
    std::printf("\nevidence in the survey scan (MS2, peak present; instrument charge %s)\n",
                explainMissing ? "differs from ours, or ours is -1" : "differs from ours");
    std::printf(
        "  selected: the survey peak nearest the selected ion within %.0f ppm. For each charge z, the "
        "peaks nearest\n  selected + d/z, d = %+.4f, %+.4f, %+.4f (isotope +1, +2, -1; averagine's mean "
        "spacing) within %.0f ppm:\n  ppm off and height / selected's height, or \u2014; avg: averagine's "
        "isotope 1 / isotope 0 height at\n  mass (m/z - proton) * z.\n",
        kPresentPpm, varnex::numeric::IsotopeOffset(1), varnex::numeric::IsotopeOffset(2),
        varnex::numeric::IsotopeOffset(-1), kStepPpm);
    std::printf(
        "  A partner of z: a +1 or -1 step peak within %.0f ppm whose upper/lower height ratio is "
        "%.1f-%.0fx avg.\n  ours: ours has a partner and the instrument's charge no peak at its +1 and "
        "-1 steps (those count\n  only when they are not also isotope steps of ours, i.e. when ours is "
        "not a multiple of it);\n  instrument: the same the other way round; both: a partner for one or "
        "both, and peaks at the other's\n  steps too; neither: no partner for either. Ours -1: "
        "instrument when its charge has a partner, else neither.\n",
        kPartnerPpm, kPartnerLowest, kPartnerHighest);
    std::printf("%-42s %-12s %10s %3s %3s %10s %9s | %-4s %11s %11s %11s %5s | ours ... | class\n", "file",
                "scan", "set", "ins", "our", "selected", "height", "z", "+1", "+2", "-1", "avg");
    std::map<std::string, long> disagreeing;
    std::map<std::string, long> missing;
    for (const Explained& e : explained) {
        std::printf("%s\n", e.line.c_str());
        ++(e.missing ? missing : disagreeing)[e.verdict];
    }
    for (const auto* counts : {&disagreeing, &missing}) {
        if (counts->empty()) {
            continue;
        }
        std::printf("%s:", counts == &disagreeing ? "disagreeing" : "ours -1");
        for (const auto& [verdict, count] : *counts) {
            std::printf(" %s %ld", verdict.c_str(), count);
        }
        std::printf("\n");
    }
}

// The instrument's charges in a real file: MS2 precursors, and MS3 and deeper ones apart. Empty when the
// file gives no charges.
std::vector<RealTally> ScoreReal(const std::string& path) {
    const std::shared_ptr<const MsRun> run = OpenOrComplain(path);
    if (!run) {
        return {};
    }
    CRawDatafile reader;
    reader.Open(path.c_str(), 0);
    const bool mobility = reader.HasMobilityWindows();
    const std::string name = std::filesystem::path(path).filename().string();
    RealTally ms2(name);
    RealTally deeper(name + " (MS3+)");
    FloatSpectrum survey;
    FloatSpectrum earlier;
    const auto& scans = run->Scans();
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const ScanInfo& info = scans[i];
        std::size_t surveyIndex = 0;
        if (info.msLevel < 2 || info.charge == 0 || info.SetMass() <= 0.0 ||
            !SurveyBefore(*run, i, surveyIndex) ||
            !LoadSurveyFor(*run, reader, mobility, surveyIndex, info, survey)) {
            continue;
        }
        RealTally& tally = info.msLevel == 2 ? ms2 : deeper;
        float massOut = 0.0f;
        float heightOut = 0.0f;
        const auto start = std::chrono::steady_clock::now();
        int charge = ListChargeState(static_cast<float>(info.SetMass()), survey.masses.data(),
                                     survey.intensities.data(), static_cast<int>(survey.masses.size()),
                                     massOut, heightOut);
        tally.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++tally.calls;
        std::size_t earlierIndex = 0;
        if (charge == -1 && secondAttempt && SurveyBefore(*run, surveyIndex, earlierIndex) &&
            LoadSurveyFor(*run, reader, mobility, earlierIndex, info, earlier)) {
            float ignoredMass = 0.0f;
            float ignoredHeight = 0.0f;
            charge = ListChargeState(static_cast<float>(info.SetMass()), earlier.masses.data(),
                                     earlier.intensities.data(), static_cast<int>(earlier.masses.size()),
                                     ignoredMass, ignoredHeight);
        }
        const int instrument = std::abs(info.charge);
        tally.all.Add(charge, instrument);
        const double ionMz = info.selectedIonMz > 0.0 ? info.selectedIonMz : info.SetMass();
        // The survey peaks up to two isotope steps of charge 1 either side of the selected ion: enough to
        // tell whether its peak is present, and for the evidence --explain and Contradicts read.
        const std::vector<varnex::numeric::Peak> peaksAround =
            PeaksBetween(survey, scans[surveyIndex].centroid, ionMz - 1.6, ionMz + 2.6);
        const bool present = NearestPeak(peaksAround, ionMz, kPresentPpm) != nullptr;
        if (present) {
            tally.present.Add(charge, instrument);
            if (Contradicts(peaksAround, ionMz, instrument)) {
                tally.contradicted.Add(charge, instrument);
            }
            if (explain && info.msLevel == 2 && charge != instrument && (charge != -1 || explainMissing)) {
                Explain(name, *run, i, peaksAround, ionMz, instrument, charge);
            }
        }
        if (verbose && charge != instrument) {
            std::printf("  %s scan %zu (MS%d) survey %zu set %.5f ion %.5f%s instrument %d found %d\n",
                        name.c_str(), i, info.msLevel, surveyIndex, info.SetMass(), ionMz,
                        present ? "" : " (absent)", instrument, charge);
            if (dump) {
                DumpAround(survey, info.SetMass());
            }
        }
    }
    std::vector<RealTally> result;
    for (const RealTally* tally : {&ms2, &deeper}) {
        if (tally->all.scored > 0) {
            result.push_back(*tally);
        }
    }
    return result;
}

void Print(const std::vector<Tally>& tallies) {
    for (const Tally& t : tallies) {
        const double n = t.scored > 0 ? static_cast<double>(t.scored) : 1.0;
        std::printf("%-44s %-8s %7ld %7ld %6.1f%% %6ld %5.1f%% %6ld %5.1f%% %6ld | %6ld %6ld %7.1f\n",
                    t.source.c_str(), t.kind.c_str(), t.scored, t.correct, 100.0 * t.correct / n, t.wrong,
                    100.0 * t.wrong / n, t.undetermined, 100.0 * t.undetermined / n, t.absent, t.allCorrect,
                    t.allWrong, t.calls > 0 ? 1e6 * t.seconds / t.calls : 0.0);
        std::fflush(stdout);
    }
}

void PrintReal(const RealTally& t) {
    const auto percent = [](long part, long whole) { return whole > 0 ? 100.0 * part / whole : 0.0; };
    const Agreement& a = t.all;
    const Agreement& p = t.present;
    std::printf("%-50s %5ld %5ld %5ld %5ld | %5ld %5ld %5.1f%% %4ld %4.1f%% %4ld %7.1f\n", t.source.c_str(),
                a.scored, a.agree, a.disagree, a.undetermined, p.scored, p.agree, percent(p.agree, p.scored),
                p.disagree, percent(p.disagree, p.scored), p.undetermined,
                t.calls > 0 ? 1e6 * t.seconds / t.calls : 0.0);
    std::fflush(stdout);
}

// The MS2 total's precursors whose peak is present, once more without those whose survey scan
// contradicts the instrument's charge: what agreement the spectra allow at all.
void PrintWithoutContradicted(const RealTally& total) {
    const Agreement& c = total.contradicted;
    const Agreement& p = total.present;
    const long scored = p.scored - c.scored;
    const auto percent = [scored](long part) { return scored > 0 ? 100.0 * part / scored : 0.0; };
    std::printf(
        "\nMS2, peak present: the survey scan contradicts the instrument's charge for %ld (no peak at "
        "its +1 and -1\nsteps, a partner of another charge; see --explain): we agree with %ld, "
        "disagree with %ld, -1 %ld.\nWithout them: %ld scored, agree %ld %.1f%%, disagree %ld %.1f%%, "
        "-1 %ld %.1f%%\n",
        c.scored, c.agree, c.disagree, c.undetermined, scored, p.agree - c.agree, percent(p.agree - c.agree),
        p.disagree - c.disagree, percent(p.disagree - c.disagree), p.undetermined - c.undetermined,
        percent(p.undetermined - c.undetermined));
}

} // namespace

int main(int argc, char** argv) {
    bool real = true;
    std::vector<std::pair<std::string, std::string>> synthetic;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-real") == 0) {
            real = false;
        } else if (std::strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
        } else if (std::strcmp(argv[i], "--as-listed") == 0) {
            secondAttempt = true;
        } else if (std::strcmp(argv[i], "--dump") == 0) {
            verbose = true;
            dump = true;
        } else if (std::strcmp(argv[i], "--explain") == 0) {
            explain = true;
        } else if (std::strcmp(argv[i], "--explain-missing") == 0) {
            explain = true;
            explainMissing = true;
        } else if (i + 1 < argc) {
            synthetic.emplace_back(argv[i], argv[i + 1]);
            ++i;
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--no-real] [--as-listed] [--verbose] [--dump] [--explain] [--explain-missing] "
                "[MZML TRUTH_TSV]...\n",
                argv[0]);
            return 2;
        }
    }
    if (synthetic.empty()) {
        const std::filesystem::path source(VARNEX_SOURCE_DIR);
        synthetic.emplace_back((source / "data/sample.mzML").string(),
                               (source / "data/sample.truth.tsv").string());
        for (const char* name : {"run60", "run60-profile", "dense1", "dense2", "dense3"}) {
            const std::filesystem::path mzml = source / "bench/data" / (std::string(name) + ".mzML");
            const std::filesystem::path truth = source / "bench/data" / (std::string(name) + ".truth.tsv");
            if (std::filesystem::exists(mzml) && std::filesystem::exists(truth)) {
                synthetic.emplace_back(mzml.string(), truth.string());
            }
        }
    }
    std::printf("%-44s %-8s %7s %7s %7s %6s %6s %6s %6s %6s | %6s %6s %7s\n", "source", "surveys", "scored",
                "correct", "", "wrong", "", "-1", "", "absent", "all ok", "wrong", "us/call");
    for (const auto& [mzml, truth] : synthetic) {
        Print(ScoreGenerated(mzml, truth));
    }
    if (real) {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(VARNEX_SHARED_DATA_DIR, error)) {
            const std::string name = entry.path().filename().string();
            if (name.ends_with(".mzML") || name.ends_with(".mzML.gz") || name.ends_with(".mzXML")) {
                files.push_back(entry.path().string());
            }
        }
        std::sort(files.begin(), files.end());
        std::printf("\ninstrument charges (all with a survey scan | peak present in it)\n");
        std::printf("%-50s %5s %5s %5s %5s | %5s %5s %6s %4s %5s %4s %7s\n", "file", "all", "agree", "disag",
                    "-1", "pres", "agree", "", "dis", "", "-1", "us/call");
        RealTally total("total (MS2)");
        RealTally deeperTotal("total (MS3+)");
        for (const std::string& file : files) {
            for (const RealTally& tally : ScoreReal(file)) {
                PrintReal(tally);
                (tally.source.ends_with("(MS3+)") ? deeperTotal : total).Add(tally);
            }
        }
        PrintReal(total);
        if (deeperTotal.all.scored > 0) {
            PrintReal(deeperTotal);
        }
        PrintWithoutContradicted(total);
        if (explain) {
            PrintExplained();
        }
    }
    return 0;
}
