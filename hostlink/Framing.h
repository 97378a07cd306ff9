// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One command or reply per frame: a 4-byte big-endian payload length, then the payload bytes. The
// payload is opaque, so a path holding newlines, colons or NULs can neither split nor merge commands.

#include <cstddef>
#include <string>
#include <string_view>

namespace varnex::hostlink {

inline constexpr std::size_t kFrameHeaderBytes = 4;
// A command is a short text plus one path; 64 KiB is far beyond PATH_MAX and still bounds memory.
inline constexpr std::size_t kMaxFrameBytes = 64 * 1024;

std::string EncodeFrame(std::string_view payload);

// Accumulates bytes from a stream and cuts them into frames. Memory stays below one header plus one
// frame of at most maxFrameBytes as long as the caller takes the frames out after each Feed.
class FrameDecoder final {
public:
    enum class Status { NeedMore, Frame, Oversized };

    explicit FrameDecoder(std::size_t maxFrameBytes = kMaxFrameBytes) : maxFrameBytes_(maxFrameBytes) {}

    void Feed(const char* data, std::size_t size) { buffer_.append(data, size); }
    // Frame: `payload` holds the next frame, which is consumed. Oversized: the peer announced a frame
    // beyond the limit; the stream cannot be resynchronised and should be dropped.
    Status Next(std::string& payload);
    std::size_t BufferedBytes() const { return buffer_.size(); }

private:
    std::size_t maxFrameBytes_;
    std::string buffer_;
};

} // namespace varnex::hostlink
