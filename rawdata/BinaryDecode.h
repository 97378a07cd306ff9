#pragma once

// Decoding of the binary arrays of mzML and mzXML: base64, zlib, MS-Numpress, 32/64-bit floats and
// integers in either byte order. Every routine checks its input and fails instead of reading or
// allocating beyond what the encoded data can hold.

#include <cstddef>
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

// Upper bound of one decompressed array, whatever its declared length.
inline constexpr std::size_t kMaxArrayBytes = std::size_t{128} << 20;

// Base64 text, whitespace allowed, to bytes. False on a character outside the alphabet.
bool DecodeBase64(std::string_view text, std::vector<unsigned char>& out);
// zlib stream to bytes, at most `maxOut` bytes. False on damaged or oversized data.
bool InflateZlib(const unsigned char* data, std::size_t size, std::vector<unsigned char>& out,
                 std::size_t maxOut);
// One encoded array (the text of <binary> or <peaks>) to numbers. The value count follows from the
// data itself; a declared length is never trusted.
bool DecodeArray(std::string_view base64, const ArrayEncoding& encoding, std::vector<double>& values);

} // namespace varnex::rawdata
