// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Files for the reader tests: real shared data, the bundled sample, data sets written by the DDA
// generator into a per-process temporary directory, and byte-level helpers for damaged copies.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

#include <gtest/gtest.h>
#include <unistd.h>

namespace rawtest {

// The real data sets and the DDA generator lie beside the workspace; a clone elsewhere has neither, and
// the tests that need them skip.
inline std::string SharedFile(const std::string& name) {
    return std::string(VARNEX_SHARED_DATA_DIR) + "/" + name;
}

inline std::string GeneratorPath() {
    return std::string(VARNEX_SHARED_DATA_DIR) + "/../tools/gen_dda_mzml.py";
}

inline bool HaveSharedData() {
    std::error_code error;
    return std::filesystem::is_directory(VARNEX_SHARED_DATA_DIR, error);
}

inline bool HaveGenerator() {
    std::error_code error;
    return std::filesystem::is_regular_file(GeneratorPath(), error);
}

inline std::string SamplePath() {
    return std::string(VARNEX_SOURCE_DIR) + "/data/sample.mzML";
}

inline const std::filesystem::path& TempDir() {
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnex-rawdata-XXXXXX").string();
        const char* made = ::mkdtemp(pattern.data());
        return std::filesystem::path(made ? made : pattern);
    }();
    return dir;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = (TempDir() / name).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

// A small data set from the shared DDA generator, written once per process for each argument list.
inline std::string Generated(const std::string& name, const std::string& arguments) {
    static std::map<std::string, std::string> made;
    const auto it = made.find(name);
    if (it != made.end()) {
        return it->second;
    }
    const std::string generator = GeneratorPath();
    const std::string path = (TempDir() / name).string();
    const std::string command =
        "python3 '" + generator + "' -o '" + path + "' " + arguments + " > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "generator failed: " << command;
        return {};
    }
    made[name] = path;
    return path;
}

// One minute, function-numbered ids, three MS/MS functions, runs of three MS/MS scans.
inline const char* kFunctionArgs = "--minutes 0.5 --nativeid function --functions 3 --repeat 3 --seed 7";

} // namespace rawtest

// Ends the running test as skipped when the shared data sets are not there.
#define SKIP_WITHOUT_SHARED_DATA()                                                                           \
    do {                                                                                                     \
        if (!rawtest::HaveSharedData())                                                                      \
            GTEST_SKIP() << "no shared data sets in " << VARNEX_SHARED_DATA_DIR;                             \
    } while (false)

// Ends the running test as skipped when the DDA generator is not there.
#define SKIP_WITHOUT_GENERATOR()                                                                             \
    do {                                                                                                     \
        if (!rawtest::HaveGenerator())                                                                       \
            GTEST_SKIP() << "no DDA generator at " << rawtest::GeneratorPath();                              \
    } while (false)
