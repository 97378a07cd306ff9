// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawdata/MsRun.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>
#include <utility>

#include <sys/stat.h>

#include "rawdata/ByteSource.h"
#include "rawdata/MzParse.h"
#include "rawdata/TextWindow.h"

namespace varnex::rawdata {
namespace {

constexpr std::size_t kScanChunk = 4 << 20;
constexpr std::size_t kHeaderFirstRead = 4096;
// Text ceilings, each about a hundred times the largest real one we know (spectrum header 5 KB, whole
// spectrum 1.7 MB); the param groups get more, as other converters put instrument settings there.
constexpr std::size_t kMaxHeaderBytes = 512 << 10;
constexpr std::uint64_t kMaxSpectrumBytes = std::uint64_t{192} << 20;
constexpr std::size_t kMaxParamGroupBytes = 1 << 20; // all <referenceableParamGroupList>s together
constexpr std::uint64_t kMaxIndexBytes = std::uint64_t{256} << 20;
constexpr std::size_t kMaxIdLength = 1024;
constexpr int kMaxFunctions = 1000;
constexpr std::size_t kRunCacheEntries = 4;
constexpr std::size_t kDecodedSpectraKept = 8;
constexpr std::size_t kDecodedPointsKept = 4 << 20; // beyond the newest spectrum
// How far before a spectrum the index check looks for the end of the one before it.
constexpr std::size_t kPrecedingBytes = 64;
// Spectra an indexed read hands to one thread at a time: small enough to even out, large enough that
// the threads rarely meet at the counter.
constexpr std::size_t kIndexedBlock = 64;
constexpr unsigned kMaxMetadataThreads = 8;

// One <offset> of the file's index. The id stays in the index text (escaped) until it is compared:
// copying millions of ids would double the memory the index costs.
struct IndexEntry {
    std::uint64_t offset = 0;
    std::size_t idStart = 0;
    std::size_t idLength = 0;
};

std::string_view TrimEnd(std::string_view text) {
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view TrimStart(std::string_view text) {
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\n' || text.front() == '\r' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    return text;
}

std::string UnescapeXml(std::string_view text) {
    if (text.find('&') == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const std::size_t semi = text.find(';', i);
        if (semi == std::string_view::npos) {
            out += text.substr(i);
            break;
        }
        const std::string_view entity = text.substr(i + 1, semi - i - 1);
        if (entity == "amp") {
            out += '&';
        } else if (entity == "lt") {
            out += '<';
        } else if (entity == "gt") {
            out += '>';
        } else if (entity == "quot") {
            out += '"';
        } else if (entity == "apos") {
            out += '\'';
        } else {
            out += text.substr(i, semi - i + 1);
        }
        i = semi;
    }
    return out;
}

bool ParseUnsigned(std::string_view text, std::uint64_t& value) {
    text = TrimStart(text);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc{} && result.ptr != text.data();
}

// The value of the numeric attribute `name` in a start tag; false when it is absent or not a number.
bool AttributeNumber(std::string_view startTag, std::string_view name, std::uint64_t& value) {
    for (std::size_t at = startTag.find(name); at != std::string_view::npos;
         at = startTag.find(name, at + 1)) {
        const std::string_view rest = startTag.substr(at + name.size());
        const bool attribute = at > 0 && (startTag[at - 1] == ' ' || startTag[at - 1] == '\n' ||
                                          startTag[at - 1] == '\r' || startTag[at - 1] == '\t');
        if (attribute && rest.size() > 2 && rest[0] == '=' && (rest[1] == '"' || rest[1] == '\'')) {
            const std::size_t close = rest.find(rest[1], 2);
            std::uint64_t number = 0;
            const std::string_view digits = rest.substr(2, close == std::string_view::npos ? 0 : close - 2);
            const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (digits.empty() || result.ec != std::errc{} || result.ptr != digits.data() + digits.size()) {
                return false;
            }
            value = number;
            return true;
        }
    }
    return false;
}

// The number after `key=` where the key starts the id or follows a space; 0 when absent or invalid.
int IdNumber(std::string_view id, std::string_view key) {
    std::size_t at = 0;
    while ((at = id.find(key, at)) != std::string_view::npos) {
        if (at == 0 || id[at - 1] == ' ') {
            int value = 0;
            const char* begin = id.data() + at + key.size();
            const char* end = id.data() + id.size();
            const auto result = std::from_chars(begin, end, value);
            if (result.ec == std::errc{} && result.ptr != begin &&
                (result.ptr == end || *result.ptr == ' ')) {
                return value;
            }
            return 0;
        }
        ++at;
    }
    return 0;
}

struct RunCacheKey {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeSeconds = 0;
    long mtimeNanoseconds = 0;
    bool operator==(const RunCacheKey&) const = default;
};

struct RunCacheEntry {
    RunCacheKey key;
    std::shared_ptr<const MsRun> run;
    std::string error;
};

struct HeldRun {
    std::string path;
    std::shared_ptr<const MsRun> run;
    int holders = 0;
};

std::mutex g_runCacheMutex;
std::list<RunCacheEntry> g_runCache; // most recently used first
// Every run handed out that someone may still hold: a file in use is not parsed a second time after it
// left the small cache above (several data sets listed at once would otherwise keep evicting each other).
std::vector<std::pair<RunCacheKey, std::weak_ptr<const MsRun>>> g_runsInUse;

// Called with g_runCacheMutex held.
std::shared_ptr<const MsRun> RunInUse(const RunCacheKey& key) {
    for (const auto& [usedKey, used] : g_runsInUse) {
        if (usedKey == key) {
            return used.lock();
        }
    }
    return nullptr;
}

std::list<HeldRun> g_heldRuns; // under g_runCacheMutex
std::atomic<std::uint64_t> g_fileLooks{0};
std::atomic<std::uint64_t> g_parses{0};
std::atomic<unsigned> g_metadataThreads{0};

unsigned MetadataThreadCount() {
    const unsigned chosen = g_metadataThreads.load(std::memory_order_relaxed);
    return std::clamp(chosen == 0 ? std::thread::hardware_concurrency() : chosen, 1u, kMaxMetadataThreads);
}

// Called with g_runCacheMutex held.
HeldRun* FindHeldLocked(const std::string& path) {
    for (HeldRun& held : g_heldRuns) {
        if (held.path == path) {
            return &held;
        }
    }
    return nullptr;
}

} // namespace

class MsRun::DecodeCache {
public:
    std::mutex mutex;
    // Most recently used first; a null spectrum records one that cannot be decoded.
    std::list<std::pair<std::size_t, std::shared_ptr<const Spectrum>>> entries;
};

// Builds the index of a run: by the file's own index when it is sound, else by a sequential scan.
class MsRun::Builder {
public:
    Builder(MsRun& run, std::size_t maxSpectra) : run_(run), source_(*run.source_), maxSpectra_(maxSpectra) {}

    bool Build(std::string& error) {
        if (!DetectFormat(error)) {
            return false;
        }
        if (!TryIndexed() && !tooManySpectra_) {
            run_.scans_.clear();
            run_.locations_.clear();
            idNumbers_.clear();
            run_.damagedSpectra_ = 0;
            ScanSequentially();
        }
        if (tooManySpectra_) {
            // A shortened list would look complete: refuse the whole data set instead.
            run_.scans_.clear();
            run_.locations_.clear();
            error = "it holds more than " + std::to_string(maxSpectra_) + " spectra, more than can be read";
            return false;
        }
        if (run_.scans_.empty()) {
            error = "none of its spectra can be read";
            return false;
        }
        AssignFunctions();
        return true;
    }

private:
    bool Mzml() const { return run_.format_ == FileFormat::Mzml; }
    std::string_view SpectrumTag() const { return Mzml() ? "spectrum" : "scan"; }

    bool DetectFormat(std::string& error) {
        std::string head(source_.HasKnownSize() ? std::min<std::uint64_t>(source_.KnownSize(), 64 * 1024)
                                                : 64 * 1024,
                         '\0');
        head.resize(source_.ReadAt(0, head.data(), head.size()));
        if (head.find("<mzML") != std::string::npos || head.find("<indexedmzML") != std::string::npos) {
            run_.format_ = FileFormat::Mzml;
        } else if (head.find("<mzXML") != std::string::npos) {
            run_.format_ = FileFormat::Mzxml;
        } else {
            error = "it is not an mzML or mzXML data set";
            return false;
        }
        return true;
    }

    // Reads what lies before the first spectrum: referenceable param groups (mzML) or the run's
    // centroid default (mzXML). Returns the position of the first spectrum tag.
    std::uint64_t ReadRunHeader(TextWindow& window) {
        int which = 0;
        std::uint64_t pos = 0;
        while (true) {
            pos = Mzml() ? window.FindTag(pos, {"spectrum", "referenceableParamGroupList"}, which)
                         : window.FindTag(pos, {"scan", "dataProcessing"}, which);
            if (pos == kNoPosition || which == 0) {
                return pos;
            }
            if (Mzml()) {
                // Groups past the ceiling are left out: spectra referring to them lose those params.
                const std::uint64_t end =
                    window.Find(pos, "</referenceableParamGroupList>", pos + paramGroupBytesLeft_);
                if (end == kNoPosition) {
                    paramGroupBytesLeft_ = 0;
                    pos += 1;
                    continue;
                }
                const std::size_t length = end - pos + std::strlen("</referenceableParamGroupList>");
                paramGroupBytesLeft_ -= std::min(paramGroupBytesLeft_, length);
                std::string xml(window.At(pos, length).substr(0, length));
                ParseParamGroups(xml, *run_.paramGroups_);
                pos = end;
            } else {
                const std::string_view tag = window.At(pos, 4096).substr(0, 4096);
                const std::string_view start = tag.substr(0, tag.find('>'));
                if (start.find("centroided=\"1\"") != std::string_view::npos) {
                    defaultCentroid_ = true;
                }
                pos += 1;
            }
        }
    }

    bool ParseHeader(std::string_view text, ScanInfo& info, std::string& id) {
        return ParseHeader(text, info, id, fragment_);
    }
    bool ParseHeader(std::string_view text, ScanInfo& info, std::string& id, std::string& fragment) const {
        return ParseHeaderText(run_, defaultCentroid_, text, info, id, fragment);
    }

public:
    // The header of one spectrum from its start tag text: closes the fragment and parses it.
    static bool ParseHeaderText(const MsRun& run, bool defaultCentroid, std::string_view text, ScanInfo& info,
                                std::string& id, std::string& fragment) {
        bool ok = false;
        try {
            fragment.assign(text);
            fragment += run.format_ == FileFormat::Mzml ? "</spectrum>" : "</scan>";
            ok = run.format_ == FileFormat::Mzml ? ParseMzmlHeader(fragment, *run.paramGroups_, info, id)
                                                 : ParseMzxmlHeader(fragment, defaultCentroid, info, id);
        } catch (const std::bad_alloc&) {
            // Out of memory on this header alone: the spectrum counts as damaged.
        }
        if (ok && id.size() > kMaxIdLength) {
            id.resize(kMaxIdLength);
        }
        return ok;
    }

private:
    // Length of the header part of a spectrum that starts at `text`: up to its arrays or its end.
    // npos when the text does not hold all of it.
    std::size_t HeaderLength(std::string_view text) const {
        std::size_t pos = 1;
        while ((pos = text.find('<', pos)) != std::string_view::npos) {
            const std::string_view rest = text.substr(pos + 1);
            auto is = [&](std::string_view name) {
                return rest.size() > name.size() && rest.compare(0, name.size(), name) == 0 &&
                       EndsName(rest[name.size()]);
            };
            if (Mzml() ? (is("binaryDataArrayList") || is("/spectrum") || is("spectrum"))
                       : (is("peaks") || is("scan") || is("/scan"))) {
                return pos;
            }
            ++pos;
        }
        return std::string_view::npos;
    }

    static bool SelfClosing(std::string_view text) {
        const std::size_t gt = text.find('>');
        return gt != std::string_view::npos && gt > 0 && text[gt - 1] == '/';
    }

    void Add(ScanInfo info, std::string_view id, std::uint64_t offset, std::uint64_t length) {
        idNumbers_.push_back(IdNumbersOf(id));
        run_.scans_.push_back(std::move(info));
        run_.locations_.push_back({offset, length});
    }

    // Start of the index element: at `stated` (whitespace allowed before it), else the last one found
    // before `end`. kNoPosition when there is none.
    std::uint64_t LocateIndex(std::uint64_t stated, std::uint64_t end) const {
        const std::string_view element = Mzml() ? "<indexList" : "<index ";
        if (stated < end) {
            std::string probe(std::min<std::uint64_t>(256, end - stated), '\0');
            probe.resize(source_.ReadAt(stated, probe.data(), probe.size()));
            const std::size_t first = probe.find_first_not_of(" \t\r\n");
            if (first != std::string::npos && probe.compare(first, element.size(), element) == 0) {
                return stated + first;
            }
        }
        constexpr std::size_t kStep = 1 << 20;
        std::string chunk;
        for (std::uint64_t high = end; high > 0 && end - high < kMaxIndexBytes;) {
            const std::uint64_t low = high > kStep ? high - kStep : 0;
            chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(end, high + element.size()) - low));
            chunk.resize(source_.ReadAt(low, chunk.data(), chunk.size()));
            const std::size_t found = chunk.rfind(element);
            if (found != std::string::npos) {
                return low + found;
            }
            high = low;
        }
        return kNoPosition;
    }

    // Reads the spectrum entries of the file's index into `entries` (sorted by offset), their ids staying
    // in `index`. False when there is no usable index.
    bool ReadIndex(std::vector<IndexEntry>& entries, std::uint64_t& indexOffset, std::string& index) {
        if (!source_.HasKnownSize()) {
            return false;
        }
        const std::uint64_t size = source_.KnownSize();
        const std::uint64_t tailStart = size > 8192 ? size - 8192 : 0;
        std::string tail(size - tailStart, '\0');
        tail.resize(source_.ReadAt(tailStart, tail.data(), tail.size()));
        const std::string_view open = Mzml() ? "<indexListOffset>" : "<indexOffset>";
        const std::size_t at = tail.rfind(open);
        if (at == std::string::npos ||
            !ParseUnsigned(std::string_view(tail).substr(at + open.size()), indexOffset)) {
            return false;
        }
        // Converters and hand edits often leave this offset a little off; the spectrum offsets are
        // checked one by one anyway, so look for the index itself when it is not where it is said to be.
        indexOffset = LocateIndex(indexOffset, tailStart + at);
        if (indexOffset == kNoPosition) {
            return false;
        }
        index.assign(tailStart + at - indexOffset, '\0');
        index.resize(source_.ReadAt(indexOffset, index.data(), index.size()));
        const std::string_view section = Mzml() ? "<index name=\"spectrum\"" : "<index name=\"scan\"";
        const std::size_t begin = index.find(section);
        if (begin == std::string::npos) {
            return false;
        }
        const std::size_t end = std::min(index.find("</index>", begin), index.size());
        const std::string_view body = std::string_view(index).substr(begin, end - begin);
        const std::string_view attribute = Mzml() ? "idRef=\"" : "id=\"";
        std::size_t pos = 0;
        while ((pos = body.find("<offset", pos)) != std::string_view::npos) {
            const std::size_t gt = body.find('>', pos);
            if (gt == std::string_view::npos) {
                return false;
            }
            const std::string_view tag = body.substr(pos, gt - pos);
            const std::size_t a = tag.find(attribute);
            const std::size_t q = a == std::string_view::npos ? a : tag.find('"', a + attribute.size());
            std::uint64_t offset = 0;
            if (q == std::string_view::npos || !ParseUnsigned(body.substr(gt + 1), offset)) {
                return false;
            }
            if (entries.size() == maxSpectra_) {
                tooManySpectra_ = true;
                return false;
            }
            entries.push_back({offset, begin + pos + a + attribute.size(), q - a - attribute.size()});
            pos = gt;
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const IndexEntry& x, const IndexEntry& y) { return x.offset < y.offset; });
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].offset >= indexOffset || (i > 0 && entries[i].offset == entries[i - 1].offset)) {
                return false;
            }
        }
        return !entries.empty();
    }

    // The number of spectra the list's start tag declares (mzML spectrumList count, mzXML msRun
    // scanCount); false when it cannot be found.
    bool DeclaredSpectrumCount(std::uint64_t firstSpectrum, std::uint64_t& count) const {
        const std::uint64_t from = firstSpectrum > 65536 ? firstSpectrum - 65536 : 0;
        std::string head(static_cast<std::size_t>(firstSpectrum - from), '\0');
        head.resize(source_.ReadAt(from, head.data(), head.size()));
        const std::string_view element = Mzml() ? "<spectrumList" : "<msRun";
        const std::size_t at = head.rfind(element);
        if (at == std::string::npos || at + element.size() >= head.size() ||
            !EndsName(head[at + element.size()])) {
            return false;
        }
        const std::string_view startTag = std::string_view(head).substr(at, head.find('>', at) - at);
        return AttributeNumber(startTag, Mzml() ? "count" : "scanCount", count);
    }

    // Whether `text` (the bytes just before a spectrum) ends where a spectrum does.
    bool EndsASpectrum(std::string_view text) const {
        text = TrimEnd(text);
        if (Mzml()) {
            return text.ends_with("</spectrum>") || text.ends_with("/>");
        }
        // mzXML nests MS/MS scans in their survey scan, after its peaks.
        return text.ends_with("</peaks>") || text.ends_with("</scan>") || text.ends_with("/>");
    }

    // Whether only the list's end follows the spectrum at `offset` (whose header is `headerLength`
    // bytes, all of it when `selfClosing`) before `bound`.
    bool EndsTheList(std::uint64_t offset, std::size_t headerLength, bool selfClosing,
                     std::uint64_t bound) const {
        TextWindow window(source_, 256 * 1024);
        std::uint64_t end = offset + headerLength;
        if (!selfClosing) {
            const std::string_view close = Mzml() ? "</spectrum>" : "</peaks>";
            end = window.Find(offset + headerLength, close, std::min(bound, offset + kMaxSpectrumBytes));
            if (end == kNoPosition) {
                return false;
            }
            end += close.size();
        }
        std::string_view rest = TrimStart(window.At(end, 1024).substr(0, 1024));
        if (!Mzml()) {
            while (rest.starts_with("</scan>")) {
                rest = TrimStart(rest.substr(std::strlen("</scan>")));
            }
        }
        return rest.starts_with(Mzml() ? "</spectrumList>" : "</msRun>");
    }

    // Reads the spectra through the file's index; false when there is none or it does not match the
    // spectra. The index is trusted only when it names as many spectra as the list declares, each entry
    // points at the spectrum of its id (mzML: of its position, too), each spectrum ends where the next
    // entry begins and the last one ends the list: an index that leaves spectra out, or points into
    // one, would silently lose them.
    bool TryIndexed() {
        std::vector<IndexEntry> entries;
        std::uint64_t indexOffset = 0;
        std::string index;
        if (!ReadIndex(entries, indexOffset, index)) {
            return false;
        }
        {
            TextWindow window(source_, static_cast<std::size_t>(
                                           std::min<std::uint64_t>(entries.front().offset + 4096, 1 << 20)));
            if (ReadRunHeader(window) != entries.front().offset) {
                return false;
            }
        }
        std::uint64_t declared = 0;
        if (!DeclaredSpectrumCount(entries.front().offset, declared) || declared != entries.size()) {
            return false;
        }
        run_.dataEnd_ = indexOffset;
        // Each spectrum's header is read and checked on its own, so the work is shared out in blocks to
        // every core; each result lands in its spectrum's slot, so the index comes out the same in file
        // order whatever the threads did. A gzip stream is read in file order by one thread.
        const std::size_t count = entries.size();
        run_.scans_.resize(count);
        idNumbers_.resize(count);
        std::vector<std::uint8_t> parsed(count, 0);
        std::atomic<std::size_t> nextBlock{0};
        std::atomic<bool> untrusted{false};
        const auto work = [&] {
            IndexedScratch scratch;
            try {
                for (;;) {
                    const std::size_t begin = nextBlock.fetch_add(kIndexedBlock, std::memory_order_relaxed);
                    if (begin >= count || untrusted.load(std::memory_order_relaxed)) {
                        return;
                    }
                    for (std::size_t i = begin; i < std::min(count, begin + kIndexedBlock); ++i) {
                        const IndexedResult result =
                            ReadIndexedSpectrum(entries, i, indexOffset, index, scratch, run_.scans_[i]);
                        idNumbers_[i] = IdNumbersOf(scratch.id);
                        if (result == IndexedResult::Untrusted) {
                            untrusted.store(true, std::memory_order_relaxed);
                            return;
                        }
                        parsed[i] = result == IndexedResult::Parsed ? 1 : 0;
                    }
                }
            } catch (const std::bad_alloc&) {
                untrusted.store(true, std::memory_order_relaxed); // read again by the sequential scan
            }
        };
        const unsigned threads =
            source_.SeeksCheaply() && count >= 4 * kIndexedBlock
                ? std::min<unsigned>(MetadataThreadCount(), static_cast<unsigned>(count / kIndexedBlock))
                : 1;
        {
            std::vector<std::jthread> helpers;
            for (unsigned t = 1; t < threads; ++t) {
                helpers.emplace_back(work);
            }
            work();
        }
        if (untrusted) {
            return false;
        }
        // Spectra with a broken header leave the index: close the gaps, keeping file order.
        std::size_t kept = 0;
        run_.locations_.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (parsed[i] == 0) {
                ++run_.damagedSpectra_;
                continue;
            }
            if (kept != i) {
                run_.scans_[kept] = std::move(run_.scans_[i]);
                idNumbers_[kept] = idNumbers_[i];
            }
            ++kept;
            run_.locations_.push_back({entries[i].offset, 0});
        }
        run_.scans_.resize(kept);
        run_.scans_.shrink_to_fit();
        idNumbers_.resize(kept);
        run_.usedIndex_ = true;
        return true;
    }

    enum class IndexedResult { Parsed, Damaged, Untrusted };
    struct IndexedScratch {
        std::string text;
        std::string fragment;
        std::string id;
    };

    // Reads the header of the spectrum that index entry `i` points at into `info` and checks that it is
    // the spectrum the entry names. Untrusted when it is not (the index cannot be used), Damaged when
    // the header itself is broken.
    IndexedResult ReadIndexedSpectrum(const std::vector<IndexEntry>& entries, std::size_t i,
                                      std::uint64_t indexOffset, const std::string& index,
                                      IndexedScratch& scratch, ScanInfo& info) const {
        std::string& text = scratch.text;
        const std::string_view tag = SpectrumTag();
        const std::uint64_t offset = entries[i].offset;
        const std::uint64_t bound = i + 1 < entries.size() ? entries[i + 1].offset : indexOffset;
        const std::size_t before = i == 0 ? 0
                                          : static_cast<std::size_t>(std::min<std::uint64_t>(
                                                kPrecedingBytes, offset - entries[i - 1].offset));
        std::string_view head;
        std::size_t headerLength = std::string_view::npos;
        for (std::size_t want = kHeaderFirstRead;; want *= 4) {
            want = std::min<std::uint64_t>({want, bound - offset, kMaxHeaderBytes});
            text.resize(before + want);
            text.resize(source_.ReadAt(offset - before, text.data(), before + want));
            if (text.size() <= before) {
                return IndexedResult::Untrusted;
            }
            head = std::string_view(text).substr(before);
            if (head.size() <= tag.size() + 1 || head[0] != '<' || head.compare(1, tag.size(), tag) != 0 ||
                !EndsName(head[tag.size() + 1])) {
                return IndexedResult::Untrusted;
            }
            headerLength = SelfClosing(head) ? head.find('>') + 1 : HeaderLength(head);
            if (headerLength != std::string_view::npos || want >= bound - offset || want >= kMaxHeaderBytes ||
                head.size() < want) {
                break;
            }
        }
        if (i > 0 && !EndsASpectrum(std::string_view(text).substr(0, before))) {
            return IndexedResult::Untrusted;
        }
        std::uint64_t position = 0;
        if (Mzml() &&
            (!AttributeNumber(head.substr(0, head.find('>')), "index", position) || position != i)) {
            return IndexedResult::Untrusted;
        }
        if (i + 1 == entries.size() &&
            !EndsTheList(offset, headerLength == std::string_view::npos ? 0 : headerLength, SelfClosing(head),
                         bound)) {
            return IndexedResult::Untrusted;
        }
        if (headerLength == std::string_view::npos ||
            !ParseHeader(head.substr(0, headerLength), info, scratch.id, scratch.fragment)) {
            return IndexedResult::Damaged;
        }
        const std::string id =
            UnescapeXml(std::string_view(index).substr(entries[i].idStart, entries[i].idLength));
        if (scratch.id != (Mzml() ? id : "scan=" + id).substr(0, kMaxIdLength)) {
            return IndexedResult::Untrusted;
        }
        return IndexedResult::Parsed;
    }

    void ScanSequentially() {
        // Small data needs no large window (the fuzz target opens thousands of tiny inputs).
        const std::size_t chunk = source_.HasKnownSize() ? static_cast<std::size_t>(std::clamp<std::uint64_t>(
                                                               source_.KnownSize() + 1, 4096, kScanChunk))
                                                         : kScanChunk;
        TextWindow window(source_, chunk);
        std::uint64_t pos = ReadRunHeader(window);
        const std::string_view tag = SpectrumTag();
        const std::string closing = "/" + std::string(tag);
        int which = 0;
        while (pos != kNoPosition) {
            if (run_.scans_.size() == maxSpectra_) {
                tooManySpectra_ = true;
                break;
            }
            const std::uint64_t start = pos;
            const std::string_view head = window.At(start, kHeaderFirstRead);
            if (SelfClosing(head.substr(0, head.find('>') + 1))) {
                const std::size_t length = head.find('>') + 1;
                ScanInfo info;
                if (ParseHeader(head.substr(0, length), info, fragmentId_)) {
                    Add(std::move(info), fragmentId_, start, length);
                } else {
                    ++run_.damagedSpectra_;
                }
                pos = window.FindTag(start + length, {tag}, which);
                continue;
            }
            // Where the header ends: at the arrays, at this spectrum's end, or (damage) at the next one.
            std::uint64_t headerEnd = 0;
            if (Mzml()) {
                headerEnd = window.FindTag(start + 1, {"binaryDataArrayList", "/spectrum", "spectrum"}, which,
                                           start + kMaxHeaderBytes);
            } else {
                headerEnd =
                    window.FindTag(start + 1, {"peaks", "/scan", "scan"}, which, start + kMaxHeaderBytes);
            }
            if (headerEnd == kNoPosition) {
                ++run_.damagedSpectra_;
                pos = window.FindTag(start + 1, {tag}, which);
                continue;
            }
            ScanInfo info;
            const bool headerOk = ParseHeader(
                window.At(start, headerEnd - start).substr(0, headerEnd - start), info, fragmentId_);
            if (!headerOk) {
                ++run_.damagedSpectra_;
                pos = window.FindTag(start + 1, {tag}, which);
                continue;
            }
            // The spectrum's extent: mzML to its closing tag, mzXML to the end of its peaks (child scans
            // follow the peaks). A spectrum cut short keeps its start; decoding it fails later.
            std::uint64_t end = kNoPosition;
            std::uint64_t next = kNoPosition;
            if (Mzml()) {
                int closeWhich = 0;
                std::uint64_t close = headerEnd;
                if (which == 2) {
                    closeWhich = 1;
                } else if (which == 0) {
                    close = window.FindTag(headerEnd, {"/spectrum", "spectrum"}, closeWhich);
                }
                if (close != kNoPosition && closeWhich == 0) {
                    end = close + closing.size() + 2;
                    next = window.FindTag(end, {tag}, which);
                } else {
                    next = close;
                }
            } else if (which == 0) {
                const std::uint64_t close = window.Find(headerEnd, "</peaks>");
                if (close != kNoPosition) {
                    end = close + std::strlen("</peaks>");
                    next = window.FindTag(end, {tag}, which);
                }
            } else {
                end = headerEnd;
                next = which == 2 ? headerEnd : window.FindTag(headerEnd, {tag}, which);
            }
            Add(std::move(info), fragmentId_, start, end == kNoPosition ? 0 : end - start);
            pos = next;
        }
        run_.dataEnd_ = kNoPosition;
    }

    // What an id says about the function, kept while the run is built instead of the id itself.
    struct IdNumbers {
        int function = 0;   // function=F
        int experiment = 0; // experiment=E
    };
    static IdNumbers IdNumbersOf(std::string_view id) {
        return {IdNumber(id, "function="), IdNumber(id, "experiment=")};
    }

    void AssignFunctions() {
        // One id layout for the whole file: function=F, else experiment=E, else the MS level.
        auto allHave = [&](int IdNumbers::*number) {
            return std::all_of(idNumbers_.begin(), idNumbers_.end(), [&](const IdNumbers& numbers) {
                return numbers.*number >= 1 && numbers.*number <= kMaxFunctions;
            });
        };
        int IdNumbers::*key = nullptr;
        if (allHave(&IdNumbers::function)) {
            key = &IdNumbers::function;
        } else if (allHave(&IdNumbers::experiment)) {
            key = &IdNumbers::experiment;
        }
        for (std::size_t i = 0; i < run_.scans_.size(); ++i) {
            ScanInfo& scan = run_.scans_[i];
            scan.function = key == nullptr ? std::clamp(scan.msLevel, 1, kMaxFunctions) : idNumbers_[i].*key;
            if (static_cast<int>(run_.functions_.size()) < scan.function) {
                run_.functions_.resize(static_cast<std::size_t>(scan.function));
            }
            Function& function = run_.functions_[static_cast<std::size_t>(scan.function - 1)];
            if (function.scans.empty()) {
                function.description = DescribeFunction(scan);
            }
            function.scans.push_back(i);
            scan.scanNumber = static_cast<int>(function.scans.size());
        }
        std::vector<IdNumbers>().swap(idNumbers_);
    }

    MsRun& run_;
    const ByteSource& source_;
    const std::size_t maxSpectra_;
    bool tooManySpectra_ = false;
    bool defaultCentroid_ = false;
    std::size_t paramGroupBytesLeft_ = kMaxParamGroupBytes;
    std::string fragment_;
    std::string fragmentId_;
    std::vector<IdNumbers> idNumbers_; // one for each of run_.scans_
};

double ScanInfo::SetMass() const {
    if (msLevel <= 1) {
        return 0.0;
    }
    if (isolationTargetMz > 0.0) {
        return isolationTargetMz;
    }
    if (selectedIonMz > 0.0) {
        return selectedIonMz;
    }
    return 0.0;
}

MsRun::MsRun()
    : paramGroups_(std::make_unique<ParamGroups>()), decodeCache_(std::make_unique<DecodeCache>()) {}
MsRun::~MsRun() = default;

std::shared_ptr<const MsRun> MsRun::Build(std::unique_ptr<ByteSource> source, std::string* error,
                                          std::size_t maxSpectra) {
    std::string message;
    if (!source) {
        return nullptr;
    }
    std::shared_ptr<MsRun> run(new MsRun());
    run->source_ = std::move(source);
    Builder builder(*run, maxSpectra);
    if (!builder.Build(message)) {
        if (error) {
            *error = message;
        }
        return nullptr;
    }
    return run;
}

std::shared_ptr<const MsRun> MsRun::OpenUncached(const std::string& path, std::string* error) {
    g_parses.fetch_add(1, std::memory_order_relaxed);
    std::string message;
    std::unique_ptr<ByteSource> source = OpenFileSource(path, message);
    if (!source) {
        if (error) {
            *error = message;
        }
        return nullptr;
    }
    return Build(std::move(source), error);
}

std::shared_ptr<const MsRun> MsRun::OpenBytes(std::string bytes, std::string* error, std::size_t maxSpectra) {
    std::string message;
    std::unique_ptr<ByteSource> source = OpenMemorySource(std::move(bytes), message);
    if (!source) {
        if (error) {
            *error = message;
        }
        return nullptr;
    }
    return Build(std::move(source), error, maxSpectra);
}

std::shared_ptr<const MsRun> MsRun::Open(const std::string& path, std::string* error) {
    {
        std::lock_guard lock(g_runCacheMutex);
        if (const HeldRun* held = FindHeldLocked(path)) {
            return held->run;
        }
    }
    g_fileLooks.fetch_add(1, std::memory_order_relaxed);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (error) {
            *error = std::string("cannot open: ") + std::strerror(errno);
        }
        return nullptr;
    }
    RunCacheKey key{path, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    {
        std::lock_guard lock(g_runCacheMutex);
        for (auto it = g_runCache.begin(); it != g_runCache.end(); ++it) {
            if (it->key == key) {
                g_runCache.splice(g_runCache.begin(), g_runCache, it);
                if (!it->run && error) {
                    *error = it->error;
                }
                return it->run;
            }
        }
        if (std::shared_ptr<const MsRun> run = RunInUse(key)) {
            std::erase_if(g_runCache, [&](const RunCacheEntry& e) { return e.key.path == key.path; });
            g_runCache.push_front({std::move(key), run, std::string()});
            if (g_runCache.size() > kRunCacheEntries) {
                g_runCache.pop_back();
            }
            return run;
        }
    }
    std::string message;
    std::shared_ptr<const MsRun> run = OpenUncached(path, &message);
    if (error && !run) {
        *error = message;
    }
    std::lock_guard lock(g_runCacheMutex);
    std::erase_if(g_runCache, [&](const RunCacheEntry& e) { return e.key.path == path; });
    std::erase_if(g_runsInUse,
                  [&](const auto& used) { return used.first.path == path || used.second.expired(); });
    if (run) {
        g_runsInUse.emplace_back(key, run);
    }
    g_runCache.push_front({std::move(key), run, message});
    if (g_runCache.size() > kRunCacheEntries) {
        g_runCache.pop_back();
    }
    return run;
}

void MsRun::ClearCache() {
    std::list<RunCacheEntry> dropped;
    std::lock_guard lock(g_runCacheMutex);
    dropped.swap(g_runCache);
    g_runsInUse.clear();
}

bool MsRun::SeeksCheaply() const {
    return source_->SeeksCheaply();
}

void MsRun::SetMetadataThreads(unsigned threadCount) {
    g_metadataThreads.store(threadCount, std::memory_order_relaxed);
}

MsRun::OpenStatistics MsRun::Statistics() {
    return {g_fileLooks.load(std::memory_order_relaxed), g_parses.load(std::memory_order_relaxed)};
}

MsRun::Hold::Hold(const std::string& path) : path_(path) {
    {
        std::lock_guard lock(g_runCacheMutex);
        if (HeldRun* held = FindHeldLocked(path)) {
            ++held->holders;
            run_ = held->run;
            return;
        }
    }
    std::shared_ptr<const MsRun> run = Open(path);
    if (!run) {
        return;
    }
    std::lock_guard lock(g_runCacheMutex);
    // Another thread may have taken a hold on the path meanwhile: share its run.
    if (HeldRun* held = FindHeldLocked(path)) {
        ++held->holders;
        run_ = held->run;
        return;
    }
    g_heldRuns.push_back({path, run, 1});
    run_ = std::move(run);
}

MsRun::Hold::~Hold() {
    if (!run_) {
        return;
    }
    std::shared_ptr<const MsRun> released;
    std::lock_guard lock(g_runCacheMutex);
    for (auto it = g_heldRuns.begin(); it != g_heldRuns.end(); ++it) {
        if (it->path == path_ && --it->holders == 0) {
            released = std::move(it->run);
            g_heldRuns.erase(it);
            break;
        }
    }
}

const std::vector<std::size_t>& MsRun::ScansOfFunction(int function) const {
    static const std::vector<std::size_t> kNone;
    if (function < 1 || function > FunctionCount()) {
        return kNone;
    }
    return functions_[static_cast<std::size_t>(function - 1)].scans;
}

const std::string& MsRun::FunctionDescription(int function) const {
    static const std::string kNone;
    if (function < 1 || function > FunctionCount()) {
        return kNone;
    }
    return functions_[static_cast<std::size_t>(function - 1)].description;
}

std::uint64_t MsRun::SpectrumEndBound(std::size_t index) const {
    const Location& location = locations_[index];
    if (location.length != 0) {
        return location.offset + location.length;
    }
    std::uint64_t bound = index + 1 < locations_.size() ? locations_[index + 1].offset : dataEnd_;
    if (bound == kNoPosition || bound <= location.offset) {
        bound = location.offset + kMaxSpectrumBytes;
    }
    return std::min(bound, location.offset + kMaxSpectrumBytes);
}

bool MsRun::DecodeUncached(std::size_t index, Spectrum& out) const {
    const Location& location = locations_[index];
    const std::uint64_t bound = SpectrumEndBound(index);
    thread_local std::string text;
    struct Trim {
        // One huge spectrum does not keep its text's memory for good.
        ~Trim() {
            if (text.capacity() > (std::size_t{16} << 20)) {
                std::string().swap(text);
            }
        }
    } trim;
    text.clear();
    if (location.length != 0) {
        if (location.length > kMaxSpectrumBytes) {
            return false;
        }
        text.resize(static_cast<std::size_t>(location.length));
        if (source_->ReadAt(location.offset, text.data(), text.size()) != text.size()) {
            return false;
        }
    } else {
        // Known only by its start: read on until the end of the spectrum (mzXML: of its peaks).
        const std::string_view close = format_ == FileFormat::Mzml ? "</spectrum>" : "</peaks>";
        std::size_t chunk = 256 * 1024;
        std::size_t searchFrom = 0;
        while (true) {
            const std::size_t have = text.size();
            const std::uint64_t remaining = bound - location.offset - have;
            if (remaining == 0) {
                return false;
            }
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, remaining));
            text.resize(have + want);
            const std::size_t got = source_->ReadAt(location.offset + have, text.data() + have, want);
            text.resize(have + got);
            // No XML holds a NUL byte: a hole in the file ends the spectrum here, before it is read.
            if (std::memchr(text.data() + have, '\0', got) != nullptr) {
                return false;
            }
            const std::size_t end = text.find(close, searchFrom);
            if (end != std::string::npos) {
                text.resize(end + close.size());
                break;
            }
            if (got < want) {
                return false;
            }
            searchFrom = text.size() - close.size() + 1;
            chunk *= 2;
        }
    }
    if (format_ == FileFormat::Mzml) {
        return DecodeMzmlSpectrum(text, *paramGroups_, out);
    }
    // Our extent of an mzXML scan stops at its peaks; close the scan element for the parser.
    if (text.size() > 2 && text.compare(text.size() - 2, 2, "/>") != 0) {
        text += "</scan>";
    }
    return DecodeMzxmlSpectrum(text, out);
}

std::string MsRun::NativeId(std::size_t index) const {
    if (index >= scans_.size()) {
        return {};
    }
    // The id is an attribute of the start tag: that tag alone is parsed as the whole header was.
    const Location& location = locations_[index];
    std::string text(static_cast<std::size_t>(
                         std::min<std::uint64_t>(SpectrumEndBound(index) - location.offset, kMaxHeaderBytes)),
                     '\0');
    text.resize(source_->ReadAt(location.offset, text.data(), text.size()));
    const std::size_t gt = text.find('>');
    if (gt == std::string::npos) {
        return {};
    }
    text.resize(gt + 1);
    ScanInfo info;
    std::string id;
    std::string fragment;
    // Whatever the header's defaults, the id reads the same.
    if (!Builder::ParseHeaderText(*this, false, text, info, id, fragment)) {
        return {};
    }
    return id;
}

std::shared_ptr<const Spectrum> MsRun::Decode(std::size_t index) const {
    if (index >= scans_.size()) {
        return nullptr;
    }
    {
        std::lock_guard lock(decodeCache_->mutex);
        auto& entries = decodeCache_->entries;
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->first == index) {
                entries.splice(entries.begin(), entries, it);
                return it->second;
            }
        }
    }
    std::shared_ptr<const Spectrum> result;
    try {
        auto spectrum = std::make_shared<Spectrum>();
        if (DecodeUncached(index, *spectrum)) {
            result = std::move(spectrum);
        }
    } catch (const std::bad_alloc&) {
        // Memory ran out on this spectrum alone: it reads as damaged, nothing more.
    }
    std::lock_guard lock(decodeCache_->mutex);
    auto& entries = decodeCache_->entries;
    entries.emplace_front(index, result);
    // The newest is always kept; older ones only while they are few and small together.
    std::size_t points = 0;
    std::size_t kept = 0;
    for (auto it = entries.begin(); it != entries.end(); ++it, ++kept) {
        if (kept >= kDecodedSpectraKept || (kept > 0 && points > kDecodedPointsKept)) {
            entries.erase(it, entries.end());
            break;
        }
        points += it->second ? it->second->mz.size() : 0;
    }
    return result;
}

} // namespace varnex::rawdata
