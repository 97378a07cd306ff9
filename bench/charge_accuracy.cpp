// Accuracy of the charge-state routine: per data source, how many precursors it scored, how many it got
// right, wrong, or left undetermined (-1), against
//  - ground truth: the bundled sample (data/sample.truth.tsv, split into isolated and overlapping
//    envelopes) and files written by gen_dda_mzml.py --truth (true_charge column);
//  - the instrument's own charge states in the real files of the shared data folder, for MS/MS
//    precursors whose charge the file gives and whose peak is present in the survey scan before them.
// Every precursor is scored on the survey scan it was selected from, with the arguments the program
// passes. A precursor whose peak the routine does not find within 20 ppm of the set mass is counted as
// absent, not scored: sliced real files lack many survey scans, and gen_dda_mzml.py's profile mode
// shifts peaks that collide with a neighbour by up to several peak widths.
//
// Usage: charge_accuracy [--no-real] [--verbose] [--dump] [MZML TRUTH_TSV]...
//        (--dump: the survey points around every miss)
//        (default synthetic sources: the bundled sample, and bench/data/run60.mzML and
//        bench/data/run60-profile.mzML with their truth tables when present)

#include <algorithm>
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

#include "numeric/ChargeState.h"
#include "rawdata/MsRun.h"

namespace {

using varnex::rawdata::MsRun;
using varnex::rawdata::ScanInfo;
using varnex::rawdata::Spectrum;

constexpr float kRelativeTolerance = 0.00065f;
constexpr float kHydrogenMass = 1.00782f;
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
        const int charge = FindChargeState(static_cast<float>(c.setMass), 0, survey.masses.data(),
                                           survey.intensities.data(), static_cast<int>(survey.masses.size()),
                                           kRelativeTolerance, kHydrogenMass, massOut, heightOut);
        tally.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++tally.calls;
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

// The instrument's charges in a real file.
std::vector<Tally> ScoreReal(const std::string& path) {
    const std::shared_ptr<const MsRun> run = OpenOrComplain(path);
    if (!run) {
        return {};
    }
    std::vector<Case> cases;
    const auto& scans = run->Scans();
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const ScanInfo& info = scans[i];
        std::size_t survey = 0;
        if (info.msLevel < 2 || info.charge == 0 || info.SetMass() <= 0.0 || !SurveyBefore(*run, i, survey)) {
            continue;
        }
        cases.push_back({survey, info.SetMass(), std::abs(info.charge), ""});
    }
    if (cases.empty()) {
        return {};
    }
    return Score(*run, std::move(cases), std::filesystem::path(path).filename().string(), true);
}

void Print(const std::vector<Tally>& tallies) {
    for (const Tally& t : tallies) {
        const double n = t.scored > 0 ? static_cast<double>(t.scored) : 1.0;
        std::printf("%-52s %-8s %7ld %7ld %6.1f%% %6ld %5.1f%% %6ld %5.1f%% %7ld %7.1f\n", t.source.c_str(),
                    t.kind.c_str(), t.scored, t.correct, 100.0 * t.correct / n, t.wrong, 100.0 * t.wrong / n,
                    t.undetermined, 100.0 * t.undetermined / n, t.absent,
                    t.calls > 0 ? 1e6 * t.seconds / t.calls : 0.0);
        std::fflush(stdout);
    }
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
        } else if (std::strcmp(argv[i], "--dump") == 0) {
            verbose = true;
            dump = true;
        } else if (i + 1 < argc) {
            synthetic.emplace_back(argv[i], argv[i + 1]);
            ++i;
        } else {
            std::fprintf(stderr, "usage: %s [--no-real] [--verbose] [--dump] [MZML TRUTH_TSV]...\n", argv[0]);
            return 2;
        }
    }
    if (synthetic.empty()) {
        const std::filesystem::path source(VARNEX_SOURCE_DIR);
        synthetic.emplace_back((source / "data/sample.mzML").string(),
                               (source / "data/sample.truth.tsv").string());
        for (const char* name : {"run60", "run60-profile"}) {
            const std::filesystem::path mzml = source / "bench/data" / (std::string(name) + ".mzML");
            const std::filesystem::path truth = source / "bench/data" / (std::string(name) + ".truth.tsv");
            if (std::filesystem::exists(mzml) && std::filesystem::exists(truth)) {
                synthetic.emplace_back(mzml.string(), truth.string());
            }
        }
    }
    std::printf("%-52s %-8s %7s %7s %7s %6s %6s %6s %6s %7s %7s\n", "source", "surveys", "scored", "correct",
                "", "wrong", "", "-1", "", "absent", "us/call");
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
        for (const std::string& file : files) {
            Print(ScoreReal(file));
        }
    }
    return 0;
}
