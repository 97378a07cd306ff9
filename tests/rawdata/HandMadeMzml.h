// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small mzML documents written by hand for the tests: encoded arrays of every kind we read, and
// spectra that can be damaged on purpose.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <MSNumpress.hpp>
#include <zlib.h>

namespace rawtest {

inline std::string Base64(const std::vector<unsigned char>& bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = bytes[i] << 16;
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], '='};
    }
    return out;
}

inline std::vector<unsigned char> Zlib(const std::vector<unsigned char>& bytes) {
    uLongf size = compressBound(bytes.size());
    std::vector<unsigned char> out(size);
    compress2(out.data(), &size, bytes.data(), bytes.size(), 6);
    out.resize(size);
    return out;
}

template <typename T> std::vector<unsigned char> RawBytes(const std::vector<double>& values) {
    std::vector<unsigned char> out(values.size() * sizeof(T));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const T v = static_cast<T>(values[i]);
        std::memcpy(out.data() + i * sizeof(T), &v, sizeof(T));
    }
    return out;
}

struct EncodedArray {
    std::string params; // cvParams (or group references) naming precision and compression
    std::string base64;
};

enum class Encoding { Float64, Float32, Int32, Float64Zlib, Linear, Pic, Slof, LinearZlib };

inline EncodedArray Encode(const std::vector<double>& values, Encoding encoding) {
    namespace np = ms::numpress::MSNumpress;
    auto param = [](const char* accession) {
        return std::string("<cvParam cvRef=\"MS\" accession=\"") + accession + "\" name=\"x\"/>";
    };
    std::vector<unsigned char> bytes;
    switch (encoding) {
    case Encoding::Float64:
        return {param("MS:1000523") + param("MS:1000576"), Base64(RawBytes<double>(values))};
    case Encoding::Float32:
        return {param("MS:1000521") + param("MS:1000576"), Base64(RawBytes<float>(values))};
    case Encoding::Int32:
        return {param("MS:1000519") + param("MS:1000576"), Base64(RawBytes<std::int32_t>(values))};
    case Encoding::Float64Zlib:
        return {param("MS:1000523") + param("MS:1000574"), Base64(Zlib(RawBytes<double>(values)))};
    case Encoding::Linear:
        np::encodeLinear(values, bytes, np::optimalLinearFixedPoint(values.data(), values.size()));
        return {param("MS:1000523") + param("MS:1002312"), Base64(bytes)};
    case Encoding::Pic:
        np::encodePic(values, bytes);
        return {param("MS:1000523") + param("MS:1002313"), Base64(bytes)};
    case Encoding::Slof:
        np::encodeSlof(values, bytes, np::optimalSlofFixedPoint(values.data(), values.size()));
        return {param("MS:1000523") + param("MS:1002314"), Base64(bytes)};
    case Encoding::LinearZlib:
        np::encodeLinear(values, bytes, np::optimalLinearFixedPoint(values.data(), values.size()));
        return {param("MS:1000523") + param("MS:1002746"), Base64(Zlib(bytes))};
    }
    return {};
}

struct HandSpectrum {
    std::string id;
    int msLevel = 1;
    std::string rtParam; // the whole scan start time cvParam
    double isolationTarget = 0.0;
    EncodedArray mz;
    EncodedArray intensity;
    std::size_t declaredLength = 0;
    std::string extraHeader;      // cvParams or group references on the spectrum
    EncodedArray inverseMobility; // a third array, written when it holds data
};

inline std::string RtParam(const std::string& value, const std::string& unit) {
    const std::string accession = unit == "second" ? "UO:0000010" : "UO:0000031";
    return "<cvParam cvRef=\"MS\" accession=\"MS:1000016\" name=\"scan start time\" value=\"" + value +
           "\" unitCvRef=\"UO\" unitAccession=\"" + accession + "\" unitName=\"" + unit + "\"/>";
}

inline std::string SpectrumXml(const HandSpectrum& s, std::size_t index) {
    std::string xml = "<spectrum index=\"" + std::to_string(index) + "\" id=\"" + s.id +
                      "\" defaultArrayLength=\"" + std::to_string(s.declaredLength) + "\">\n";
    xml += "<cvParam cvRef=\"MS\" accession=\"MS:1000511\" name=\"ms level\" value=\"" +
           std::to_string(s.msLevel) + "\"/>\n" + s.extraHeader + "\n";
    xml += "<scanList count=\"1\"><scan>" + s.rtParam + "</scan></scanList>\n";
    if (s.msLevel > 1) {
        xml += "<precursorList count=\"1\"><precursor><isolationWindow><cvParam cvRef=\"MS\" "
               "accession=\"MS:1000827\" "
               "name=\"isolation window target m/z\" value=\"" +
               std::to_string(s.isolationTarget) + "\"/></isolationWindow></precursor></precursorList>\n";
    }
    xml += "<binaryDataArrayList count=\"2\">\n<binaryDataArray encodedLength=\"" +
           std::to_string(s.mz.base64.size()) + "\">" + s.mz.params +
           "<cvParam cvRef=\"MS\" accession=\"MS:1000514\" name=\"m/z array\"/><binary>" + s.mz.base64 +
           "</binary></binaryDataArray>\n";
    xml += "<binaryDataArray encodedLength=\"" + std::to_string(s.intensity.base64.size()) + "\">" +
           s.intensity.params +
           "<cvParam cvRef=\"MS\" accession=\"MS:1000515\" name=\"intensity array\"/><binary>" +
           s.intensity.base64 + "</binary></binaryDataArray>\n";
    if (!s.inverseMobility.base64.empty()) {
        xml += "<binaryDataArray encodedLength=\"" + std::to_string(s.inverseMobility.base64.size()) + "\">" +
               s.inverseMobility.params +
               "<cvParam cvRef=\"MS\" accession=\"MS:1003006\" name=\"mean inverse reduced ion mobility "
               "array\"/><binary>" +
               s.inverseMobility.base64 + "</binary></binaryDataArray>\n";
    }
    xml += "</binaryDataArrayList>\n</spectrum>\n";
    return xml;
}

// A non-indexed mzML document; `preamble` goes before <run> (e.g. a referenceableParamGroupList).
inline std::string MzmlDocument(const std::vector<HandSpectrum>& spectra, const std::string& preamble = {}) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<mzML xmlns=\"http://psi.hupo.org/ms/mzml\" "
        "version=\"1.1.0\">\n" +
        preamble + "\n<run id=\"hand\">\n<spectrumList count=\"" + std::to_string(spectra.size()) + "\">\n";
    for (std::size_t i = 0; i < spectra.size(); ++i) {
        xml += SpectrumXml(spectra[i], i);
    }
    return xml + "</spectrumList>\n</run>\n</mzML>\n";
}

} // namespace rawtest
