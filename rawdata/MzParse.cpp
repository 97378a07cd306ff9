// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawdata/MzParse.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "rawdata/BinaryDecode.h"

namespace varnex::rawdata {
namespace {

// Accessions used below (PSI-MS unless noted).
enum : int {
    kMsLevel = 1000511,
    kMs1Spectrum = 1000579,
    kMsnSpectrum = 1000580,
    kCentroid = 1000127,
    kProfile = 1000128,
    kPositive = 1000130,
    kNegative = 1000129,
    kTotalIonCurrent = 1000285,
    kScanStartTime = 1000016,
    kWindowLower = 1000501,
    kWindowUpper = 1000500,
    kIsolationTarget = 1000827,
    kSelectedIonMz = 1000744,
    kMzLegacy = 1000040,
    kChargeState = 1000041,
    kFloat32 = 1000521,
    kFloat64 = 1000523,
    kInt32 = 1000519,
    kInt64 = 1000522,
    kZlib = 1000574,
    kNumpressLinear = 1002312,
    kNumpressPic = 1002313,
    kNumpressSlof = 1002314,
    kNumpressLinearZlib = 1002746,
    kNumpressPicZlib = 1002747,
    kNumpressSlofZlib = 1002748,
    kMzArray = 1000514,
    kIntensityArray = 1000515,
    kMeanInverseMobilityArray = 1003006,
    kRawInverseMobilityArray = 1003008,
    kInverseMobility = 1002815,
    kUnitSecond = kUnitOntology + 10,
    kUnitMinute = kUnitOntology + 31,
    kUnitHour = kUnitOntology + 32,
};

constexpr unsigned kParseFlags = pugi::parse_minimal | pugi::parse_escapes;

// Activation types as bits; the method line names the combination.
enum ActivationBit : unsigned {
    kActHcd = 1u << 0,
    kActCid = 1u << 1,
    kActEtd = 1u << 2,
    kActEcd = 1u << 3,
    kActPqd = 1u << 4,
    kActIrmpd = 1u << 5,
    kActUvpd = 1u << 6,
    kActPd = 1u << 7,
    kActSid = 1u << 8,
    kActSupplementalHcd = 1u << 9,
    kActSupplementalCid = 1u << 10,
    kActEthcd = 1u << 11,
};

unsigned ActivationOf(int accession) {
    switch (accession) {
    case 1000422:
    case 1002481:
        return kActHcd;
    case 1000133:
    case 1002472:
    case 1001880:
        return kActCid;
    case 1000598:
        return kActEtd;
    case 1000250:
        return kActEcd;
    case 1000599:
        return kActPqd;
    case 1000262:
        return kActIrmpd;
    case 1003246:
        return kActUvpd;
    case 1000435:
        return kActPd;
    case 1000136:
        return kActSid;
    case 1002678:
        return kActSupplementalHcd;
    case 1002679:
        return kActSupplementalCid;
    case 1002631:
        return kActEthcd;
    default:
        return 0;
    }
}

// Whether any reader below acts on `accession`; the rest are dropped from param groups.
bool UsedAccession(int accession) {
    switch (accession) {
    case kMsLevel:
    case kMs1Spectrum:
    case kMsnSpectrum:
    case kCentroid:
    case kProfile:
    case kPositive:
    case kNegative:
    case kTotalIonCurrent:
    case kScanStartTime:
    case kWindowLower:
    case kWindowUpper:
    case kIsolationTarget:
    case kSelectedIonMz:
    case kMzLegacy:
    case kChargeState:
    case kFloat32:
    case kFloat64:
    case kInt32:
    case kInt64:
    case kZlib:
    case kNumpressLinear:
    case kNumpressPic:
    case kNumpressSlof:
    case kNumpressLinearZlib:
    case kNumpressPicZlib:
    case kNumpressSlofZlib:
    case kMzArray:
    case kIntensityArray:
        return true;
    default:
        return ActivationOf(accession) != 0;
    }
}

std::string ActivationName(unsigned bits) {
    if ((bits & kActEthcd) || ((bits & kActEtd) && (bits & (kActHcd | kActSupplementalHcd)))) {
        return "EThcD";
    }
    if ((bits & kActEtd) && (bits & (kActCid | kActSupplementalCid))) {
        return "ETciD";
    }
    static const std::pair<unsigned, const char*> names[] = {
        {kActHcd, "HCD"},
        {kActCid, "CID"},
        {kActEtd, "ETD"},
        {kActEcd, "ECD"},
        {kActPqd, "PQD"},
        {kActIrmpd, "IRMPD"},
        {kActUvpd, "UVPD"},
        {kActPd, "PD"},
        {kActSid, "SID"},
        {kActSupplementalHcd, "HCD"},
        {kActSupplementalCid, "CID"},
    };
    for (const auto& [bit, name] : names) {
        if (bits & bit) {
            return name;
        }
    }
    return {};
}

bool ParseNumber(const char* text, double& value) {
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '+') {
        ++text;
    }
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc{} && result.ptr != text;
}

double NumberOr(const char* text, double fallback) {
    double value = 0.0;
    return ParseNumber(text, value) ? value : fallback;
}

int ChargeFrom(const char* text) {
    double value = 0.0;
    if (!ParseNumber(text, value) || !std::isfinite(value) || std::fabs(value) > 100.0) {
        return 0;
    }
    return static_cast<int>(value);
}

// Whether the NUL-terminated `name` is `expected`: compared inline, since every cvParam of every header
// has several attribute names to tell apart, and a library call for each was a few percent of a build.
bool IsName(const char* name, std::string_view expected) {
    for (const char c : expected) {
        if (*name++ != c) {
            return false;
        }
    }
    return *name == '\0';
}

int LevelFrom(const char* text) {
    double value = 0.0;
    if (!ParseNumber(text, value) || !(value >= 1.0 && value <= 100.0)) {
        return 0;
    }
    return static_cast<int>(value);
}

double MinutesFrom(double value, int unitAccession, const char* unitName) {
    if (unitAccession == kUnitMinute || std::strcmp(unitName, "minute") == 0) {
        return value;
    }
    if (unitAccession == kUnitHour || std::strcmp(unitName, "hour") == 0) {
        return value * 60.0;
    }
    return value / 60.0; // seconds, also when the unit is missing
}

// The attributes of a cvParam we read, found in one walk over its attributes (looking each up by name
// walks them again for every name); the first of a name counts, as with a look-up.
struct ParamText {
    const char* accession = nullptr;
    const char* value = nullptr;
    const char* unitAccession = nullptr;
    const char* unitName = nullptr;

    explicit ParamText(const pugi::xml_node& param) {
        for (pugi::xml_attribute a = param.first_attribute(); a; a = a.next_attribute()) {
            const char* name = a.name();
            const char** target = nullptr;
            // cvRef and name, present on every param, are passed over by their first letter.
            if (IsName(name, "accession")) {
                target = &accession;
            } else if (IsName(name, "value")) {
                target = &value;
            } else if (IsName(name, "unitAccession")) {
                target = &unitAccession;
            } else if (IsName(name, "unitName")) {
                target = &unitName;
            }
            if (target && !*target) {
                *target = a.value();
            }
        }
        for (const char** text : {&accession, &value, &unitAccession, &unitName}) {
            if (!*text) {
                *text = "";
            }
        }
    }
};

// Visits the cvParams of elements, including those of the referenceable param groups they refer to, with
// one budget for a whole spectrum: a real one has a few dozen, so a spectrum past the budget is damaged,
// however its params are spread over elements and group references.
class ParamVisitor {
public:
    explicit ParamVisitor(const ParamGroups& groups) : groups_(groups) {}

    bool Exhausted() const { return overrun_; }

    // Calls `visit(accession, value, unitAccession, unitName)` for every cvParam of `element`.
    template <typename Visit> void ForEach(const pugi::xml_node& element, Visit&& visit) {
        for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
            const char* name = child.name();
            if (IsName(name, "cvParam")) {
                if (!Take(1)) {
                    return;
                }
                const ParamText text(child);
                visit(AccessionKey(text.accession), text.value, AccessionKey(text.unitAccession),
                      text.unitName);
            } else if (IsName(name, "referenceableParamGroupRef")) {
                const auto it = groups_.groups.find(child.attribute("ref").value());
                if (it == groups_.groups.end()) {
                    continue;
                }
                if (!Take(it->second.size() + 1)) {
                    return;
                }
                for (const CvParam& p : it->second) {
                    visit(p.accession, p.value.c_str(), p.unitAccession, p.unitName.c_str());
                }
            }
        }
    }

private:
    bool Take(std::size_t count) {
        if (count > left_) {
            left_ = 0;
            overrun_ = true;
            return false;
        }
        left_ -= count;
        return true;
    }

    const ParamGroups& groups_;
    std::size_t left_ = kMaxParamsPerSpectrum;
    bool overrun_ = false;
};

// The first descendant element of `root` named `name`, depth first; null when none.
pugi::xml_node FirstDescendant(const pugi::xml_node& root, std::string_view name) {
    for (pugi::xml_node n = root.first_child(); n;) {
        if (n.type() == pugi::node_element && IsName(n.name(), name)) {
            return n;
        }
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && !n.next_sibling() && n != root) {
            n = n.parent();
        }
        if (!n || n == root) {
            break;
        }
        n = n.next_sibling();
    }
    return {};
}

pugi::xml_document& ThreadDocument() {
    thread_local pugi::xml_document document;
    return document;
}

// Parses one element's text in place into this thread's document. Returns that element when it is a
// `name` element; an empty node when the text does not parse or holds something else.
pugi::xml_node ParseElement(std::string& text, const char* name) {
    pugi::xml_document& document = ThreadDocument();
    if (!document.load_buffer_inplace(text.data(), text.size(), kParseFlags, pugi::encoding_utf8)) {
        return {};
    }
    const pugi::xml_node element = document.first_child();
    return std::strcmp(element.name(), name) == 0 ? element : pugi::xml_node{};
}

// The base64 of a spectrum's arrays, most of its bytes, cut out of its text so that the XML parser need
// not walk it: `markup` gets the text with the content of each <binary> element replaced by "#k", k the
// index of that content in `payloads`. The content is taken as it stands, which is what the parser would
// give for text without entities or markup. False, with nothing cut, when some <binary> element carries
// attributes or holds anything but such text; the whole text is then parsed as it is.
bool CutPayloads(std::string_view text, std::string& markup, std::vector<std::string_view>& payloads) {
    constexpr std::string_view kOpen = "<binary";
    constexpr std::string_view kClose = "</binary>";
    markup.clear();
    payloads.clear();
    std::size_t copied = 0;
    for (std::size_t at = text.find(kOpen); at != std::string_view::npos; at = text.find(kOpen, at + 1)) {
        const std::size_t afterName = at + kOpen.size();
        if (afterName < text.size() && text[afterName] != '>') {
            if (text[afterName] == '/' || text.compare(afterName, 4, "Data") == 0) {
                continue; // empty, or a <binaryDataArray...> element
            }
            return false;
        }
        const std::size_t begin = afterName + 1;
        const std::size_t end = text.find('<', begin);
        if (end == std::string_view::npos || text.compare(end, kClose.size(), kClose) != 0 ||
            text.substr(begin, end - begin).find('&') != std::string_view::npos) {
            return false;
        }
        markup.append(text.substr(copied, begin - copied));
        markup += '#';
        markup += std::to_string(payloads.size());
        payloads.push_back(text.substr(begin, end - begin));
        copied = end;
        at = end;
    }
    markup.append(text.substr(copied));
    return true;
}

// The base64 text of a <binary> element's content as the parser gives it: the cut payload its marker
// names when payloads were cut (see CutPayloads).
std::string_view BinaryText(const char* content, bool cut, const std::vector<std::string_view>& payloads) {
    if (!cut) {
        return content;
    }
    std::size_t index = 0;
    const char* const end = content + std::strlen(content);
    if (*content != '#' || std::from_chars(content + 1, end, index).ptr != end || index >= payloads.size()) {
        return content;
    }
    return payloads[index];
}

// The number of values an array may hold: its declaration when there is one (`fallback` when not).
// False when the declaration is beyond any real spectrum.
bool DeclaredLength(const pugi::xml_attribute& attribute, std::size_t fallback, std::size_t& length) {
    length = fallback;
    if (!attribute) {
        return true;
    }
    double value = 0.0;
    if (!ParseNumber(attribute.value(), value) || !(value >= 0.0)) {
        return true;
    }
    if (value > static_cast<double>(kMaxArrayPoints)) {
        return false;
    }
    length = static_cast<std::size_t>(value);
    return true;
}

// Drops points without a finite mass and sorts by mass when the file does not. A mobility array that
// does not match the points is dropped: the spectrum stays usable without it.
void Normalize(Spectrum& spectrum) {
    std::vector<double>& mz = spectrum.mz;
    std::vector<double>& intensity = spectrum.intensity;
    std::vector<double>& mobility = spectrum.inverseMobility;
    const std::size_t n = std::min(mz.size(), intensity.size());
    mz.resize(n);
    intensity.resize(n);
    if (mobility.size() != n) {
        mobility.clear();
    }
    const bool allFinite = std::all_of(mz.begin(), mz.end(), [](double m) { return std::isfinite(m); });
    if (allFinite && std::is_sorted(mz.begin(), mz.end())) {
        return;
    }
    std::vector<std::size_t> order;
    order.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (std::isfinite(mz[i])) {
            order.push_back(i);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return mz[a] < mz[b]; });
    const auto permute = [&order](std::vector<double>& values) {
        if (values.empty()) {
            return;
        }
        std::vector<double> sorted(order.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            sorted[i] = values[order[i]];
        }
        values = std::move(sorted);
    };
    permute(mz);
    permute(intensity);
    permute(mobility);
}

// Parses "PT4200.76S"-style durations (also bare numbers of seconds) into minutes.
bool DurationMinutes(const char* text, double& minutes) {
    double seconds = 0.0;
    const char* p = text;
    while (*p == ' ') {
        ++p;
    }
    if (*p != 'P') {
        double value = 0.0;
        if (!ParseNumber(p, value)) {
            return false;
        }
        minutes = value / 60.0;
        return true;
    }
    ++p;
    bool inTime = false;
    bool any = false;
    const char* end = p + std::strlen(p);
    while (p < end) {
        if (*p == 'T') {
            inTime = true;
            ++p;
            continue;
        }
        double value = 0.0;
        const auto result = std::from_chars(p, end, value);
        if (result.ec != std::errc{} || result.ptr == end) {
            return false;
        }
        p = result.ptr;
        const char unit = *p++;
        if (unit == 'D' && !inTime) {
            seconds += value * 86400.0;
        } else if (unit == 'H' && inTime) {
            seconds += value * 3600.0;
        } else if (unit == 'M' && inTime) {
            seconds += value * 60.0;
        } else if (unit == 'S' && inTime) {
            seconds += value;
        } else {
            return false;
        }
        any = true;
    }
    minutes = seconds / 60.0;
    return any;
}

std::string FormatMz(double value) {
    char buffer[64];
    if (std::fabs(value - std::round(value)) < 1e-6) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
        return buffer;
    }
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    std::string text = buffer;
    while (!text.empty() && text.back() == '0') {
        text.pop_back();
    }
    return text;
}

} // namespace

int AccessionKey(const char* accession) {
    int base = 0;
    if (std::strncmp(accession, "MS:", 3) == 0) {
        base = 0;
    } else if (std::strncmp(accession, "UO:", 3) == 0) {
        base = kUnitOntology;
    } else {
        return 0;
    }
    int number = 0;
    const char* end = accession + std::strlen(accession);
    const auto result = std::from_chars(accession + 3, end, number);
    if (result.ec != std::errc{} || result.ptr != end || number < 0 || number >= kUnitOntology) {
        return 0;
    }
    return base + number;
}

void ParseParamGroups(std::string& xml, ParamGroups& groups) {
    pugi::xml_document document;
    if (!document.load_buffer_inplace(xml.data(), xml.size(), kParseFlags, pugi::encoding_utf8)) {
        return;
    }
    for (pugi::xml_node group : document.first_child().children("referenceableParamGroup")) {
        std::vector<CvParam>& params = groups.groups[group.attribute("id").value()];
        // Only params we act on, and of each accession only its first and last occurrence: every
        // reader takes the last value (or the first, for a fallback), so the group reads the same, but
        // a reference to it costs a few visits however many params it was written with.
        std::vector<pugi::xml_node> kept;
        std::unordered_map<int, std::pair<std::size_t, std::size_t>> seen; // first and last index in kept
        for (pugi::xml_node param : group.children("cvParam")) {
            const int accession = AccessionKey(param.attribute("accession").value());
            if (!UsedAccession(accession)) {
                continue;
            }
            const auto [it, first] = seen.try_emplace(accession, kept.size(), kept.size());
            if (!first) {
                if (it->second.second != it->second.first) {
                    kept[it->second.second] = pugi::xml_node(); // an occurrence in between
                }
                it->second.second = kept.size();
            }
            kept.push_back(param);
        }
        for (const pugi::xml_node param : kept) {
            if (param) {
                const ParamText text(param);
                params.push_back({AccessionKey(text.accession), text.value, AccessionKey(text.unitAccession),
                                  text.unitName});
            }
        }
    }
}

bool ParseMzmlHeader(std::string& fragment, const ParamGroups& groups, ScanInfo& info,
                     std::string& nativeId) {
    const pugi::xml_node spectrum = ParseElement(fragment, "spectrum");
    if (!spectrum) {
        return false;
    }
    nativeId = spectrum.attribute("id").value();
    ParamVisitor params(groups);
    int level = 0;
    int levelHint = 0;
    auto spectrumParam = [&](int accession, const char* value, int, const char*) {
        switch (accession) {
        case kMsLevel:
            level = LevelFrom(value);
            break;
        case kMs1Spectrum:
            levelHint = 1;
            break;
        case kMsnSpectrum:
            levelHint = 2;
            break;
        case kCentroid:
            info.centroid = true;
            break;
        case kProfile:
            info.centroid = false;
            break;
        case kPositive:
            info.polarity = Polarity::Positive;
            break;
        case kNegative:
            info.polarity = Polarity::Negative;
            break;
        case kTotalIonCurrent:
            info.hasTic = ParseNumber(value, info.tic);
            break;
        default:
            break;
        }
    };
    params.ForEach(spectrum, spectrumParam);
    // mzML 1.0 keeps these one level down.
    if (const pugi::xml_node description = spectrum.child("spectrumDescription")) {
        params.ForEach(description, spectrumParam);
    }
    // The isolation window in ion mobility: written by converters as user parameters on the spectrum;
    // else the precursor's mobility alone, on its scan or selected ion.
    double mobilityCentre = 0.0;
    for (pugi::xml_node param : spectrum.children("userParam")) {
        const std::string_view name = param.attribute("name").value();
        if (name == "ion mobility lower limit") {
            info.mobilityLow = NumberOr(param.attribute("value").value(), 0.0);
        } else if (name == "ion mobility upper limit") {
            info.mobilityHigh = NumberOr(param.attribute("value").value(), 0.0);
        }
    }
    if (const pugi::xml_node scan = FirstDescendant(spectrum, "scan")) {
        params.ForEach(scan, [&](int accession, const char* value, int unit, const char* unitName) {
            if (accession == kScanStartTime) {
                info.rtMinutes = MinutesFrom(NumberOr(value, 0.0), unit, unitName);
            } else if (accession == kInverseMobility) {
                mobilityCentre = NumberOr(value, 0.0);
            } else {
                spectrumParam(accession, value, unit, unitName);
            }
        });
        pugi::xml_node window = FirstDescendant(scan, "scanWindow");
        if (!window) {
            window = FirstDescendant(scan, "selectionWindow");
        }
        params.ForEach(window, [&](int accession, const char* value, int, const char*) {
            if (accession == kWindowLower) {
                info.scanLowMz = NumberOr(value, 0.0);
            } else if (accession == kWindowUpper) {
                info.scanHighMz = NumberOr(value, 0.0);
            }
        });
    }
    const pugi::xml_node precursor = FirstDescendant(spectrum, "precursor");
    if (precursor) {
        params.ForEach(precursor.child("isolationWindow"),
                       [&](int accession, const char* value, int, const char*) {
                           if (accession == kIsolationTarget) {
                               info.isolationTargetMz = NumberOr(value, 0.0);
                           }
                       });
        pugi::xml_node ion = FirstDescendant(precursor, "selectedIon");
        if (!ion) {
            ion = precursor.child("ionSelection");
        }
        params.ForEach(ion, [&](int accession, const char* value, int, const char*) {
            if (accession == kSelectedIonMz || (accession == kMzLegacy && info.selectedIonMz == 0.0)) {
                info.selectedIonMz = NumberOr(value, 0.0);
            } else if (accession == kChargeState) {
                info.charge = ChargeFrom(value);
            } else if (accession == kInverseMobility) {
                mobilityCentre = NumberOr(value, 0.0);
            }
        });
        unsigned activation = 0;
        params.ForEach(precursor.child("activation"), [&](int accession, const char*, int, const char*) {
            activation |= ActivationOf(accession);
        });
        info.activation = ActivationName(activation);
    }
    if (level == 0) {
        level = levelHint != 0 ? levelHint : (precursor ? 2 : 1);
    }
    info.msLevel = level;
    if (!(info.mobilityLow > 0.0 && info.mobilityHigh >= info.mobilityLow &&
          std::isfinite(info.mobilityHigh))) {
        const bool centreUsable = mobilityCentre > 0.0 && std::isfinite(mobilityCentre);
        info.mobilityLow = centreUsable ? mobilityCentre : 0.0;
        info.mobilityHigh = info.mobilityLow;
    }
    if (level < 2) {
        info.mobilityLow = 0.0;
        info.mobilityHigh = 0.0;
    }
    return !params.Exhausted();
}

bool ParseMzxmlHeader(std::string& fragment, bool defaultCentroid, ScanInfo& info, std::string& nativeId) {
    const pugi::xml_node scan = ParseElement(fragment, "scan");
    if (!scan) {
        return false;
    }
    nativeId = std::string("scan=") + scan.attribute("num").value();
    const pugi::xml_node precursor = scan.child("precursorMz");
    info.msLevel = LevelFrom(scan.attribute("msLevel").value());
    if (info.msLevel == 0) {
        info.msLevel = precursor ? 2 : 1;
    }
    const std::string_view polarity = scan.attribute("polarity").value();
    info.polarity = polarity == "+"   ? Polarity::Positive
                    : polarity == "-" ? Polarity::Negative
                                      : Polarity::Unknown;
    DurationMinutes(scan.attribute("retentionTime").value(), info.rtMinutes);
    const pugi::xml_attribute centroided = scan.attribute("centroided");
    info.centroid = centroided ? (centroided.as_int() != 0 || centroided.as_bool()) : defaultCentroid;
    // lowMz/highMz are the observed range, not the scan window; only startMz/endMz describe the method.
    info.scanLowMz = NumberOr(scan.attribute("startMz").value(), 0.0);
    info.scanHighMz = NumberOr(scan.attribute("endMz").value(), 0.0);
    if (const pugi::xml_attribute tic = scan.attribute("totIonCurrent")) {
        info.hasTic = ParseNumber(tic.value(), info.tic);
    }
    if (precursor) {
        info.selectedIonMz = NumberOr(precursor.child_value(), 0.0);
        info.charge = ChargeFrom(precursor.attribute("precursorCharge").value());
        info.activation = precursor.attribute("activationMethod").value();
        if (info.activation.size() > 16) {
            info.activation.resize(16);
        }
    }
    return true;
}

bool DecodeMzmlSpectrum(std::string& text, const ParamGroups& groups, Spectrum& out) {
    thread_local std::string markup;
    thread_local std::vector<std::string_view> payloads;
    const bool cut = CutPayloads(text, markup, payloads);
    const pugi::xml_node spectrum = ParseElement(cut ? markup : text, "spectrum");
    if (!spectrum) {
        return false;
    }
    std::size_t declared = 0;
    if (!DeclaredLength(spectrum.attribute("defaultArrayLength"), kMaxArrayPoints, declared)) {
        return false;
    }
    ParamVisitor params(groups);
    bool haveMz = false;
    bool haveIntensity = false;
    bool haveMobility = false;
    out.mz.clear();
    out.intensity.clear();
    out.inverseMobility.clear();
    for (pugi::xml_node array : spectrum.child("binaryDataArrayList").children("binaryDataArray")) {
        ArrayEncoding encoding;
        int role = 0;
        params.ForEach(array, [&](int accession, const char*, int, const char*) {
            switch (accession) {
            case kFloat32:
                encoding.bits = 32;
                encoding.integer = false;
                break;
            case kFloat64:
                encoding.bits = 64;
                encoding.integer = false;
                break;
            case kInt32:
                encoding.bits = 32;
                encoding.integer = true;
                break;
            case kInt64:
                encoding.bits = 64;
                encoding.integer = true;
                break;
            case kZlib:
                encoding.zlib = true;
                break;
            case kNumpressLinear:
            case kNumpressLinearZlib:
                encoding.numpress = Numpress::Linear;
                encoding.zlib = encoding.zlib || accession == kNumpressLinearZlib;
                break;
            case kNumpressPic:
            case kNumpressPicZlib:
                encoding.numpress = Numpress::Pic;
                encoding.zlib = encoding.zlib || accession == kNumpressPicZlib;
                break;
            case kNumpressSlof:
            case kNumpressSlofZlib:
                encoding.numpress = Numpress::Slof;
                encoding.zlib = encoding.zlib || accession == kNumpressSlofZlib;
                break;
            case kMzArray:
                role = kMzArray;
                break;
            case kIntensityArray:
                role = kIntensityArray;
                break;
            case kMeanInverseMobilityArray:
            case kRawInverseMobilityArray:
                role = kMeanInverseMobilityArray;
                break;
            default:
                break;
            }
        });
        bool* have = role == kMzArray                    ? &haveMz
                     : role == kIntensityArray           ? &haveIntensity
                     : role == kMeanInverseMobilityArray ? &haveMobility
                                                         : nullptr;
        if (have == nullptr || *have) {
            continue;
        }
        std::size_t length = 0;
        if (!DeclaredLength(array.attribute("arrayLength"), declared, length)) {
            return false;
        }
        std::vector<double>& target = role == kMzArray          ? out.mz
                                      : role == kIntensityArray ? out.intensity
                                                                : out.inverseMobility;
        if (!DecodeArray(BinaryText(array.child("binary").child_value(), cut, payloads), encoding, length,
                         target)) {
            if (role != kMeanInverseMobilityArray) {
                return false;
            }
            target.clear(); // the points stay readable without their mobilities
        }
        *have = true;
    }
    if (params.Exhausted()) {
        return false;
    }
    if (!haveMz || !haveIntensity) {
        // A spectrum without arrays is empty only when it says so.
        if (NumberOr(spectrum.attribute("defaultArrayLength").value(), 0.0) != 0.0) {
            return false;
        }
    }
    Normalize(out);
    return true;
}

bool DecodeMzxmlSpectrum(std::string& text, Spectrum& out) {
    pugi::xml_document& document = ThreadDocument();
    if (!document.load_buffer_inplace(text.data(), text.size(), kParseFlags, pugi::encoding_utf8)) {
        return false;
    }
    const pugi::xml_node peaks = document.first_child().child("peaks");
    out.mz.clear();
    out.intensity.clear();
    out.inverseMobility.clear();
    if (!peaks) {
        return NumberOr(document.first_child().attribute("peaksCount").value(), 0.0) == 0.0;
    }
    ArrayEncoding encoding;
    encoding.bits = peaks.attribute("precision").as_int(32);
    encoding.bigEndian = std::string_view(peaks.attribute("byteOrder").value()) != "little";
    encoding.zlib = std::string_view(peaks.attribute("compressionType").value()) == "zlib";
    std::size_t points = 0;
    if (!DeclaredLength(document.first_child().attribute("peaksCount"), kMaxArrayPoints, points)) {
        return false;
    }
    std::vector<double> pairs;
    if (!DecodeArray(peaks.child_value(), encoding, points * 2, pairs)) {
        return false;
    }
    const std::size_t n = pairs.size() / 2;
    out.mz.resize(n);
    out.intensity.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.mz[i] = pairs[2 * i];
        out.intensity[i] = pairs[2 * i + 1];
    }
    Normalize(out);
    return true;
}

std::string DescribeFunction(const ScanInfo& first) {
    std::string text = "MS" + std::to_string(first.msLevel);
    if (first.msLevel > 1 && !first.activation.empty()) {
        text += " " + first.activation;
    }
    if (std::isfinite(first.scanLowMz) && std::isfinite(first.scanHighMz) && first.scanHighMz > 0.0 &&
        first.scanHighMz >= first.scanLowMz) {
        text += " " + FormatMz(first.scanLowMz) + "-" + FormatMz(first.scanHighMz);
    }
    if (first.polarity != Polarity::Unknown) {
        text += first.polarity == Polarity::Positive ? " +" : " -";
    }
    return text;
}

} // namespace varnex::rawdata
