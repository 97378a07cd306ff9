// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// XML fragments of one spectrum: the header (everything before the arrays) into a ScanInfo, and the
// whole spectrum into its arrays. Fragments are parsed in place with pugixml, which expands no DTD
// entities; nothing here reads beyond the fragment given.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "rawdata/MsRun.h"

namespace varnex::rawdata {

// A controlled-vocabulary parameter, its accession packed into one number (see AccessionKey).
struct CvParam {
    int accession = 0;
    std::string value;
    int unitAccession = 0;
    std::string unitName;
};

// <referenceableParamGroup> definitions of an mzML file by id.
struct ParamGroups {
    std::unordered_map<std::string, std::vector<CvParam>> groups;
};

// Most cvParams (group references counted with their params) read for one spectrum: real spectra have
// a few dozen.
inline constexpr std::size_t kMaxParamsPerSpectrum = 4096;

// "MS:1000511" -> 1000511, "UO:0000031" -> kUnitOntology + 31; 0 for anything else.
inline constexpr int kUnitOntology = 100000000;
int AccessionKey(const char* accession);

// Reads the <referenceableParamGroupList> element text (a complete element) into `groups`, keeping of
// each group only what the spectrum readers act on.
void ParseParamGroups(std::string& xml, ParamGroups& groups);

// Header fragments. `fragment` holds the start tag and the header children, closed by the caller; it
// is modified in place. The spectrum's id goes to `nativeId` (mzXML: "scan=<num>"). False when it is
// not well-formed.
bool ParseMzmlHeader(std::string& fragment, const ParamGroups& groups, ScanInfo& info, std::string& nativeId);
bool ParseMzxmlHeader(std::string& fragment, bool defaultCentroid, ScanInfo& info, std::string& nativeId);

// Whole spectrum element text (mzXML: from <scan> to </peaks>, closed by the caller); false when the
// arrays cannot be decoded.
bool DecodeMzmlSpectrum(std::string& text, const ParamGroups& groups, Spectrum& out);
bool DecodeMzxmlSpectrum(std::string& text, Spectrum& out);

// The method line of a function from its first spectrum, e.g. "MS2 HCD 100-2000 +".
std::string DescribeFunction(const ScanInfo& first);

} // namespace varnex::rawdata
