// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <QFile>
#include <QMimeDatabase>
#include <QXmlStreamReader>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/RawTestFiles.h"

namespace {

namespace fs = std::filesystem;

const fs::path kResources = fs::path(VARNEX_SOURCE_DIR) / "res";
const fs::path kDesktopEntry = kResources / (VARNEX_APP_ID ".desktop");
const fs::path kMetainfo = kResources / (VARNEX_APP_ID ".metainfo.xml");
const fs::path kMimeTypes = kResources / "mime" / "varnex.xml";

struct Outcome {
    int exitCode = -1;
    std::string output;
};

// Runs a shell command, standard output and error together.
Outcome RunCommand(const std::string& command) {
    const fs::path output = fs::temp_directory_path() / ("varnex-packaging-" + std::to_string(::getpid()));
    const int status = std::system((command + " >'" + output.string() + "' 2>&1").c_str());
    std::ifstream in(output);
    std::ostringstream text;
    text << in.rdbuf();
    fs::remove(output);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

// The texts of every element named `name`, or of its attribute `attribute` when one is given.
std::multiset<std::string> XmlValues(const fs::path& file, const QString& name,
                                     const QString& attribute = {}) {
    QFile in(QString::fromStdString(file.string()));
    EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << file;
    QXmlStreamReader xml(&in);
    std::multiset<std::string> values;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == name) {
            const QString value =
                attribute.isEmpty() ? xml.readElementText() : xml.attributes().value(attribute).toString();
            values.insert(value.toStdString());
        }
    }
    EXPECT_FALSE(xml.hasError()) << file << ": " << xml.errorString().toStdString();
    return values;
}

std::multiset<std::string> DesktopEntryMimeTypes() {
    std::ifstream in(kDesktopEntry);
    std::multiset<std::string> types;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("MimeType=", 0) == 0) {
            std::istringstream list(line.substr(9));
            for (std::string type; std::getline(list, type, ';');) {
                types.insert(type);
            }
        }
    }
    return types;
}

} // namespace

TEST(Packaging, DesktopEntriesAndMetainfoPassTheirValidators) {
    const Outcome desktop = RunCommand("desktop-file-validate '" + kDesktopEntry.string() + "' '" +
                                       (kResources / (VARNEX_APP_ID ".Host.desktop")).string() + "'");
    EXPECT_EQ(desktop.exitCode, 0);
    EXPECT_EQ(desktop.output, "");
    const Outcome metainfo = RunCommand("appstreamcli validate --no-net '" + kMetainfo.string() + "'");
    EXPECT_EQ(metainfo.exitCode, 0) << metainfo.output;
    // Warnings count too: software centres skip or mark down an entry with them.
    EXPECT_EQ(metainfo.output.find("W:"), std::string::npos) << metainfo.output;
    EXPECT_EQ(metainfo.output.find("E:"), std::string::npos) << metainfo.output;
}

TEST(Packaging, DesktopEntryMetainfoAndFileTypesAgree) {
    const std::multiset<std::string> registered = XmlValues(kMimeTypes, "mime-type", "type");
    EXPECT_EQ(registered.size(), 3u);
    EXPECT_EQ(DesktopEntryMimeTypes(), registered);
    EXPECT_EQ(XmlValues(kMetainfo, "mediatype"), registered);
    EXPECT_EQ(XmlValues(kMetainfo, "launchable"), std::multiset<std::string>{VARNEX_APP_ID ".desktop"});
    EXPECT_EQ(XmlValues(kMetainfo, "id"), std::multiset<std::string>{VARNEX_APP_ID});
    // The newest release comes first and is the version being built.
    const auto releases = XmlValues(kMetainfo, "release", "version");
    EXPECT_EQ(releases.count(VARNEX_VERSION), 1u) << "no release entry for " << VARNEX_VERSION;
}

TEST(Packaging, DataSetFilesTakeTheirTypeByNameOrByContent) {
    // A private database of the standard types plus ours, as the package's trigger builds it.
    std::string pattern = (fs::temp_directory_path() / "varnex-mime-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path data = pattern;
    fs::create_directories(data / "mime" / "packages");
    fs::copy_file("/usr/share/mime/packages/freedesktop.org.xml", data / "mime/packages/freedesktop.org.xml");
    fs::copy_file(kMimeTypes, data / "mime/packages/varnex.xml");
    const Outcome update = RunCommand("update-mime-database '" + (data / "mime").string() + "'");
    ASSERT_EQ(update.exitCode, 0) << update.output;
    EXPECT_EQ(update.output.find("Error"), std::string::npos) << update.output;
    fs::create_directories(data / "home");
    ::setenv("XDG_DATA_HOME", (data / "home").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", data.c_str(), 1);

    const QMimeDatabase types;
    const auto byName = [&](const char* name) {
        return types.mimeTypeForFile(QString(name), QMimeDatabase::MatchExtension).name().toStdString();
    };
    EXPECT_EQ(byName("run.mzML"), "application/x-mzml");
    EXPECT_EQ(byName("RUN.MZML"), "application/x-mzml");
    EXPECT_EQ(byName("run.mzML.gz"), "application/x-mzml-compressed");
    EXPECT_EQ(byName("run.mzXML"), "application/x-mzxml");
    EXPECT_EQ(byName("notes.gz"), "application/gzip") << "only compressed mzML is ours";
    EXPECT_EQ(byName("notes.xml"), "application/xml");
    EXPECT_TRUE(types.mimeTypeForName("application/x-mzml").inherits("application/xml"));
    EXPECT_TRUE(types.mimeTypeForName("application/x-mzml-compressed").inherits("application/gzip"));

    // A data set whose name does not say what it is: the root element does.
    const auto byContent = [&](const fs::path& source) {
        const fs::path unnamed = data / "unnamed";
        fs::copy_file(source, unnamed, fs::copy_options::overwrite_existing);
        return types.mimeTypeForFile(QString::fromStdString(unnamed.string()), QMimeDatabase::MatchContent)
            .name()
            .toStdString();
    };
    EXPECT_EQ(byContent(fs::path(VARNEX_SOURCE_DIR) / "data/sample.mzML"), "application/x-mzml");
    if (!rawtest::HaveSharedData()) {
        fs::remove_all(data);
        GTEST_SKIP() << "no shared data sets in " << VARNEX_SHARED_DATA_DIR;
    }
    EXPECT_EQ(byContent(fs::path(VARNEX_SHARED_DATA_DIR) / "thermo_test2.mzXML"), "application/x-mzxml");
    EXPECT_EQ(byContent(fs::path(VARNEX_SHARED_DATA_DIR) / "thermo_LCQDeca_pyteomics_test.mzXML"),
              "application/x-mzxml");
    fs::remove_all(data);
}
