#include "rawdata/BinaryDecode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include <MSNumpress.hpp>
#include <zlib.h>

namespace varnex::rawdata {
namespace {

constexpr unsigned char kInvalid = 0xff;
constexpr unsigned char kSkip = 0xfe;

constexpr std::array<unsigned char, 256> MakeBase64Table() {
    std::array<unsigned char, 256> table{};
    for (auto& entry : table) {
        entry = kInvalid;
    }
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
    }
    for (unsigned char c : {' ', '\t', '\n', '\r'}) {
        table[c] = kSkip;
    }
    return table;
}
constexpr std::array<unsigned char, 256> kBase64 = MakeBase64Table();

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

bool DecodeNumpress(const std::vector<unsigned char>& bytes, Numpress kind, std::vector<double>& values) {
    const std::size_t n = bytes.size();
    if (n == 0) {
        values.clear();
        return true;
    }
    if (n > kMaxArrayBytes) {
        return false;
    }
    // The library reads whole words near the end of its input; padding keeps those reads inside a
    // buffer of ours, and the output bound below is what the format permits for this input size.
    std::vector<unsigned char> padded(n + 16, 0);
    std::memcpy(padded.data(), bytes.data(), n);
    std::size_t maxValues = 0;
    switch (kind) {
    case Numpress::Linear:
        if (n < 8 || (n > 8 && n < 12)) {
            return false;
        }
        maxValues = (n - 8) * 2 + 2;
        break;
    case Numpress::Pic:
        maxValues = n * 2 + 2;
        break;
    case Numpress::Slof:
        if (n < 8) {
            return false;
        }
        maxValues = (n - 8) / 2 + 2;
        break;
    case Numpress::None:
        return false;
    }
    values.assign(maxValues, 0.0);
    try {
        namespace np = ms::numpress::MSNumpress;
        std::size_t count = 0;
        if (kind == Numpress::Linear) {
            count = np::decodeLinear(padded.data(), n, values.data());
        } else if (kind == Numpress::Pic) {
            count = np::decodePic(padded.data(), n, values.data());
        } else {
            count = np::decodeSlof(padded.data(), n, values.data());
        }
        if (count > maxValues) {
            return false;
        }
        values.resize(count);
    } catch (...) {
        return false;
    }
    return true;
}

} // namespace

bool DecodeBase64(std::string_view text, std::vector<unsigned char>& out) {
    out.resize(text.size() / 4 * 3 + 3);
    unsigned char* dst = out.data();
    std::uint32_t acc = 0;
    int have = 0;
    int padding = 0;
    for (const char ch : text) {
        const unsigned char v = kBase64[static_cast<unsigned char>(ch)];
        if (v < 64) {
            if (padding > 0) {
                return false;
            }
            acc = (acc << 6) | v;
            if (++have == 4) {
                *dst++ = static_cast<unsigned char>(acc >> 16);
                *dst++ = static_cast<unsigned char>(acc >> 8);
                *dst++ = static_cast<unsigned char>(acc);
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
    if (have == 2) {
        *dst++ = static_cast<unsigned char>(acc >> 4);
    } else if (have == 3) {
        *dst++ = static_cast<unsigned char>(acc >> 10);
        *dst++ = static_cast<unsigned char>(acc >> 2);
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return true;
}

bool InflateZlib(const unsigned char* data, std::size_t size, std::vector<unsigned char>& out,
                 std::size_t maxOut) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    // Deflate cannot expand beyond about 1032:1, which bounds the output by the input as well.
    const std::size_t limit = std::min<std::size_t>(maxOut, size * 1040 + 64);
    out.resize(std::min<std::size_t>(limit, std::max<std::size_t>(size * 4, 1024)));
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    std::size_t produced = 0;
    int rc = Z_OK;
    while (true) {
        stream.next_out = out.data() + produced;
        stream.avail_out = static_cast<uInt>(out.size() - produced);
        rc = inflate(&stream, Z_NO_FLUSH);
        produced = out.size() - stream.avail_out;
        if (rc == Z_STREAM_END) {
            break;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            break;
        }
        if (stream.avail_out != 0) {
            // No progress possible with the whole input given: the stream is truncated.
            rc = Z_DATA_ERROR;
            break;
        }
        if (out.size() >= limit) {
            rc = Z_MEM_ERROR;
            break;
        }
        out.resize(std::min(limit, out.size() * 2));
    }
    inflateEnd(&stream);
    out.resize(produced);
    return rc == Z_STREAM_END;
}

bool DecodeArray(std::string_view base64, const ArrayEncoding& encoding, std::vector<double>& values) {
    thread_local std::vector<unsigned char> raw;
    thread_local std::vector<unsigned char> inflated;
    values.clear();
    if (!DecodeBase64(base64, raw)) {
        return false;
    }
    const std::vector<unsigned char>* bytes = &raw;
    if (encoding.zlib) {
        if (raw.empty()) {
            return true;
        }
        if (!InflateZlib(raw.data(), raw.size(), inflated, kMaxArrayBytes)) {
            return false;
        }
        bytes = &inflated;
    }
    if (encoding.numpress != Numpress::None) {
        return DecodeNumpress(*bytes, encoding.numpress, values);
    }
    if (encoding.bits != 32 && encoding.bits != 64) {
        return false;
    }
    const std::size_t width = static_cast<std::size_t>(encoding.bits / 8);
    // A partial trailing value is damage; whole values are taken as they are.
    if (bytes->size() % width != 0) {
        return false;
    }
    const std::size_t count = bytes->size() / width;
    values.resize(count);
    const unsigned char* p = bytes->data();
    for (std::size_t i = 0; i < count; ++i, p += width) {
        if (encoding.integer) {
            values[i] = encoding.bits == 32 ? static_cast<double>(Load<std::int32_t>(p, encoding.bigEndian))
                                            : static_cast<double>(Load<std::int64_t>(p, encoding.bigEndian));
        } else {
            values[i] = encoding.bits == 32 ? static_cast<double>(Load<float>(p, encoding.bigEndian))
                                            : Load<double>(p, encoding.bigEndian);
        }
    }
    return true;
}

} // namespace varnex::rawdata
