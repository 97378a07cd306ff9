// SPDX-License-Identifier: GPL-3.0-or-later
#include "ManySpectra.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <zlib.h>

#include "rawdata/BinaryDecode.h"

namespace {

using varnex::rawdata::EncodeBase64;

std::string Arrays(const std::string& masses, const std::string& intensities) {
    const auto array = [](const std::string& encoded, const char* precision, const char* kind) {
        return "<binaryDataArray encodedLength=\"" + std::to_string(encoded.size()) +
               "\"><cvParam cvRef=\"MS\" accession=\"" + precision +
               "\"/><cvParam cvRef=\"MS\" accession=\"MS:1000576\" name=\"no compression\"/>"
               "<cvParam cvRef=\"MS\" accession=\"" +
               kind + "\"/><binary>" + encoded + "</binary></binaryDataArray>";
    };
    return "<binaryDataArrayList count=\"2\">" + array(masses, "MS:1000523", "MS:1000514") +
           array(intensities, "MS:1000521", "MS:1000515") + "</binaryDataArrayList>";
}

} // namespace

bool WriteManySpectraDataSet(const std::string& path, long long spectra) {
    gzFile out = gzopen(path.c_str(), "wb1");
    if (out == nullptr) {
        return false;
    }
    // Survey scan: a +2 envelope at 500.27 among a few lone peaks; the set masses walk across it.
    const std::vector<double> surveyMasses = {300.1,    420.2,    500.27, 500.7716,
                                              501.2732, 501.7748, 650.3,  900.4};
    const std::vector<float> surveyHeights = {2e4f, 3e4f, 1e6f, 8e5f, 4e5f, 1.5e5f, 5e4f, 1e4f};
    const std::string survey =
        Arrays(EncodeBase64(surveyMasses.data(), surveyMasses.size() * sizeof(double)),
               EncodeBase64(surveyHeights.data(), surveyHeights.size() * sizeof(float)));
    const std::string empty = Arrays("", "");
    gzprintf(out,
             "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<mzML xmlns=\"http://psi.hupo.org/ms/mzml\" "
             "version=\"1.1.0\"><cvList count=\"1\"><cv id=\"MS\" fullName=\"PSI-MS\"/></cvList>"
             "<run id=\"many\"><spectrumList count=\"%lld\">\n",
             spectra);
    for (long long i = 0; i < spectra; ++i) {
        const long long cycle = i / 11;
        const int slot = static_cast<int>(i % 11);
        const double rtMinutes = (static_cast<double>(cycle) + slot * 0.08) / 60.0;
        std::string spectrum = "<spectrum index=\"" + std::to_string(i) +
                               "\" id=\"scan=" + std::to_string(i + 1) + "\" defaultArrayLength=\"" +
                               (slot == 0 ? "8" : "0") + "\">";
        spectrum += "<cvParam cvRef=\"MS\" accession=\"MS:1000511\" name=\"ms level\" value=\"";
        spectrum += slot == 0 ? "1" : "2";
        // Each spectrum states its total ion current, as converters write it.
        spectrum += slot == 0
                        ? "\"/><cvParam cvRef=\"MS\" accession=\"MS:1000285\" name=\"total ion current\" "
                          "value=\"2.96e6\"/>"
                        : "\"/><cvParam cvRef=\"MS\" accession=\"MS:1000285\" name=\"total ion current\" "
                          "value=\"0\"/>";
        spectrum += "<cvParam cvRef=\"MS\" accession=\"MS:1000127\" name=\"centroid spectrum\"/>"
                    "<scanList count=\"1\"><scan><cvParam cvRef=\"MS\" accession=\"MS:1000016\" "
                    "name=\"scan start time\" value=\"";
        char number[32];
        std::snprintf(number, sizeof number, "%.6f", rtMinutes);
        spectrum += number;
        spectrum +=
            "\" unitCvRef=\"UO\" unitAccession=\"UO:0000031\" unitName=\"minute\"/></scan></scanList>";
        if (slot == 0) {
            spectrum += survey;
        } else {
            // Ten set masses per cycle, different from the cycle before's, so every scan is a switch.
            std::snprintf(number, sizeof number, "%.4f",
                          400.0 + slot * 20.0 + static_cast<double>(cycle % 97) * 0.01);
            spectrum += "<precursorList count=\"1\"><precursor><isolationWindow><cvParam cvRef=\"MS\" "
                        "accession=\"MS:1000827\" name=\"isolation window target m/z\" value=\"";
            spectrum += number;
            spectrum += "\"/></isolationWindow><activation><cvParam cvRef=\"MS\" accession=\"MS:1000422\" "
                        "name=\"beam-type collision-induced dissociation\"/></activation></precursor>"
                        "</precursorList>";
            spectrum += empty;
        }
        spectrum += "</spectrum>\n";
        if (gzwrite(out, spectrum.data(), static_cast<unsigned>(spectrum.size())) <= 0) {
            gzclose(out);
            return false;
        }
    }
    gzputs(out, "</spectrumList></run></mzML>\n");
    return gzclose(out) == Z_OK;
}
