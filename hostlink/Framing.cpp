// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostlink/Framing.h"

#include <cstdint>

namespace varnex::hostlink {

std::string EncodeFrame(std::string_view payload) {
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::string frame;
    frame.reserve(kFrameHeaderBytes + payload.size());
    frame.push_back(static_cast<char>((size >> 24) & 0xFF));
    frame.push_back(static_cast<char>((size >> 16) & 0xFF));
    frame.push_back(static_cast<char>((size >> 8) & 0xFF));
    frame.push_back(static_cast<char>(size & 0xFF));
    frame.append(payload);
    return frame;
}

FrameDecoder::Status FrameDecoder::Next(std::string& payload) {
    if (buffer_.size() < kFrameHeaderBytes) {
        return Status::NeedMore;
    }
    std::uint32_t size = 0;
    for (std::size_t i = 0; i < kFrameHeaderBytes; ++i) {
        size = (size << 8) | static_cast<unsigned char>(buffer_[i]);
    }
    if (size > maxFrameBytes_) {
        return Status::Oversized;
    }
    if (buffer_.size() < kFrameHeaderBytes + size) {
        return Status::NeedMore;
    }
    payload.assign(buffer_, kFrameHeaderBytes, size);
    buffer_.erase(0, kFrameHeaderBytes + size);
    return Status::Frame;
}

} // namespace varnex::hostlink
