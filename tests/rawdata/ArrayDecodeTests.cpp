// SPDX-License-Identifier: GPL-3.0-or-later
// The array decoder against a plain reference (character-by-character base64, zlib's streaming inflate,
// the Numpress library with the largest buffer its format permits): identical arrays on every real file
// and on damaged text, and declared lengths that bound every codec.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <MSNumpress.hpp>
#include <gtest/gtest.h>
#include <zlib.h>

#include "rawdata/BinaryDecode.h"
#include "rawdata/HandMadeMzml.h"
#include "support/RawTestFiles.h"

using varnex::rawdata::ArrayEncoding;
using varnex::rawdata::DecodeArray;
using varnex::rawdata::kMaxArrayPoints;
using varnex::rawdata::Numpress;

namespace {

// Base64 as the format describes it, one character at a time; false on anything but the alphabet,
// whitespace and up to two trailing '='.
bool ReferenceBase64(std::string_view text, std::vector<unsigned char>& out) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.clear();
    unsigned bits = 0;
    int count = 0;
    int padding = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            continue;
        }
        if (c == '=') {
            ++padding;
            continue;
        }
        const std::size_t v = alphabet.find(c);
        if (v == std::string::npos || padding > 0) {
            return false;
        }
        bits = (bits << 6) | static_cast<unsigned>(v);
        if (++count % 4 == 0) {
            out.insert(out.end(), {static_cast<unsigned char>(bits >> 16),
                                   static_cast<unsigned char>(bits >> 8), static_cast<unsigned char>(bits)});
            bits = 0;
        }
    }
    if (count % 4 == 1 || padding > 2) {
        return false;
    }
    if (count % 4 == 2) {
        out.push_back(static_cast<unsigned char>(bits >> 4));
    } else if (count % 4 == 3) {
        out.insert(out.end(),
                   {static_cast<unsigned char>(bits >> 10), static_cast<unsigned char>(bits >> 2)});
    }
    return true;
}

bool ReferenceInflate(const std::vector<unsigned char>& in, std::vector<unsigned char>& out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    out.clear();
    unsigned char chunk[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
        if (rc == Z_BUF_ERROR || (rc == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)) {
            rc = Z_DATA_ERROR; // truncated
        }
    }
    inflateEnd(&stream);
    return rc == Z_STREAM_END;
}

bool ReferenceNumpress(std::vector<unsigned char> bytes, Numpress kind, std::vector<double>& values) {
    namespace np = ms::numpress::MSNumpress;
    const std::size_t n = bytes.size();
    values.clear();
    if (n == 0) {
        return true;
    }
    if ((kind == Numpress::Linear && (n < 8 || (n > 8 && n < 12))) || (kind == Numpress::Slof && n < 8)) {
        return false;
    }
    bytes.resize(n + 16, 0);
    values.assign(n * 2 + 2, 0.0); // the most any of the three formats yields from n bytes
    try {
        const std::size_t count = kind == Numpress::Linear ? np::decodeLinear(bytes.data(), n, values.data())
                                  : kind == Numpress::Pic  ? np::decodePic(bytes.data(), n, values.data())
                                                           : np::decodeSlof(bytes.data(), n, values.data());
        values.resize(count);
    } catch (...) {
        return false;
    }
    return true;
}

bool ReferenceDecode(std::string_view text, const ArrayEncoding& encoding, std::vector<double>& values) {
    std::vector<unsigned char> bytes;
    values.clear();
    if (!ReferenceBase64(text, bytes)) {
        return false;
    }
    if (encoding.zlib && !bytes.empty()) {
        std::vector<unsigned char> inflated;
        if (!ReferenceInflate(bytes, inflated)) {
            return false;
        }
        bytes.swap(inflated);
    }
    if (encoding.numpress != Numpress::None) {
        return ReferenceNumpress(bytes, encoding.numpress, values);
    }
    const std::size_t width = static_cast<std::size_t>(encoding.bits / 8);
    if (bytes.size() % width != 0) {
        return false;
    }
    for (std::size_t at = 0; at < bytes.size(); at += width) {
        unsigned char v[8];
        for (std::size_t k = 0; k < width; ++k) {
            v[k] = bytes[at + (encoding.bigEndian ? width - 1 - k : k)];
        }
        if (encoding.integer) {
            std::int64_t i = 0;
            std::int32_t j = 0;
            width == 8 ? std::memcpy(&i, v, 8) : std::memcpy(&j, v, 4);
            values.push_back(width == 8 ? static_cast<double>(i) : static_cast<double>(j));
        } else {
            double d = 0.0;
            float f = 0.0f;
            width == 8 ? std::memcpy(&d, v, 8) : std::memcpy(&f, v, 4);
            values.push_back(width == 8 ? d : static_cast<double>(f));
        }
    }
    return true;
}

// Both decoders agree: both fail, or both succeed with the same bits. Sound arrays declare their
// length, as the files do.
void ExpectSameAsReference(std::string_view text, const ArrayEncoding& encoding, const std::string& where) {
    std::vector<double> expected;
    std::vector<double> actual;
    const bool referenceOk = ReferenceDecode(text, encoding, expected);
    const bool ok = DecodeArray(text, encoding, referenceOk ? expected.size() : kMaxArrayPoints, actual);
    ASSERT_EQ(ok, referenceOk) << where;
    if (ok) {
        ASSERT_EQ(actual.size(), expected.size()) << where;
        EXPECT_TRUE(actual.empty() ||
                    std::memcmp(actual.data(), expected.data(), actual.size() * sizeof(double)) == 0)
            << where;
    }
}

bool Has(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

// The encoding an mzML <binaryDataArray> names with its own cvParams; false when it names none (it
// takes them from a param group).
bool EncodingOf(std::string_view array, ArrayEncoding& encoding) {
    encoding = ArrayEncoding{};
    encoding.bits = Has(array, "MS:1000521") || Has(array, "MS:1000519") ? 32 : 64;
    encoding.integer = Has(array, "MS:1000519") || Has(array, "MS:1000522");
    encoding.zlib = Has(array, "MS:1000574") || Has(array, "MS:1002746") || Has(array, "MS:1002747") ||
                    Has(array, "MS:1002748");
    encoding.numpress = Has(array, "MS:1002312") || Has(array, "MS:1002746")   ? Numpress::Linear
                        : Has(array, "MS:1002313") || Has(array, "MS:1002747") ? Numpress::Pic
                        : Has(array, "MS:1002314") || Has(array, "MS:1002748") ? Numpress::Slof
                                                                               : Numpress::None;
    return Has(array, "MS:1000521") || Has(array, "MS:1000523") || Has(array, "MS:1000519") ||
           Has(array, "MS:1000522") || encoding.numpress != Numpress::None;
}

std::string Contents(const std::string& path) {
    if (path.size() < 3 || path.compare(path.size() - 3, 3, ".gz") != 0) {
        return rawtest::ReadAll(path);
    }
    std::string text;
    gzFile file = gzopen(path.c_str(), "rb");
    char buffer[1 << 16];
    int got = 0;
    while (file && (got = gzread(file, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    if (file) {
        gzclose(file);
    }
    return text;
}

// Calls `each(text, encoding, where)` for every array of a file whose encoding its own element names.
template <typename Each> std::size_t ForEachArray(const std::string& path, Each&& each) {
    const std::string text = Contents(path);
    const bool mzxml = Has(text, "<mzXML");
    std::size_t count = 0;
    for (std::size_t at = 0;;) {
        at = text.find(mzxml ? "<peaks" : "<binaryDataArray ", at);
        if (at == std::string::npos) {
            return count;
        }
        const std::size_t close = text.find(mzxml ? "</peaks>" : "</binaryDataArray>", at);
        const std::string_view element(text.data() + at, close - at);
        at = close;
        ArrayEncoding encoding;
        if (mzxml) {
            encoding.bits = Has(element, "precision=\"64\"") ? 64 : 32;
            encoding.bigEndian = !Has(element, "byteOrder=\"little\"");
            encoding.zlib = Has(element, "compressionType=\"zlib\"");
        } else if (!EncodingOf(element, encoding)) {
            continue;
        }
        const std::size_t begin = mzxml ? element.find('>') + 1 : element.find("<binary>") + 8;
        const std::size_t end = mzxml ? element.size() : element.find("</binary>");
        each(element.substr(begin, end - begin), encoding, path + " @" + std::to_string(at));
        ++count;
    }
}

} // namespace

TEST(ArrayDecoding, EveryArrayOfEveryRealFileAsTheReferenceDecodesIt) {
    std::vector<std::string> paths = {rawtest::SamplePath()};
    for (const auto& entry : std::filesystem::directory_iterator(VARNEX_SHARED_DATA_DIR)) {
        const std::string name = entry.path().filename().string();
        if (Has(name, ".mzML") || Has(name, ".mzXML")) {
            paths.push_back(entry.path().string());
        }
    }
    ASSERT_GE(paths.size(), 20u);
    for (const std::string& path : paths) {
        const std::size_t arrays = ForEachArray(
            path, [](std::string_view text, const ArrayEncoding& encoding, const std::string& where) {
                ExpectSameAsReference(text, encoding, where);
            });
        EXPECT_GT(arrays, 0u) << path;
    }
}

TEST(ArrayDecoding, DamagedAndUnusualTextAsTheReferenceDecodesIt) {
    std::mt19937 random(5);
    std::vector<double> values(301);
    for (double& v : values) {
        v = 100.0 + 1900.0 * std::generate_canonical<double, 53>(random);
    }
    const std::vector<std::pair<rawtest::Encoding, ArrayEncoding>> encodings = {
        {rawtest::Encoding::Float64, {64, false, false, Numpress::None, false}},
        {rawtest::Encoding::Float32, {32, false, false, Numpress::None, false}},
        {rawtest::Encoding::Int32, {32, true, false, Numpress::None, false}},
        {rawtest::Encoding::Float64Zlib, {64, false, true, Numpress::None, false}},
        {rawtest::Encoding::Linear, {64, false, false, Numpress::Linear, false}},
        {rawtest::Encoding::Pic, {64, false, false, Numpress::Pic, false}},
        {rawtest::Encoding::Slof, {64, false, false, Numpress::Slof, false}},
        {rawtest::Encoding::LinearZlib, {64, false, true, Numpress::Linear, false}},
    };
    const std::string inserts[] = {" ", "\n", "\r\n  ", "=", "==", "*", "A", "\t"};
    for (const auto& [made, encoding] : encodings) {
        const std::string text = rawtest::Encode(values, made).base64;
        ExpectSameAsReference(text, encoding, "whole");
        for (int round = 0; round < 300; ++round) {
            std::string changed = text;
            const int edits = 1 + round % 4;
            for (int e = 0; e < edits; ++e) {
                const std::size_t at = random() % (changed.size() + 1);
                switch (random() % 3) {
                case 0:
                    changed.insert(at, inserts[random() % std::size(inserts)]);
                    break;
                case 1:
                    changed.erase(std::min(at, changed.size() - 1), 1 + random() % 3);
                    break;
                default:
                    changed.resize(at); // cut short
                    break;
                }
            }
            ExpectSameAsReference(changed, encoding, "round " + std::to_string(round));
        }
    }
    // Line-wrapped base64 as some writers produce it.
    std::string wrapped = rawtest::Encode(values, rawtest::Encoding::Float64).base64;
    for (std::size_t at = 76; at < wrapped.size(); at += 77) {
        wrapped.insert(at, "\n");
    }
    ExpectSameAsReference(wrapped, {64, false, false, Numpress::None, false}, "wrapped");
}

TEST(ArrayDecoding, EveryByteAnywhereInABlockAsTheReferenceDecodesIt) {
    // Base64 is decoded 32 or 8 characters at a time where it can be: any byte at any place of such a
    // block must leave it to the character-wise decoding, and valid text must come out the same whatever
    // room is left after it.
    std::string text;
    for (int i = 0; i < 96; ++i) {
        text += "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(i * 37 + 11) % 64];
    }
    std::vector<unsigned char> expected;
    std::vector<unsigned char> decoded(text.size());
    for (int byte = 0; byte < 256; ++byte) {
        for (std::size_t at : {std::size_t{0}, std::size_t{5}, std::size_t{31}, std::size_t{32},
                               std::size_t{47}, std::size_t{63}, std::size_t{70}}) {
            std::string changed = text;
            changed[at] = static_cast<char>(byte);
            const bool valid = ReferenceBase64(changed, expected);
            std::size_t written = 0;
            ASSERT_EQ(varnex::rawdata::DecodeBase64(changed, decoded.data(), decoded.size(), written), valid)
                << byte << " at " << at;
            if (valid) {
                ASSERT_EQ(std::vector<unsigned char>(decoded.begin(), decoded.begin() + written), expected)
                    << byte << " at " << at;
            }
        }
    }
    ASSERT_TRUE(ReferenceBase64(text, expected));
    for (std::size_t room = expected.size(); room <= expected.size() + 40; ++room) {
        std::vector<unsigned char> out(room);
        std::size_t written = 0;
        ASSERT_TRUE(varnex::rawdata::DecodeBase64(text, out.data(), out.size(), written)) << room;
        EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + written), expected) << room;
    }
}

TEST(ArrayDecoding, NumpressOfAnyBytesAsTheLibraryDecodesIt) {
    // Arbitrary bytes as Numpress: the decoder sizes its buffer from the half-byte heads rather than
    // from the format's worst case, so any byte pattern must still fit (AddressSanitizer would see an
    // overrun) and give the library's values.
    std::mt19937 random(3);
    for (const Numpress kind : {Numpress::Linear, Numpress::Pic, Numpress::Slof}) {
        for (int round = 0; round < 400; ++round) {
            std::vector<unsigned char> bytes(random() % 64);
            for (auto& b : bytes) {
                b = static_cast<unsigned char>(round % 3 == 0 ? 0x88 : random());
            }
            ExpectSameAsReference(rawtest::Base64(bytes), {64, false, false, kind, false},
                                  "kind " + std::to_string(static_cast<int>(kind)) + " round " +
                                      std::to_string(round));
        }
    }
}

TEST(ArrayDecoding, DeclaredLengthBoundsEveryCodec) {
    const std::vector<double> values = {100.5, 200.25, 300.125, 400.0625, 500.5, 600.25, 700.125};
    const std::vector<std::pair<rawtest::Encoding, ArrayEncoding>> encodings = {
        {rawtest::Encoding::Float64, {64, false, false, Numpress::None, false}},
        {rawtest::Encoding::Float32, {32, false, false, Numpress::None, false}},
        {rawtest::Encoding::Float64Zlib, {64, false, true, Numpress::None, false}},
        {rawtest::Encoding::Linear, {64, false, false, Numpress::Linear, false}},
        {rawtest::Encoding::Pic, {64, false, false, Numpress::Pic, false}},
        {rawtest::Encoding::Slof, {64, false, false, Numpress::Slof, false}},
        {rawtest::Encoding::LinearZlib, {64, false, true, Numpress::Linear, false}},
    };
    for (const auto& [made, encoding] : encodings) {
        const std::string text = rawtest::Encode(values, made).base64;
        std::vector<double> decoded;
        EXPECT_TRUE(DecodeArray(text, encoding, values.size(), decoded)) << static_cast<int>(made);
        EXPECT_EQ(decoded.size(), values.size()) << static_cast<int>(made);
        EXPECT_TRUE(DecodeArray(text, encoding, 1000, decoded)) << static_cast<int>(made);
        EXPECT_FALSE(DecodeArray(text, encoding, values.size() - 1, decoded)) << static_cast<int>(made);
        EXPECT_TRUE(decoded.empty());
    }
    // A zlib stream of 64 MB of zeros (64 KB compressed) is refused after 8 values' worth.
    std::vector<unsigned char> zeros(std::size_t{64} << 20);
    const std::string bomb = rawtest::Base64(rawtest::Zlib(zeros));
    std::vector<unsigned char>().swap(zeros);
    std::vector<double> decoded;
    EXPECT_FALSE(DecodeArray(bomb, {64, false, true, Numpress::None, false}, 8, decoded));
}
