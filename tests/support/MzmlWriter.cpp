// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MzmlWriter.h"

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "rawdata/BinaryDecode.h"

namespace {

using varnex::rawdata::EncodeBase64;

void WriteArray(std::ostream& out, const std::string& encoded, bool is64Bit, bool zlib, bool isMz) {
    out << "          <binaryDataArray encodedLength=\"" << encoded.size() << "\">\n"
        << (is64Bit ? "            <cvParam cvRef=\"MS\" accession=\"MS:1000523\" name=\"64-bit float\"/>\n"
                    : "            <cvParam cvRef=\"MS\" accession=\"MS:1000521\" name=\"32-bit float\"/>\n")
        << (zlib ? "            <cvParam cvRef=\"MS\" accession=\"MS:1000574\" name=\"zlib compression\"/>\n"
                 : "            <cvParam cvRef=\"MS\" accession=\"MS:1000576\" name=\"no compression\"/>\n")
        << (isMz ? "            <cvParam cvRef=\"MS\" accession=\"MS:1000514\" name=\"m/z array\"/>\n"
                 : "            <cvParam cvRef=\"MS\" accession=\"MS:1000515\" name=\"intensity array\"/>\n")
        << "            <binary>" << encoded << "</binary>\n          </binaryDataArray>\n";
}

void WriteSpectrum(std::ostream& out, int index, int scanInFunction, const TestScan& scan) {
    const int msLevel = scan.function == 1 ? 1 : 2;
    out << "      <spectrum index=\"" << index << "\" id=\"function=" << scan.function
        << " process=0 scan=" << scanInFunction << "\" defaultArrayLength=\"" << scan.masses.size() << "\">\n"
        << "        <cvParam cvRef=\"MS\" accession=\"MS:1000511\" name=\"ms level\" value=\"" << msLevel
        << "\"/>\n"
        << "        <cvParam cvRef=\"MS\" accession=\"MS:1000130\" name=\"positive scan\"/>\n"
        << "        <cvParam cvRef=\"MS\" accession=\"MS:1000127\" name=\"centroid spectrum\"/>\n"
        << "        <scanList count=\"1\">\n          <scan>\n"
        << "            <cvParam cvRef=\"MS\" accession=\"MS:1000016\" name=\"scan start time\" value=\""
        << scan.rtMinutes << "\" unitCvRef=\"UO\" unitAccession=\"UO:0000031\" unitName=\"minute\"/>\n"
        << "            <scanWindowList count=\"1\">\n              <scanWindow>\n"
        << "                <cvParam cvRef=\"MS\" accession=\"MS:1000501\" name=\"scan window lower limit\" "
           "value=\"100\"/>\n"
        << "                <cvParam cvRef=\"MS\" accession=\"MS:1000500\" name=\"scan window upper limit\" "
           "value=\"2000\"/>\n"
        << "              </scanWindow>\n            </scanWindowList>\n          </scan>\n        "
           "</scanList>\n";
    if (msLevel == 2) {
        out << "        <precursorList count=\"1\">\n          <precursor>\n";
        if (!scan.setMass.empty()) {
            out << "            <isolationWindow>\n"
                << "              <cvParam cvRef=\"MS\" accession=\"MS:1000827\" name=\"isolation window "
                   "target m/z\" value=\""
                << scan.setMass << "\"/>\n            </isolationWindow>\n";
        }
        const bool cid = scan.activation == "CID";
        out << "            <activation>\n              <cvParam cvRef=\"MS\" accession=\""
            << (cid ? "MS:1000133\" name=\"collision-induced dissociation"
                    : "MS:1000422\" name=\"beam-type collision-induced dissociation")
            << "\"/>\n            </activation>\n          </precursor>\n        </precursorList>\n";
    }
    out << "        <binaryDataArrayList count=\"2\">\n";
    if (scan.undecodable) {
        const std::string garbage = EncodeBase64("this is not zlib data", 21);
        WriteArray(out, garbage, true, true, true);
        WriteArray(out, garbage, false, true, false);
    } else {
        WriteArray(out, EncodeBase64(scan.masses.data(), scan.masses.size() * sizeof(double)), true, false,
                   true);
        WriteArray(out, EncodeBase64(scan.intensities.data(), scan.intensities.size() * sizeof(float)), false,
                   false, false);
    }
    out << "        </binaryDataArrayList>\n      </spectrum>\n";
}

} // namespace

TestScan SurveyScan(double rtMinutes, std::vector<double> masses, std::vector<float> intensities) {
    TestScan scan;
    scan.function = 1;
    scan.rtMinutes = rtMinutes;
    scan.masses = std::move(masses);
    scan.intensities = std::move(intensities);
    return scan;
}

TestScan MsmsScan(int function, double rtMinutes, std::string setMass, std::string activation) {
    TestScan scan;
    scan.function = function;
    scan.rtMinutes = rtMinutes;
    scan.setMass = std::move(setMass);
    scan.activation = std::move(activation);
    scan.masses = {150.0, 250.0};
    scan.intensities = {10.0f, 20.0f};
    return scan;
}

void WriteMzml(const std::filesystem::path& path, const std::vector<TestScan>& scans) {
    std::ostringstream out;
    out.precision(10);
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        << "<mzML xmlns=\"http://psi.hupo.org/ms/mzml\" version=\"1.1.0\">\n"
        << "  <cvList count=\"2\">\n    <cv id=\"MS\" fullName=\"PSI-MS\"/>\n    <cv id=\"UO\" "
           "fullName=\"Unit Ontology\"/>\n  </cvList>\n"
        << "  <run id=\"test\">\n    <spectrumList count=\"" << scans.size() << "\">\n";
    std::map<int, int> scansPerFunction;
    for (std::size_t i = 0; i < scans.size(); ++i) {
        WriteSpectrum(out, static_cast<int>(i), ++scansPerFunction[scans[i].function], scans[i]);
    }
    out << "    </spectrumList>\n  </run>\n</mzML>\n";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}
