// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawdata/ByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace varnex::rawdata {
namespace {

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) const override {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t got = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }
    std::uint64_t NextData(std::uint64_t offset) const override {
        if (offset >= size_) {
            return offset;
        }
        const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
        if (data >= 0) {
            return static_cast<std::uint64_t>(data);
        }
        return errno == ENXIO ? size_ : offset; // ENXIO: only a hole follows
    }
    bool HasKnownSize() const override { return true; }
    std::uint64_t KnownSize() const override { return size_; }

private:
    int fd_;
    std::uint64_t size_;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) const override {
        if (offset >= bytes_.size()) {
            return 0;
        }
        const std::size_t n = std::min<std::uint64_t>(size, bytes_.size() - offset);
        std::memcpy(out, bytes_.data() + offset, n);
        return n;
    }
    bool HasKnownSize() const override { return true; }
    std::uint64_t KnownSize() const override { return bytes_.size(); }

private:
    std::string bytes_;
};

// Decompresses a gzip (or zlib) stream on demand. Reading forward continues one live stream; while it
// explores new ground it keeps snapshots of the inflate state at intervals, so that a later read further
// back restarts from the nearest snapshot instead of from the beginning. The number of snapshots is
// bounded: when they are too many, every other one is dropped and the interval doubles.
class GzipSource final : public ByteSource {
public:
    explicit GzipSource(std::unique_ptr<ByteSource> compressed) : compressed_(std::move(compressed)) {
        inBuffer_.resize(kInputChunk);
        scratch_.resize(kScratch);
        ResetLive();
    }
    ~GzipSource() override {
        if (liveValid_) {
            inflateEnd(&live_);
        }
        for (Checkpoint& c : checkpoints_) {
            inflateEnd(c.stream.get());
        }
    }
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) const override {
        std::lock_guard lock(mutex_);
        if (knownEnd_ && offset >= endOut_) {
            return 0;
        }
        if (!liveValid_ || liveOut_ > offset ||
            offset - liveOut_ > std::max<std::uint64_t>(spacing_, kScratch)) {
            Reposition(offset);
        }
        while (liveOut_ < offset && !liveEnded_) {
            if (Inflate(scratch_.data(), std::min<std::uint64_t>(scratch_.size(), offset - liveOut_)) == 0) {
                break;
            }
        }
        if (liveOut_ != offset) {
            return 0;
        }
        std::size_t done = 0;
        while (done < size && !liveEnded_) {
            const std::size_t got = Inflate(out + done, size - done);
            if (got == 0) {
                break;
            }
            done += got;
        }
        return done;
    }
    bool HasKnownSize() const override { return false; }
    std::uint64_t KnownSize() const override { return 0; }
    bool SeeksCheaply() const override { return false; }

private:
    static constexpr std::size_t kInputChunk = 64 * 1024;
    static constexpr std::size_t kScratch = 256 * 1024;
    static constexpr std::size_t kMaxCheckpoints = 64;
    static constexpr std::uint64_t kInitialSpacing = 1 << 20;

    struct StreamDeleter {
        void operator()(z_stream* s) const { delete s; }
    };
    struct Checkpoint {
        std::uint64_t out = 0;
        std::uint64_t in = 0;
        std::unique_ptr<z_stream, StreamDeleter> stream;
    };

    void ResetLive() const {
        if (liveValid_) {
            inflateEnd(&live_);
        }
        std::memset(&live_, 0, sizeof live_);
        liveValid_ = inflateInit2(&live_, 15 + 32) == Z_OK;
        liveEnded_ = !liveValid_;
        liveOut_ = 0;
        liveIn_ = 0;
    }

    // Makes the live stream start at or before `offset`, from the nearest snapshot when that is closer
    // than where the live stream stands.
    void Reposition(std::uint64_t offset) const {
        const Checkpoint* best = nullptr;
        for (const Checkpoint& c : checkpoints_) {
            if (c.out <= offset) {
                best = &c;
            }
        }
        if (liveValid_ && liveOut_ <= offset && (!best || best->out <= liveOut_)) {
            return;
        }
        if (!best) {
            ResetLive();
            return;
        }
        if (liveValid_) {
            inflateEnd(&live_);
        }
        liveValid_ = inflateCopy(&live_, best->stream.get()) == Z_OK;
        liveEnded_ = !liveValid_;
        live_.next_in = nullptr;
        live_.avail_in = 0;
        liveOut_ = best->out;
        liveIn_ = best->in;
    }

    void MaybeCheckpoint() const {
        const std::uint64_t last = checkpoints_.empty() ? 0 : checkpoints_.back().out;
        if (liveOut_ < last + spacing_) {
            return;
        }
        Checkpoint c;
        c.out = liveOut_;
        c.in = liveIn_ - live_.avail_in;
        c.stream.reset(new z_stream{});
        if (inflateCopy(c.stream.get(), &live_) != Z_OK) {
            return;
        }
        checkpoints_.push_back(std::move(c));
        if (checkpoints_.size() > kMaxCheckpoints) {
            std::vector<Checkpoint> kept;
            for (std::size_t i = 0; i < checkpoints_.size(); ++i) {
                if (i % 2 == 1) {
                    kept.push_back(std::move(checkpoints_[i]));
                } else {
                    inflateEnd(checkpoints_[i].stream.get());
                }
            }
            checkpoints_ = std::move(kept);
            spacing_ *= 2;
        }
    }

    bool NextMemberFollows() const {
        unsigned char magic[2];
        const std::uint64_t at = liveIn_ - live_.avail_in;
        return compressed_->ReadAt(at, reinterpret_cast<char*>(magic), 2) == 2 && magic[0] == 0x1f &&
               magic[1] == 0x8b;
    }

    // Inflates up to `size` bytes into `out`; 0 only at the end of the data or on damaged data.
    std::size_t Inflate(char* out, std::size_t size) const {
        std::size_t produced = 0;
        while (produced == 0 && !liveEnded_) {
            if (live_.avail_in == 0) {
                const std::size_t got =
                    compressed_->ReadAt(liveIn_, reinterpret_cast<char*>(inBuffer_.data()), inBuffer_.size());
                live_.next_in = inBuffer_.data();
                live_.avail_in = static_cast<uInt>(got);
                liveIn_ += got;
                if (got == 0) {
                    liveEnded_ = true;
                    break;
                }
            }
            if (liveOut_ >= frontier_) {
                MaybeCheckpoint();
            }
            const std::size_t want = std::min<std::size_t>(size, kScratch);
            live_.next_out = reinterpret_cast<Bytef*>(out);
            live_.avail_out = static_cast<uInt>(want);
            const int rc = inflate(&live_, Z_NO_FLUSH);
            produced = want - live_.avail_out;
            liveOut_ += produced;
            frontier_ = std::max(frontier_, liveOut_);
            if (rc == Z_STREAM_END) {
                if (NextMemberFollows()) {
                    inflateReset(&live_);
                } else {
                    liveEnded_ = true;
                }
            } else if (rc != Z_OK && !(rc == Z_BUF_ERROR && live_.avail_in == 0)) {
                liveEnded_ = true;
            }
        }
        if (liveEnded_ && produced == 0) {
            knownEnd_ = true;
            endOut_ = liveOut_;
        }
        return produced;
    }

    std::unique_ptr<ByteSource> compressed_;
    mutable std::mutex mutex_;
    mutable z_stream live_{};
    mutable bool liveValid_ = false;
    mutable bool liveEnded_ = false;
    mutable std::uint64_t liveOut_ = 0;
    mutable std::uint64_t liveIn_ = 0;
    mutable std::uint64_t frontier_ = 0;
    mutable bool knownEnd_ = false;
    mutable std::uint64_t endOut_ = 0;
    mutable std::uint64_t spacing_ = kInitialSpacing;
    mutable std::vector<Checkpoint> checkpoints_;
    mutable std::vector<unsigned char> inBuffer_;
    mutable std::vector<char> scratch_;
};

std::unique_ptr<ByteSource> WrapIfCompressed(std::unique_ptr<ByteSource> source, std::string& error) {
    unsigned char magic[2] = {0, 0};
    const std::size_t got = source->ReadAt(0, reinterpret_cast<char*>(magic), 2);
    if (got == 0) {
        error = "the file is empty";
        return nullptr;
    }
    if (got == 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
        return std::make_unique<GzipSource>(std::move(source));
    }
    return source;
}

} // namespace

std::unique_ptr<ByteSource> OpenFileSource(const std::string& path, std::string& error) {
    // O_NONBLOCK so that a FIFO cannot block the open; only regular files are read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "not a regular file";
        return nullptr;
    }
    // Both passes over a run walk the file forward, the metadata pass from end to end: a larger
    // read-ahead pays when the file is not yet in the page cache.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return WrapIfCompressed(std::make_unique<FileSource>(fd, static_cast<std::uint64_t>(st.st_size)), error);
}

std::unique_ptr<ByteSource> OpenMemorySource(std::string bytes, std::string& error) {
    return WrapIfCompressed(std::make_unique<MemorySource>(std::move(bytes)), error);
}

} // namespace varnex::rawdata
