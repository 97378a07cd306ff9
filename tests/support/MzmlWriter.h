// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Writes small mzML files with an exact scan layout, so that the builder can be run through the real
// reader on the cases that matter. Native ids are function-numbered ("function=F process=0 scan=N").
struct TestScan {
    int function = 1; // 1: survey scan; 2 and up: MS/MS
    double rtMinutes = 0.0;
    std::string setMass; // MS/MS only: isolation target as written ("500.25", "NaN"); empty: none
    std::vector<double> masses;
    std::vector<float> intensities;
    std::string activation = "HCD"; // MS/MS only: "HCD" or "CID"
    bool undecodable = false;       // arrays flagged zlib but holding bytes no inflater accepts
};

TestScan SurveyScan(double rtMinutes, std::vector<double> masses = {}, std::vector<float> intensities = {});
TestScan MsmsScan(int function, double rtMinutes, std::string setMass, std::string activation = "HCD");

void WriteMzml(const std::filesystem::path& path, const std::vector<TestScan>& scans);
