// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The ground truth of the bundled sample (data/sample.truth.tsv), one row per precursor run, read by the
// model tests and the host-display end-to-end tests. Columns are found by their header names.

#include <cstddef>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct SampleTruthRun {
    int function = 0;
    int firstScan = 0;
    int lastScan = 0; // inclusive
    double setMass = 0.0;
    int trueCharge = 0;
    int surveyScan = 0;
    double surveyRtMinutes = 0.0;
    double firstRtMinutes = 0.0;
    double selectedHeight = 0.0;
};

// Rows whose field count differs from the header's are skipped, so a damaged file shows up as a
// wrong row count rather than as misread values.
inline std::vector<SampleTruthRun> ReadSampleTruth() {
    std::ifstream file(VARNEX_SOURCE_DIR "/data/sample.truth.tsv");
    std::string line;
    std::getline(file, line);
    std::map<std::string, std::size_t> column;
    {
        std::istringstream header(line);
        std::string name;
        for (std::size_t i = 0; std::getline(header, name, '\t'); ++i) {
            column[name] = i;
        }
    }
    std::vector<SampleTruthRun> runs;
    while (std::getline(file, line)) {
        std::vector<std::string> fields;
        std::istringstream row(line);
        std::string field;
        while (std::getline(row, field, '\t')) {
            fields.push_back(field);
        }
        if (fields.size() != column.size()) {
            continue;
        }
        const auto at = [&](const char* name) { return fields.at(column.at(name)); };
        SampleTruthRun run;
        run.function = std::stoi(at("function"));
        run.firstScan = std::stoi(at("first_scan"));
        run.lastScan = std::stoi(at("last_scan"));
        run.setMass = std::stod(at("set_mass"));
        run.trueCharge = std::stoi(at("true_charge"));
        run.surveyScan = std::stoi(at("survey_scan"));
        run.surveyRtMinutes = std::stod(at("survey_rt_min"));
        run.firstRtMinutes = std::stod(at("first_rt_min"));
        run.selectedHeight = std::stod(at("selected_height"));
        runs.push_back(run);
    }
    return runs;
}
