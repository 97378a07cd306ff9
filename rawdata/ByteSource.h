// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Random-access byte sources under the mzML/mzXML reader: a plain file read with pread, a memory buffer,
// and a gzip stream that is decompressed on the fly. Every source is safe to read from several threads.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace varnex::rawdata {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Copies up to `size` bytes starting at `offset` into `out` and returns how many were copied; fewer
    // only at the end of the data or when the data is damaged beyond that point.
    virtual std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) const = 0;
    // The first offset at or after `offset` that may hold data: a plain file skips a hole, which reads
    // as zero bytes that no search for text can match; every other source answers `offset`.
    virtual std::uint64_t NextData(std::uint64_t offset) const { return offset; }
    // Size of the data when known without reading all of it (plain files and memory, not gzip).
    virtual bool HasKnownSize() const = 0;
    virtual std::uint64_t KnownSize() const = 0;
    // False when reading anywhere but onward from the last read is expensive (a gzip stream restarts
    // from a snapshot that may lie megabytes back), so that readers take care to read in file order.
    virtual bool SeeksCheaply() const { return true; }
};

// Opens `path` as a regular file; a gzip file (by its magic bytes, whatever its name) is wrapped in a
// decompressing source. Returns null with `error` set when the file cannot be read.
std::unique_ptr<ByteSource> OpenFileSource(const std::string& path, std::string& error);
// The same over bytes held in memory (used by the fuzz target and by tests).
std::unique_ptr<ByteSource> OpenMemorySource(std::string bytes, std::string& error);

} // namespace varnex::rawdata
