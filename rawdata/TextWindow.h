// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A forward-moving window over a ByteSource for scanning XML text: finds strings and tags without
// parsing, and hands out views of the bytes it holds. Moving forward never re-reads what it has passed,
// which keeps a compressed source streaming.

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <vector>

#include "rawdata/ByteSource.h"

namespace varnex::rawdata {

inline constexpr std::uint64_t kNoPosition = std::numeric_limits<std::uint64_t>::max();

class TextWindow {
public:
    TextWindow(const ByteSource& source, std::size_t chunk) : source_(source), chunk_(chunk) {}

    // The bytes from `offset` on, at least `need` of them unless the data ends first.
    std::string_view At(std::uint64_t offset, std::size_t need);
    // Position of the first `needle` at or after `from` and before `limit`, or kNoPosition.
    std::uint64_t Find(std::uint64_t from, std::string_view needle, std::uint64_t limit = kNoPosition);
    // Position of the first tag `<name` (a name given with a leading '/' for a closing tag) whose name
    // is one of `names` and ends there, at or after `from` and before `limit`; `which` gets the index
    // of the name found. kNoPosition when none.
    std::uint64_t FindTag(std::uint64_t from, std::initializer_list<std::string_view> names, int& which,
                          std::uint64_t limit = kNoPosition);

private:
    const ByteSource& source_;
    std::size_t chunk_;
    std::vector<char> buffer_;
    std::uint64_t start_ = 0;
    std::size_t length_ = 0;
};

// True when `c` may follow an element name in a tag.
inline bool EndsName(char c) {
    return c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace varnex::rawdata
