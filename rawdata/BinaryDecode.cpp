// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawdata/BinaryDecode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include <MSNumpress.hpp>
#include <libdeflate.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace varnex::rawdata {
namespace {

constexpr unsigned char kInvalid = 0xff;
constexpr unsigned char kSkip = 0xfe;
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<unsigned char, 256> MakeBase64Table() {
    std::array<unsigned char, 256> table{};
    for (auto& entry : table) {
        entry = kInvalid;
    }
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    }
    for (unsigned char c : {' ', '\t', '\n', '\r'}) {
        table[c] = kSkip;
    }
    return table;
}
constexpr std::array<unsigned char, 256> kBase64 = MakeBase64Table();

// For the four characters of a group, each character's six bits already in place in the 24-bit word;
// anything outside the alphabet sets kNotAlphabet, so one test checks a whole group.
constexpr std::uint32_t kNotAlphabet = 1u << 24;
constexpr std::array<std::uint32_t, 256> MakeGroupTable(int shift) {
    std::array<std::uint32_t, 256> table{};
    for (auto& entry : table) {
        entry = kNotAlphabet;
    }
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint32_t>(i) << shift;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kGroup0 = MakeGroupTable(18);
constexpr std::array<std::uint32_t, 256> kGroup1 = MakeGroupTable(12);
constexpr std::array<std::uint32_t, 256> kGroup2 = MakeGroupTable(6);
constexpr std::array<std::uint32_t, 256> kGroup3 = MakeGroupTable(0);

#if defined(__x86_64__)
// Decodes whole blocks of 32 alphabet characters into 24 bytes each, 32 characters checked and translated
// at once (the AVX2 method of Muła and Lemire: nibble look-ups tell the alphabet's five ranges apart, and
// two multiply-adds pack the six-bit values). Stops before the first block holding anything else, or when
// fewer than 32 bytes of room are left (each block stores 32 bytes, the last 8 of them scratch).
__attribute__((target("avx2"))) void DecodeBlocksAvx2(const unsigned char*& p, const unsigned char* end,
                                                      unsigned char* out, std::size_t capacity,
                                                      std::size_t& n) {
    const __m256i lowLookup = _mm256_setr_epi8(
        0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A, 0x15,
        0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i highLookup = _mm256_setr_epi8(
        0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
        0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i shiftLookup = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i slash = _mm256_set1_epi8(0x2F);
    const __m256i pairWeights = _mm256_set1_epi32(0x01400140);
    const __m256i quadWeights = _mm256_set1_epi32(0x00011000);
    const __m256i byteOrder = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1,
                                               0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i laneOrder = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    while (end - p >= 32 && capacity - n >= 32) {
        const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i highNibbles = _mm256_and_si256(_mm256_srli_epi32(text, 4), slash);
        const __m256i lowNibbles = _mm256_and_si256(text, slash);
        const __m256i low = _mm256_shuffle_epi8(lowLookup, lowNibbles);
        const __m256i high = _mm256_shuffle_epi8(highLookup, highNibbles);
        if (!_mm256_testz_si256(low, high)) {
            return; // a character outside the alphabet
        }
        const __m256i isSlash = _mm256_cmpeq_epi8(text, slash);
        const __m256i shift = _mm256_shuffle_epi8(shiftLookup, _mm256_add_epi8(isSlash, highNibbles));
        const __m256i sixBits = _mm256_add_epi8(text, shift);
        const __m256i pairs = _mm256_maddubs_epi16(sixBits, pairWeights);
        const __m256i words = _mm256_madd_epi16(pairs, quadWeights);
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, byteOrder), laneOrder);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n), bytes);
        n += 24;
        p += 32;
    }
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}
#endif

template <typename T> T Load(const unsigned char* p, bool bigEndian) {
    T value;
    std::memcpy(&value, p, sizeof value);
    if (bigEndian != (std::endian::native == std::endian::big)) {
        auto* bytes = reinterpret_cast<unsigned char*>(&value);
        for (std::size_t i = 0; i < sizeof value / 2; ++i) {
            std::swap(bytes[i], bytes[sizeof value - 1 - i]);
        }
    }
    return value;
}

double LoadValue(const unsigned char* p, const ArrayEncoding& encoding) {
    if (encoding.integer) {
        return encoding.bits == 32 ? static_cast<double>(Load<std::int32_t>(p, encoding.bigEndian))
                                   : static_cast<double>(Load<std::int64_t>(p, encoding.bigEndian));
    }
    return encoding.bits == 32 ? static_cast<double>(Load<float>(p, encoding.bigEndian))
                               : Load<double>(p, encoding.bigEndian);
}

// `count` encoded values lie at the start of `values`' own storage; they become doubles in place, so the
// bytes need no buffer of their own. Narrow values are widened from the last one down: value i is read
// before anything is written over it, and what is written lands on values already converted.
void WidenInPlace(std::vector<double>& values, std::size_t count, const ArrayEncoding& encoding) {
    const bool nativeOrder = encoding.bigEndian == (std::endian::native == std::endian::big);
    if (nativeOrder && !encoding.integer && encoding.bits == 64) {
        values.resize(count); // already doubles as this machine stores them (most m/z arrays)
        return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
    if (nativeOrder && !encoding.integer && encoding.bits == 32) {
        for (std::size_t i = count; i-- > 0;) {
            float value;
            std::memcpy(&value, bytes + i * 4, sizeof value);
            values[i] = static_cast<double>(value);
        }
        values.resize(count);
        return;
    }
    if (encoding.bits == 64) {
        for (std::size_t i = 0; i < count; ++i) {
            values[i] = LoadValue(bytes + i * 8, encoding);
        }
    } else {
        for (std::size_t i = count; i-- > 0;) {
            values[i] = LoadValue(bytes + i * 4, encoding);
        }
    }
    values.resize(count);
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Inflates a whole zlib stream of `size` bytes into at most `limit` bytes; `room(bytes)` provides the
// output buffer. False when the stream is damaged or holds more than `limit` bytes: the decompressor
// stops when the buffer is full instead of finding out how much more there is. The buffer starts at a
// few times the compressed size and grows only while the stream proves it needs more, so memory
// follows what the data holds, not what it declares.
template <typename Room>
bool Inflate(const unsigned char* in, std::size_t size, std::size_t limit, Room&& room,
             std::size_t& produced) {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor) {
        return false;
    }
    // Deflate expands by at most about 1032:1, which bounds any inflated size by the compressed one.
    limit = std::min(limit, size * 1040 + 64);
    std::size_t capacity = std::min(limit, std::max(size * 8, std::size_t{64} << 10));
    while (true) {
        std::size_t consumed = 0;
        const libdeflate_result result = libdeflate_zlib_decompress_ex(
            decompressor.get(), in, size, room(capacity), capacity, &consumed, &produced);
        if (result != LIBDEFLATE_INSUFFICIENT_SPACE || capacity == limit) {
            return result == LIBDEFLATE_SUCCESS;
        }
        capacity = std::min(limit, capacity * 4);
    }
}

// Most bytes a Numpress encoding of `values` numbers can take: a 16-byte head, then at most nine
// half-bytes per value (Slof needs less).
std::size_t MaxNumpressBytes(std::size_t values) {
    return 24 + values / 2 * 9 + 9;
}

// Upper bound of the integers in a Numpress half-byte stream from byte `begin` on. Each integer is a head
// half-byte followed by as many half-bytes as the head leaves unsaid, so walking the heads counts them
// without decoding; the library never produces more.
std::size_t HalfByteIntegers(const unsigned char* data, std::size_t size, std::size_t begin) {
    std::size_t count = 0;
    for (std::size_t nibble = begin * 2; nibble < size * 2; ++count) {
        const unsigned byte = data[nibble / 2];
        const unsigned head = nibble % 2 == 0 ? byte >> 4 : byte & 0x0f;
        nibble += 1 + (8 - (head <= 8 ? head : head - 8));
    }
    return count;
}

// Numpress bytes (followed in their buffer by at least 16 zero bytes: the library reads whole words
// near the end of its input) to at most `maxValues` numbers.
bool DecodeNumpress(const unsigned char* bytes, std::size_t n, Numpress kind, std::size_t maxValues,
                    std::vector<double>& values) {
    if (n == 0) {
        values.clear();
        return true;
    }
    std::size_t bound = 0;
    switch (kind) {
    case Numpress::Linear:
        if (n < 8 || (n > 8 && n < 12)) {
            return false;
        }
        bound = (n >= 12 ? 1 : 0) + (n >= 16 ? 1 : 0) + HalfByteIntegers(bytes, n, 16);
        break;
    case Numpress::Pic:
        bound = HalfByteIntegers(bytes, n, 0);
        break;
    case Numpress::Slof:
        if (n < 8) {
            return false;
        }
        bound = (n - 7) / 2;
        break;
    case Numpress::None:
        return false;
    }
    // A bound above the declaration may still decode to less (a trailing half-byte of padding), so only
    // a clear excess is refused before decoding.
    if (bound > maxValues + 1) {
        return false;
    }
    values.assign(bound + 1, 0.0);
    try {
        namespace np = ms::numpress::MSNumpress;
        std::size_t count = 0;
        if (kind == Numpress::Linear) {
            count = np::decodeLinear(bytes, n, values.data());
        } else if (kind == Numpress::Pic) {
            count = np::decodePic(bytes, n, values.data());
        } else {
            count = np::decodeSlof(bytes, n, values.data());
        }
        if (count <= maxValues && count <= bound + 1) {
            values.resize(count);
            return true;
        }
    } catch (...) {
        // the library reports damaged input by throwing
    }
    values.clear();
    return false;
}

// The compressed bytes of an array into `buffer`; `size` gets their count.

} // namespace

bool DecodeBase64(std::string_view text, unsigned char* out, std::size_t capacity, std::size_t& written) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    std::size_t n = 0;
    std::uint32_t acc = 0;
    int have = 0;
    int padding = 0;
    while (p < end) {
        if (have == 0 && padding == 0) {
#if defined(__x86_64__)
            if (HasAvx2()) {
                DecodeBlocksAvx2(p, end, out, capacity, n);
            }
#endif
            // Whole groups of four alphabet characters, one table look-up per character and one test
            // per group; anything else (line breaks, padding, damage) goes one character at a time.
            // Two groups make six bytes, stored as one word while there is room for eight.
            while (end - p >= 8 && capacity - n >= 8) {
                const std::uint32_t first = kGroup0[p[0]] | kGroup1[p[1]] | kGroup2[p[2]] | kGroup3[p[3]];
                const std::uint32_t second = kGroup0[p[4]] | kGroup1[p[5]] | kGroup2[p[6]] | kGroup3[p[7]];
                if (((first | second) & kNotAlphabet) != 0) {
                    break;
                }
                std::uint64_t bytes = ((std::uint64_t{first} << 24) | second) << 16;
                if constexpr (std::endian::native == std::endian::little) {
                    bytes = __builtin_bswap64(bytes);
                }
                std::memcpy(out + n, &bytes, sizeof bytes);
                n += 6;
                p += 8;
            }
            while (end - p >= 4) {
                const std::uint32_t word = kGroup0[p[0]] | kGroup1[p[1]] | kGroup2[p[2]] | kGroup3[p[3]];
                if ((word & kNotAlphabet) != 0) {
                    break;
                }
                if (capacity - n < 3) {
                    return false;
                }
                out[n] = static_cast<unsigned char>(word >> 16);
                out[n + 1] = static_cast<unsigned char>(word >> 8);
                out[n + 2] = static_cast<unsigned char>(word);
                n += 3;
                p += 4;
            }
            if (p == end) {
                break;
            }
        }
        const unsigned char ch = *p++;
        const unsigned char v = kBase64[ch];
        if (v < 64) {
            if (padding > 0) {
                return false;
            }
            acc = (acc << 6) | v;
            if (++have == 4) {
                if (capacity - n < 3) {
                    return false;
                }
                out[n] = static_cast<unsigned char>(acc >> 16);
                out[n + 1] = static_cast<unsigned char>(acc >> 8);
                out[n + 2] = static_cast<unsigned char>(acc);
                n += 3;
                acc = 0;
                have = 0;
            }
        } else if (v == kSkip) {
            continue;
        } else if (ch == '=') {
            ++padding;
        } else {
            return false;
        }
    }
    if (have == 1 || padding > 2) {
        return false;
    }
    const std::size_t tail = have == 0 ? 0 : static_cast<std::size_t>(have - 1);
    if (capacity - n < tail) {
        return false;
    }
    if (have == 2) {
        out[n] = static_cast<unsigned char>(acc >> 4);
    } else if (have == 3) {
        out[n] = static_cast<unsigned char>(acc >> 10);
        out[n + 1] = static_cast<unsigned char>(acc >> 2);
    }
    written = n + tail;
    return true;
}

namespace {

// The base64 text of zlib data, decoded into `compressed` and inflated through `room` (see Inflate).
// `empty` tells an empty text, which holds no values at all.
template <typename Room>
bool InflateBase64(std::string_view base64, std::vector<unsigned char>& compressed, std::size_t limit,
                   Room&& room, std::size_t& produced, bool& empty) {
    std::size_t size = 0;
    compressed.resize(base64.size() / 4 * 3 + 3);
    if (!DecodeBase64(base64, compressed.data(), compressed.size(), size)) {
        return false;
    }
    empty = size == 0;
    produced = 0;
    return empty || Inflate(compressed.data(), size, limit, std::forward<Room>(room), produced);
}

} // namespace

bool DecodeArray(std::string_view base64, const ArrayEncoding& encoding, std::size_t maxValues,
                 std::vector<double>& values) {
    values.clear();
    if (encoding.numpress == Numpress::None && encoding.bits != 32 && encoding.bits != 64) {
        return false;
    }
    maxValues = std::min(maxValues, kMaxArrayPoints);
    const std::size_t textBytes = base64.size() / 4 * 3 + 3;
    // The raw bytes go to one of two buffers of this thread; a huge array's buffer is not kept.
    thread_local std::vector<unsigned char> raw;
    thread_local std::vector<unsigned char> numpressBytes;
    struct Trim {
        ~Trim() {
            for (auto* buffer : {&raw, &numpressBytes}) {
                if (buffer->capacity() > (std::size_t{16} << 20)) {
                    std::vector<unsigned char>().swap(*buffer);
                }
            }
        }
    } trim;

    if (encoding.numpress != Numpress::None) {
        constexpr std::size_t kLibraryOverread = 16;
        const std::size_t capacity = MaxNumpressBytes(maxValues);
        std::size_t size = 0;
        if (encoding.zlib) {
            const auto room = [&](std::size_t bytes) {
                numpressBytes.resize(bytes + kLibraryOverread);
                return numpressBytes.data();
            };
            bool empty = false;
            if (!InflateBase64(base64, raw, capacity, room, size, empty)) {
                return false;
            }
            if (empty) {
                return true;
            }
        } else {
            numpressBytes.resize(std::min(capacity, textBytes) + kLibraryOverread);
            if (!DecodeBase64(base64, numpressBytes.data(), numpressBytes.size() - kLibraryOverread, size)) {
                return false;
            }
        }
        std::fill_n(numpressBytes.begin() + static_cast<std::ptrdiff_t>(size), kLibraryOverread, 0);
        return DecodeNumpress(numpressBytes.data(), size, encoding.numpress, maxValues, values);
    }

    // Plain numbers are decoded straight into the values' own storage and widened there.
    const std::size_t width = static_cast<std::size_t>(encoding.bits / 8);
    std::size_t room = maxValues * width;
    std::size_t size = 0;
    if (encoding.zlib) {
        const auto storage = [&](std::size_t bytes) {
            values.resize(std::max<std::size_t>((bytes + width - 1) / width, 1));
            return reinterpret_cast<unsigned char*>(values.data());
        };
        bool empty = false;
        if (!InflateBase64(base64, raw, room, storage, size, empty)) {
            values.clear();
            return false;
        }
        if (empty) {
            return true;
        }
    } else {
        room = std::min(room, textBytes);
        values.resize(std::max<std::size_t>((room + width - 1) / width, 1));
        if (!DecodeBase64(base64, reinterpret_cast<unsigned char*>(values.data()), room, size)) {
            values.clear();
            return false;
        }
    }
    // A partial trailing value is damage; whole values are taken as they are.
    if (size % width != 0) {
        values.clear();
        return false;
    }
    WidenInPlace(values, size / width, encoding);
    return true;
}

std::string EncodeBase64(const void* data, std::size_t size) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::uint32_t chunk = (std::uint32_t{bytes[i]} << 16) |
                                    (i + 1 < size ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                    (i + 2 < size ? std::uint32_t{bytes[i + 2]} : 0);
        out += kAlphabet[(chunk >> 18) & 63];
        out += kAlphabet[(chunk >> 12) & 63];
        out += i + 1 < size ? kAlphabet[(chunk >> 6) & 63] : '=';
        out += i + 2 < size ? kAlphabet[chunk & 63] : '=';
    }
    return out;
}

} // namespace varnex::rawdata
