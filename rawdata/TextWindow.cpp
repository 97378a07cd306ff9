// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawdata/TextWindow.h"

#include <algorithm>
#include <cstring>

namespace varnex::rawdata {

std::string_view TextWindow::At(std::uint64_t offset, std::size_t need) {
    if (offset >= start_ && offset - start_ <= length_ && offset + need <= start_ + length_) {
        return {buffer_.data() + (offset - start_), length_ - (offset - start_)};
    }
    const std::size_t capacity = std::max(chunk_, need);
    if (buffer_.size() < capacity) {
        buffer_.resize(capacity);
    }
    std::size_t kept = 0;
    if (offset >= start_ && offset < start_ + length_) {
        kept = length_ - (offset - start_);
        std::memmove(buffer_.data(), buffer_.data() + (offset - start_), kept);
    }
    start_ = offset;
    length_ = kept + source_.ReadAt(offset + kept, buffer_.data() + kept, buffer_.size() - kept);
    return {buffer_.data(), length_};
}

std::uint64_t TextWindow::Find(std::uint64_t from, std::string_view needle, std::uint64_t limit) {
    std::uint64_t pos = from;
    while (pos < limit) {
        const std::string_view view = At(pos, std::min<std::size_t>(chunk_, 1 << 20));
        if (view.size() < needle.size()) {
            return kNoPosition;
        }
        const std::size_t found = view.find(needle);
        if (found != std::string_view::npos) {
            return pos + found < limit ? pos + found : kNoPosition;
        }
        pos = source_.NextData(pos + view.size() - needle.size() + 1);
    }
    return kNoPosition;
}

std::uint64_t TextWindow::FindTag(std::uint64_t from, std::initializer_list<std::string_view> names,
                                  int& which, std::uint64_t limit) {
    std::size_t longest = 0;
    for (std::string_view name : names) {
        longest = std::max(longest, name.size());
    }
    std::uint64_t pos = from;
    while (pos < limit) {
        std::string_view view = At(pos, longest + 2);
        if (view.empty()) {
            return kNoPosition;
        }
        const void* lt = std::memchr(view.data(), '<', view.size());
        if (!lt) {
            pos = source_.NextData(pos + view.size());
            continue;
        }
        pos += static_cast<std::size_t>(static_cast<const char*>(lt) - view.data());
        if (pos >= limit) {
            return kNoPosition;
        }
        view = At(pos, longest + 2);
        int index = 0;
        for (std::string_view name : names) {
            if (view.size() >= name.size() + 2 && view.compare(1, name.size(), name) == 0 &&
                EndsName(view[name.size() + 1])) {
                which = index;
                return pos;
            }
            ++index;
        }
        ++pos;
    }
    return kNoPosition;
}

} // namespace varnex::rawdata
