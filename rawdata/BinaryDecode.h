// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Decoding of the binary arrays of mzML and mzXML: base64, zlib, MS-Numpress, 32/64-bit floats and
// integers in either byte order. Every routine checks its input and fails instead of reading or
// allocating beyond what the array declares and the encoded data can hold.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varnex::rawdata {

enum class Numpress { None, Linear, Pic, Slof };

struct ArrayEncoding {
    int bits = 64;        // 32 or 64
    bool integer = false; // integer rather than IEEE float values
    bool zlib = false;    // zlib applied to the bytes (after Numpress when both are given)
    Numpress numpress = Numpress::None;
    bool bigEndian = false; // mzXML "network" order
};

// Most values one array may declare: far above any instrument's spectrum (the largest we know hold
// about 150,000 points), so a larger declaration is damage, not data.
inline constexpr std::size_t kMaxArrayPoints = std::size_t{1} << 26;

// Bytes as base64 text with padding, as the files carry them (data sets written by tests and benchmarks).
std::string EncodeBase64(const void* data, std::size_t size);
// Base64 text, whitespace allowed, into `out` (room for `capacity` bytes); `written` gets the byte
// count. False on a character outside the alphabet or when the bytes would not fit.
bool DecodeBase64(std::string_view text, unsigned char* out, std::size_t capacity, std::size_t& written);
// One encoded array (the text of <binary> or <peaks>) to numbers. False when the data is damaged or
// holds more than `maxValues` values: decoding stops there, so the work and memory are bounded by what
// the spectrum declares, never by what the data would expand to.
bool DecodeArray(std::string_view base64, const ArrayEncoding& encoding, std::size_t maxValues,
                 std::vector<double>& values);

} // namespace varnex::rawdata
