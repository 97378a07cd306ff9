// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "support/RawTestFiles.h"
#include "support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) {
        fields.push_back(field);
    }
    return fields;
}

class VarnexList : public ::testing::Test {
protected:
    // Runs the real executable; standard error is a file, so no progress line is drawn. A run that hangs
    // is stopped and reported as exit code 124.
    Outcome Run(const std::vector<std::string>& arguments) const {
        std::string command = "timeout -k 5 30 " + Quoted(VARNEX_LIST_EXECUTABLE);
        for (const auto& argument : arguments) {
            command += " " + Quoted(argument);
        }
        const fs::path out = dir_ / "stdout.txt";
        const fs::path err = dir_ / "stderr.txt";
        command += " >" + Quoted(out.string()) + " 2>" + Quoted(err.string()) + " </dev/null";
        const int status = std::system(command.c_str());
        Outcome outcome;
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.out = ReadFile(out);
        outcome.err = ReadFile(err);
        fs::remove(out);
        fs::remove(err);
        return outcome;
    }

    support::TempDirectory folder_{"varnex-cli"};
    const fs::path dir_ = folder_.Path();
    const std::string sample_ = std::string(VARNEX_SOURCE_DIR) + "/data/sample.mzML";
};

const char* const kHeader = "Switching Time\tSet Mass\tFunction Name\tCharge State\tIntensity\tFunction\t"
                            "Survey Scan\tFirst Scan\tLast Scan\tRetention Time";

} // namespace

TEST_F(VarnexList, HelpAndVersionAnswerAndSucceed) {
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: varnex-list"), std::string::npos);
    EXPECT_NE(help.out.find("--sort"), std::string::npos);
    const Outcome version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("varnex-list ", 0), 0u);
}

TEST_F(VarnexList, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"--bogus", sample_}).exitCode, 2);
    EXPECT_EQ(Run({"--sort", "colour", sample_}).exitCode, 2);
    EXPECT_EQ(Run({"--format", "xlsx", sample_}).exitCode, 2);
    // An option without a value must not quietly swallow one.
    EXPECT_EQ(Run({"--quiet=no", sample_}).exitCode, 2);
    EXPECT_EQ(Run({"--help=me"}).exitCode, 2);
    EXPECT_EQ(Run({"--=" + sample_}).exitCode, 2);
    const Outcome missingValue = Run({sample_, "--output"});
    EXPECT_EQ(missingValue.exitCode, 2);
    EXPECT_NE(missingValue.err.find("needs a value"), std::string::npos);
    for (const char* jobs : {"0", "-1", "two", "2x", ""}) {
        EXPECT_EQ(Run({"--jobs", jobs, sample_, sample_}).exitCode, 2) << "--jobs '" << jobs << "'";
    }
}

TEST_F(VarnexList, MissingDataSetIsReportedWithoutOutput) {
    const std::string missing = (dir_ / "nowhere.mzML").string();
    const Outcome outcome = Run({missing});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.out.empty());
    EXPECT_NE(outcome.err.find("cannot read '" + missing + "'"), std::string::npos) << outcome.err;
}

TEST_F(VarnexList, DirectoryAndNonDataFilesAreRejected) {
    EXPECT_EQ(Run({dir_.string()}).exitCode, 1);
    const fs::path text = dir_ / "notes.mzML";
    std::ofstream(text) << "these are not spectra\n";
    const Outcome outcome = Run({text.string()});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.err.find("not an mzML or mzXML data set"), std::string::npos) << outcome.err;
}

TEST_F(VarnexList, PipesAndDevicesAreRejectedWithoutWaitingForData) {
    const fs::path pipe = dir_ / "pipe.mzML";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const Outcome fromPipe = Run({pipe.string()});
    EXPECT_EQ(fromPipe.exitCode, 1);
    EXPECT_NE(fromPipe.err.find("not a regular file"), std::string::npos) << fromPipe.err;
    const Outcome fromDevice = Run({"/dev/zero"});
    EXPECT_EQ(fromDevice.exitCode, 1);
    EXPECT_NE(fromDevice.err.find("not a regular file"), std::string::npos) << fromDevice.err;
}

TEST_F(VarnexList, FailureLeavesAnExistingOutputFileAlone) {
    const fs::path output = dir_ / "list.tsv";
    std::ofstream(output) << "earlier list\n";
    const Outcome outcome = Run({"--output", output.string(), (dir_ / "nowhere.mzML").string()});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(ReadFile(output), "earlier list\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(VarnexList, SampleIsListedOneLinePerPrecursorBySwitchingTime) {
    const Outcome outcome = Run({sample_});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const auto rows = Lines(outcome.out);
    ASSERT_EQ(rows.size(), 211u);
    EXPECT_EQ(rows[0], kHeader);
    float previous = -2.0f;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto fields = Split(rows[i], '\t');
        ASSERT_EQ(fields.size(), 10u) << rows[i];
        const float switchingTime = std::stof(fields[0]);
        EXPECT_GE(switchingTime, previous);
        previous = switchingTime;
        EXPECT_GE(std::stoi(fields[5]), 2);
        EXPECT_LE(std::stoi(fields[7]), std::stoi(fields[8]));
    }
}

TEST_F(VarnexList, FileOutputEqualsStandardOutputAndSortsByTheChosenColumn) {
    const fs::path output = dir_ / "list.csv";
    std::ofstream(output) << "earlier list\n";
    const Outcome toFile = Run({"--format", "csv", "--sort", "charge-state", "-o", output.string(), sample_});
    ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
    EXPECT_TRUE(toFile.out.empty());
    const Outcome toStdout = Run({"--format=csv", "--sort=3", sample_});
    ASSERT_EQ(toStdout.exitCode, 0);
    EXPECT_EQ(ReadFile(output), toStdout.out);

    const auto rows = Lines(toStdout.out);
    ASSERT_EQ(rows.size(), 211u);
    EXPECT_EQ(rows[0],
              "Switching Time,Set Mass,Function Name,Charge State,Intensity,Function,Survey Scan,First "
              "Scan,Last Scan,Retention Time");
    int previous = -1;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const int charge = std::stoi(Split(rows[i], ',')[3]);
        EXPECT_GE(charge, previous);
        previous = charge;
    }
}

// The sample's index with entries deleted once gave 210 rows, 209 of them wrong (every other entry), or
// 3 rows (the first ten entries kept), with exit status 0. Such an index is not trusted now.
TEST_F(VarnexList, SampleWithEntriesDeletedFromItsIndexGivesTheSameList) {
    const Outcome intact = Run({sample_});
    ASSERT_EQ(intact.exitCode, 0) << intact.err;
    const std::string bytes = ReadFile(sample_);
    const std::size_t begin = bytes.find("<offset", bytes.find("<index name=\"spectrum\""));
    const std::size_t end = bytes.find("</index>", begin);
    ASSERT_NE(end, std::string::npos);
    std::vector<std::string> entries = Lines(bytes.substr(begin, end - begin));
    std::erase_if(entries, [](const std::string& line) { return line.find("<offset") == std::string::npos; });
    ASSERT_GT(entries.size(), 100u);

    struct Damage {
        const char* name;
        bool (*keep)(std::size_t entry);
    };
    for (const Damage& damage : {Damage{"every-other.mzML", [](std::size_t n) { return n % 2 == 0; }},
                                 Damage{"first-ten.mzML", [](std::size_t n) { return n < 10; }}}) {
        std::string damaged = bytes.substr(0, begin);
        for (std::size_t n = 0; n < entries.size(); ++n) {
            if (damage.keep(n)) {
                damaged += entries[n] + "\n";
            }
        }
        damaged += bytes.substr(bytes.rfind('\n', end) + 1);
        const fs::path path = dir_ / damage.name;
        std::ofstream(path, std::ios::binary) << damaged;
        const Outcome outcome = Run({path.string()});
        EXPECT_EQ(outcome.exitCode, 0) << damage.name << ": " << outcome.err;
        EXPECT_EQ(outcome.out, intact.out) << damage.name;
    }
}

namespace {

std::string SharedDataSet(const std::string& name) {
    return std::string(VARNEX_SHARED_DATA_DIR) + "/" + name;
}

// The rows of one data set's own table, each prefixed with the File column as a batch writes it.
std::vector<std::string> RowsUnderFileColumn(const std::string& table, const std::string& file,
                                             char separator) {
    std::vector<std::string> rows = Lines(table);
    rows.erase(rows.begin());
    for (std::string& row : rows) {
        row = file + separator + row;
    }
    return rows;
}

} // namespace

TEST_F(VarnexList, BatchJoinsTheDataSetsInTheOrderGivenUnderAFileColumn) {
    SKIP_WITHOUT_SHARED_DATA();
    // An mzXML, a gzip-compressed mzML and the sample: three readers, and an order that is not by name.
    const std::vector<std::string> dataSets = {SharedDataSet("thermo_test2.mzXML"), sample_,
                                               SharedDataSet("thermo_QE_QualityControl_1_in2.mzML.gz")};
    std::vector<std::string> expected = {std::string("File\t") + kHeader};
    for (const std::string& dataSet : dataSets) {
        const Outcome single = Run({"--sort", "set-mass", dataSet});
        ASSERT_EQ(single.exitCode, 0) << single.err;
        ASSERT_EQ(Lines(single.out).front(), kHeader);
        const auto rows = RowsUnderFileColumn(single.out, dataSet, '\t');
        ASSERT_FALSE(rows.empty()) << dataSet;
        expected.insert(expected.end(), rows.begin(), rows.end());
    }
    // One at a time or all at once, the table is the same.
    for (const char* jobs : {"1", "3"}) {
        std::vector<std::string> arguments = {"--sort", "set-mass", "--jobs", jobs};
        arguments.insert(arguments.end(), dataSets.begin(), dataSets.end());
        const Outcome batch = Run(arguments);
        EXPECT_EQ(batch.exitCode, 0) << batch.err;
        EXPECT_EQ(batch.err, "");
        EXPECT_EQ(Lines(batch.out), expected) << "--jobs " << jobs;
    }
}

TEST_F(VarnexList, BatchNamesAnUnreadableDataSetListsTheOthersAndFails) {
    const std::string missing = (dir_ / "nowhere.mzML").string();
    const fs::path text = dir_ / "notes.mzXML";
    std::ofstream(text) << "these are not spectra\n";
    const fs::path output = dir_ / "list.tsv";
    std::ofstream(output) << "earlier list\n";

    const Outcome outcome = Run({"-o", output.string(), missing, sample_, text.string()});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.err.find("cannot read '" + missing + "'"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("cannot read '" + text.string() + "': it is not an mzML or mzXML"),
              std::string::npos)
        << outcome.err;
    EXPECT_LT(outcome.err.find(missing), outcome.err.find(text.string())) << "messages in the order given";
    const Outcome single = Run({sample_});
    std::vector<std::string> expected = {std::string("File\t") + kHeader};
    const auto rows = RowsUnderFileColumn(single.out, sample_, '\t');
    expected.insert(expected.end(), rows.begin(), rows.end());
    EXPECT_EQ(Lines(ReadFile(output)), expected);

    // When none can be read there is nothing to list, and an earlier output stays as it was.
    std::ofstream(output) << "earlier list\n";
    const Outcome none = Run({"--output", output.string(), missing, text.string()});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(ReadFile(output), "earlier list\n");
    EXPECT_TRUE(Run({missing, text.string()}).out.empty());
}

TEST_F(VarnexList, BatchCsvQuotesPathsThatHoldSeparatorsOrQuotes) {
    const fs::path awkward = dir_ / "run \"7\", repeat.mzML";
    fs::create_symlink(sample_, awkward);
    const Outcome outcome = Run({"--format", "csv", awkward.string(), sample_});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const auto rows = Lines(outcome.out);
    ASSERT_EQ(rows.size(), 1u + 2u * 210u);
    EXPECT_EQ(rows[0].rfind("File,Switching Time,", 0), 0u) << rows[0];
    std::string quotedPath = "\"";
    for (const char c : awkward.string()) {
        quotedPath += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    quotedPath += "\",";
    EXPECT_EQ(rows[1].rfind(quotedPath, 0), 0u) << rows[1];
    EXPECT_EQ(rows[211].rfind(sample_ + ",", 0), 0u) << rows[211];
    // Past the File column both data sets' rows are the same.
    EXPECT_EQ(rows[1].substr(quotedPath.size()), rows[211].substr(sample_.size() + 1));
}
