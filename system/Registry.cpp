// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/AtomicFile.h"

using varnex::system::RegistryFilePath;
using varnex::system::WriteFileAtomically;

struct RegistryKeyObject {
    std::string path; // full path from the root name, components as first created
    REGSAM access = 0;
};

namespace {

constexpr std::string_view kMagicLine = "VarnexRegistry 1";
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;
// Larger files are not ours: refusing them bounds what a read can cost.
constexpr off_t kMaxStoreBytes = 64 * 1024 * 1024;

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return lower;
}

// ---- the store in memory ----

struct StoredValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct StoredKey {
    std::string path;
    std::map<std::string, StoredValue> values; // by lower-case name
};

struct Store {
    std::map<std::string, StoredKey> keys; // by lower-case path

    StoredKey* Find(const std::string& path) {
        const auto it = keys.find(LowerAscii(path));
        return it != keys.end() ? &it->second : nullptr;
    }
    // Adds the key and its missing parents; returns the key.
    StoredKey& Create(const std::string& path) {
        for (std::size_t end = path.find('\\'); end != std::string::npos; end = path.find('\\', end + 1)) {
            Add(path.substr(0, end));
        }
        return Add(path);
    }

private:
    StoredKey& Add(const std::string& path) {
        auto [it, added] = keys.try_emplace(LowerAscii(path));
        if (added) {
            it->second.path = path;
        }
        return it->second;
    }
};

// ---- the file format ----

std::string Quote(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
            out += hex;
        }
    }
    out += '"';
    return out;
}

std::string Serialise(const Store& store) {
    std::string text(kMagicLine);
    text += '\n';
    for (const auto& [lowerPath, key] : store.keys) {
        text += "key " + Quote(key.path) + '\n';
    }
    for (const auto& [lowerPath, key] : store.keys) {
        for (const auto& [lowerName, value] : key.values) {
            text +=
                "value " + Quote(key.path) + ' ' + Quote(value.name) + ' ' + std::to_string(value.type) +
                ' ' + std::to_string(value.data.size()) + ' ' +
                Quote(std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size())) +
                '\n';
        }
    }
    text += "end\n";
    return text;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Reads one line's fields: bare words and quoted strings separated by single spaces.
class LineReader final {
public:
    explicit LineReader(std::string_view line) : line_(line) {}

    std::optional<std::string> Word() {
        if (!Separator()) {
            return std::nullopt;
        }
        const std::size_t end = std::min(line_.find(' ', pos_), line_.size());
        if (end == pos_ || line_[pos_] == '"') {
            return std::nullopt;
        }
        std::string word(line_.substr(pos_, end - pos_));
        pos_ = end;
        return word;
    }

    std::optional<std::string> Quoted() {
        if (!Separator() || pos_ >= line_.size() || line_[pos_] != '"') {
            return std::nullopt;
        }
        std::string out;
        for (++pos_; pos_ < line_.size(); ++pos_) {
            const char c = line_[pos_];
            if (c == '"') {
                ++pos_;
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++pos_ >= line_.size()) {
                return std::nullopt;
            }
            const char escaped = line_[pos_];
            if (escaped == '"' || escaped == '\\') {
                out += escaped;
            } else if (escaped == 'x' && pos_ + 2 < line_.size() && IsHexDigit(line_[pos_ + 1]) &&
                       IsHexDigit(line_[pos_ + 2])) {
                out += static_cast<char>(std::stoi(std::string(line_.substr(pos_ + 1, 2)), nullptr, 16));
                pos_ += 2;
            } else {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<unsigned long> Number() {
        const auto word = Word();
        if (!word || word->size() > 10 ||
            !std::all_of(word->begin(), word->end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        const unsigned long long number = std::stoull(*word);
        if (number > 0xFFFFFFFFull) {
            return std::nullopt;
        }
        return static_cast<unsigned long>(number);
    }

    bool AtEnd() const { return pos_ == line_.size(); }

private:
    bool Separator() {
        if (pos_ == 0 && !started_) {
            started_ = true;
            return true;
        }
        if (pos_ < line_.size() && line_[pos_] == ' ') {
            ++pos_;
            return true;
        }
        return false;
    }

    std::string_view line_;
    std::size_t pos_ = 0;
    bool started_ = false;
};

bool ValidKeyPath(std::string_view path);

std::optional<Store> Parse(std::string_view text) {
    Store store;
    std::size_t pos = 0;
    auto nextLine = [&]() -> std::optional<std::string_view> {
        if (pos >= text.size()) {
            return std::nullopt;
        }
        const std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            return std::nullopt; // every line ends with a newline: this one was cut short
        }
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        return line;
    };
    if (nextLine() != kMagicLine) {
        return std::nullopt;
    }
    for (;;) {
        const auto line = nextLine();
        if (!line) {
            return std::nullopt; // no "end": truncated
        }
        if (*line == "end") {
            return pos == text.size() ? std::optional<Store>(std::move(store)) : std::nullopt;
        }
        LineReader reader(*line);
        const auto kind = reader.Word();
        const auto keyPath = reader.Quoted();
        if (!kind || !keyPath || !ValidKeyPath(*keyPath)) {
            return std::nullopt;
        }
        if (*kind == "key") {
            if (!reader.AtEnd()) {
                return std::nullopt;
            }
            store.Create(*keyPath);
            continue;
        }
        const auto name = reader.Quoted();
        const auto type = reader.Number();
        const auto size = reader.Number();
        const auto data = reader.Quoted();
        StoredKey* key = store.Find(*keyPath);
        if (*kind != "value" || !name || !type || !size || !data || !reader.AtEnd() || key == nullptr ||
            data->size() != *size || key->values.count(LowerAscii(*name)) != 0) {
            return std::nullopt;
        }
        key->values[LowerAscii(*name)] =
            StoredValue{*name, static_cast<DWORD>(*type), {data->begin(), data->end()}};
    }
}

// ---- paths and handles ----

std::string RootName(HKEY hKey) {
    const auto value = reinterpret_cast<std::uintptr_t>(hKey);
    switch (value) {
    case 0x80000000u:
        return "HKEY_CLASSES_ROOT";
    case 0x80000001u:
        return "HKEY_CURRENT_USER";
    case 0x80000002u:
        return "HKEY_LOCAL_MACHINE";
    case 0x80000003u:
        return "HKEY_USERS";
    default:
        return {};
    }
}

bool ValidKeyPath(std::string_view path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
        path.find("\\\\") != std::string_view::npos) {
        return false;
    }
    const std::size_t rootEnd = path.find('\\');
    const std::string_view root = path.substr(0, rootEnd);
    return root == "HKEY_CLASSES_ROOT" || root == "HKEY_CURRENT_USER" || root == "HKEY_LOCAL_MACHINE" ||
           root == "HKEY_USERS";
}

class KeyTable final {
public:
    HKEY Open(std::string path, REGSAM access) {
        auto* key = new RegistryKeyObject{std::move(path), access};
        const std::lock_guard lock(mutex_);
        keys_.insert(key);
        return key;
    }
    // The key's path and rights, for a predefined root or an open handle.
    std::optional<RegistryKeyObject> Find(HKEY hKey) {
        if (std::string root = RootName(hKey); !root.empty()) {
            return RegistryKeyObject{std::move(root), KEY_ALL_ACCESS};
        }
        const std::lock_guard lock(mutex_);
        if (keys_.count(hKey) == 0) {
            return std::nullopt;
        }
        return *hKey;
    }
    LONG Close(HKEY hKey) {
        if (!RootName(hKey).empty()) {
            return ERROR_SUCCESS;
        }
        {
            const std::lock_guard lock(mutex_);
            if (keys_.erase(hKey) == 0) {
                return ERROR_INVALID_HANDLE;
            }
        }
        delete hKey;
        return ERROR_SUCCESS;
    }
    int Size() {
        const std::lock_guard lock(mutex_);
        return static_cast<int>(keys_.size());
    }

private:
    std::mutex mutex_;
    std::unordered_set<HKEY> keys_;
};

KeyTable& OpenKeys() {
    static KeyTable table;
    return table;
}

// The full path of lpSubKey below hKey; nullopt for an invalid handle or sub-key.
std::optional<std::string> FullPath(const RegistryKeyObject& parent, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr || *lpSubKey == '\0') {
        return parent.path;
    }
    std::string path = parent.path + '\\' + lpSubKey;
    return ValidKeyPath(path) ? std::optional<std::string>(std::move(path)) : std::nullopt;
}

std::string ParentDirectory(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : file.substr(0, slash);
}

// ---- the file on disk ----

enum class LoadStatus { Ok, Missing, Unreadable, Invalid };

struct Loaded {
    LoadStatus status = LoadStatus::Missing;
    Store store;
};

Loaded Load(const std::string& file) {
    Loaded loaded;
    if (file.empty()) {
        return loaded;
    }
    // Non-blocking: a pipe in the store's place must not wait for a writer (it is then refused below).
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        loaded.status = errno == ENOENT || errno == ENOTDIR ? LoadStatus::Missing : LoadStatus::Unreadable;
        return loaded;
    }
    struct stat info {};
    std::string text;
    bool readOk = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxStoreBytes;
    if (readOk) {
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0 || static_cast<off_t>(text.size() + n) > kMaxStoreBytes) {
                readOk = n == 0;
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    auto store = readOk ? Parse(text) : std::nullopt;
    loaded.status = store ? LoadStatus::Ok : LoadStatus::Invalid;
    if (store) {
        loaded.store = std::move(*store);
    }
    return loaded;
}

bool MakeDirectories(const std::string& directory) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    if (directory == "/" || directory == ".") {
        return false;
    }
    if (!MakeDirectories(ParentDirectory(directory))) {
        return false;
    }
    return ::mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST;
}

// Whether a change could be written: the file (when present) and its folder are writable. A folder that
// does not exist yet counts as writable when its nearest existing ancestor is.
bool Writable(const std::string& file) {
    if (file.empty()) {
        return false;
    }
    if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), R_OK | W_OK) != 0) {
        return false;
    }
    std::string directory = ParentDirectory(file);
    struct stat info {};
    while (::stat(directory.c_str(), &info) != 0) {
        if (errno != ENOENT || directory == "/" || directory == ".") {
            return false;
        }
        directory = ParentDirectory(directory);
    }
    return S_ISDIR(info.st_mode) && ::access(directory.c_str(), W_OK | X_OK) == 0;
}

// The temporary file of a write is "<store>.tmp.XXXXXX" (earlier versions: "<store>.XXXXXX").
constexpr std::string_view kTemporaryInfix = ".tmp.";

bool IsMkstempSuffix(std::string_view suffix) {
    return suffix.size() == 6 && std::all_of(suffix.begin(), suffix.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
           });
}

// Empty, or the start of a store: what a write killed before its rename leaves behind.
bool HoldsPartOfAStore(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    char head[kMagicLine.size()] = {};
    const ssize_t n = ::read(fd, head, sizeof(head));
    ::close(fd);
    return n >= 0 && kMagicLine.starts_with(std::string_view(head, static_cast<std::size_t>(n)));
}

// Removes the temporary files of writes that were killed before their rename. Called with the writer
// lock held: every write happens under it, so no temporary file found then belongs to a live writer.
// Files named like an earlier version's temporaries are removed only when they look like one (a name a
// person would choose, "registry.backup", is all lower case and is spared).
void RemoveStaleTemporaries(const std::string& file) {
    const std::string directory = ParentDirectory(file);
    const std::string prefix = file.substr(file.rfind('/') + 1) + '.';
    DIR* listing = ::opendir(directory.c_str());
    if (listing == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix)) {
            continue;
        }
        const std::string_view rest = name.substr(prefix.size());
        const std::string path = directory + '/' + std::string(name);
        const bool current = rest.starts_with(kTemporaryInfix.substr(1)) &&
                             IsMkstempSuffix(rest.substr(kTemporaryInfix.size() - 1));
        const bool earlier =
            IsMkstempSuffix(rest) &&
            !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= 'a' && c <= 'z'; }) &&
            HoldsPartOfAStore(path);
        struct stat info {};
        if ((current || earlier) && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid()) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(listing);
}

// Replaces the file in one step: readers see either the old store or the new one.
bool Save(const std::string& file, const Store& store) {
    RemoveStaleTemporaries(file);
    struct stat info {};
    // A new store is private to the user; a replaced one keeps the permissions it was given.
    const mode_t mode = ::stat(file.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0600;
    std::string ignored;
    return WriteFileAtomically(file, Serialise(store), ignored, {kTemporaryInfix, mode});
}

// Holds the store's writer lock for one change.
class WriterLock final {
public:
    explicit WriterLock(const std::string& file) {
        if (!MakeDirectories(ParentDirectory(file))) {
            return;
        }
        fd_ = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~WriterLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

LONG ErrorFor(LoadStatus status) {
    switch (status) {
    case LoadStatus::Unreadable:
        return ERROR_ACCESS_DENIED;
    case LoadStatus::Invalid:
        return ERROR_BADDB;
    default:
        return ERROR_FILE_NOT_FOUND;
    }
}

// Clears *phkResult and works out the full path of lpSubKey below hKey; badSubKey is the result for a
// malformed sub-key.
LONG ResolveSubKey(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult, LONG badSubKey, std::string& path) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    const auto parent = OpenKeys().Find(hKey);
    if (!parent) {
        return ERROR_INVALID_HANDLE;
    }
    auto full = FullPath(*parent, lpSubKey);
    if (!full) {
        return badSubKey;
    }
    path = std::move(*full);
    return ERROR_SUCCESS;
}

// The file the store at `file` stands for: symbolic links are followed, so that a write replaces the
// link's target and the link stays (a link to a missing file names the file to create). Empty for a
// chain of links that does not end, which is then neither read nor written.
std::string StoreFile(std::string file) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (file.empty() || ::lstat(file.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return file;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(file.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            return {};
        }
        target.resize(static_cast<std::size_t>(length));
        file = target.front() == '/' ? target : ParentDirectory(file) + '/' + target;
    }
    return {};
}

} // namespace

namespace varnex::system {

std::string RegistryFilePath() {
    if (const char* file = std::getenv("VARNEX_REGISTRY_FILE"); file != nullptr && *file != '\0') {
        return file;
    }
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        configHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        configHome = std::string(home) + "/.config";
    } else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        configHome = std::string(entry->pw_dir) + "/.config";
    } else {
        return {};
    }
    return configHome + "/varnex/registry";
}

} // namespace varnex::system

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    std::string fullKeyPath;
    if (const LONG resolved = ResolveSubKey(hKey, lpSubKey, phkResult, ERROR_FILE_NOT_FOUND, fullKeyPath);
        resolved != ERROR_SUCCESS) {
        return resolved;
    }
    const std::string& path = fullKeyPath;
    const std::string file = StoreFile(RegistryFilePath());
    Loaded loaded = Load(file);
    if (loaded.status == LoadStatus::Unreadable) {
        return ERROR_ACCESS_DENIED;
    }
    // A root key exists as long as the store does.
    const bool isRoot = path.find('\\') == std::string::npos;
    if (loaded.status != LoadStatus::Ok || (!isRoot && loaded.store.Find(path) == nullptr)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if ((samDesired & kWriteRights) != 0 && !Writable(file)) {
        return ERROR_ACCESS_DENIED;
    }
    *phkResult = OpenKeys().Open(isRoot ? path : loaded.store.Find(path)->path, samDesired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    std::string fullKeyPath;
    if (const LONG resolved = ResolveSubKey(hKey, lpSubKey, phkResult, ERROR_INVALID_PARAMETER, fullKeyPath);
        resolved != ERROR_SUCCESS) {
        return resolved;
    }
    const std::string& path = fullKeyPath;
    const std::string file = StoreFile(RegistryFilePath());
    const bool isRoot = path.find('\\') == std::string::npos;
    if (!Writable(file)) {
        Loaded loaded = Load(file);
        if (loaded.status != LoadStatus::Ok) {
            return loaded.status == LoadStatus::Missing ? ERROR_ACCESS_DENIED : ErrorFor(loaded.status);
        }
        if (!isRoot && loaded.store.Find(path) == nullptr) {
            return ERROR_ACCESS_DENIED;
        }
        *phkResult = OpenKeys().Open(isRoot ? path : loaded.store.Find(path)->path, KEY_READ);
        return ERROR_SUCCESS;
    }
    const WriterLock lock(file);
    if (!lock.Held()) {
        return ERROR_ACCESS_DENIED;
    }
    Loaded loaded = Load(file);
    if (loaded.status != LoadStatus::Ok && loaded.status != LoadStatus::Missing) {
        return ErrorFor(loaded.status);
    }
    std::string storedPath = path;
    if (!isRoot) {
        if (StoredKey* existing = loaded.store.Find(path); existing != nullptr) {
            storedPath = existing->path;
        } else {
            storedPath = loaded.store.Create(path).path;
            if (!Save(file, loaded.store)) {
                return ERROR_ACCESS_DENIED;
            }
        }
    } else if (loaded.status == LoadStatus::Missing && !Save(file, loaded.store)) {
        return ERROR_ACCESS_DENIED;
    }
    *phkResult = OpenKeys().Open(storedPath, KEY_ALL_ACCESS);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    const auto key = OpenKeys().Find(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    if (Reserved != 0 || (lpData == nullptr && cbData != 0) ||
        cbData > varnex::system::kRegistryMaxValueBytes) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((key->access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const std::string file = StoreFile(RegistryFilePath());
    if (!Writable(file)) {
        return ERROR_ACCESS_DENIED;
    }
    const WriterLock lock(file);
    if (!lock.Held()) {
        return ERROR_ACCESS_DENIED;
    }
    Loaded loaded = Load(file);
    const bool isRoot = key->path.find('\\') == std::string::npos;
    if (loaded.status == LoadStatus::Unreadable || loaded.status == LoadStatus::Invalid) {
        return ErrorFor(loaded.status);
    }
    StoredKey* stored = isRoot ? &loaded.store.Create(key->path) : loaded.store.Find(key->path);
    if (stored == nullptr) {
        return ERROR_KEY_DELETED; // removed by someone else since it was opened
    }
    const std::string name = lpValueName != nullptr ? lpValueName : "";
    StoredValue& value = stored->values[LowerAscii(name)];
    if (value.name.empty()) {
        value.name = name;
    }
    value.type = dwType;
    value.data.assign(lpData, lpData + cbData);
    return Save(file, loaded.store) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    const auto key = OpenKeys().Find(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((key->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    Loaded loaded = Load(StoreFile(RegistryFilePath()));
    if (loaded.status == LoadStatus::Unreadable) {
        return ERROR_ACCESS_DENIED;
    }
    const bool isRoot = key->path.find('\\') == std::string::npos;
    StoredKey* stored = loaded.status == LoadStatus::Ok ? loaded.store.Find(key->path) : nullptr;
    if (stored == nullptr) {
        return isRoot && loaded.status == LoadStatus::Ok ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    }
    const auto it = stored->values.find(LowerAscii(lpValueName != nullptr ? lpValueName : ""));
    if (it == stored->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const StoredValue& value = it->second;
    if (lpType != nullptr) {
        *lpType = value.type;
    }
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpcbData == nullptr) {
        return ERROR_SUCCESS;
    }
    if (lpData != nullptr && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData != nullptr && size > 0) {
        std::memcpy(lpData, value.data.data(), size);
    }
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    return OpenKeys().Close(hKey);
}

namespace varnex::system {

int OpenRegistryKeyCount() {
    return OpenKeys().Size();
}

} // namespace varnex::system
