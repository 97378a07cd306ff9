// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/ListWindowSettings.h"

#include <algorithm>

#include "model/PrecursorColumn.h"
#include "settings/DecimalPlaces.h"
#include "settings/ScopedKey.h"
#include "system/Registry.h"

using varnex::model::PrecursorColumnFromIndex;

namespace varnex::settings {

namespace {

// Far above anything the window writes; a larger value is not ours and is not read.
constexpr DWORD kMaxValueBytes = 64 * 1024;

std::optional<std::string> ReadValue(const char* name, DWORD expectedType) {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDecimalPlacesKey, 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != expectedType || size == 0 || size > kMaxValueBytes) {
        return std::nullopt;
    }
    std::string data(size, '\0');
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size) !=
            ERROR_SUCCESS ||
        type != expectedType) {
        return std::nullopt;
    }
    data.resize(std::min<std::size_t>(size, data.size()));
    return data;
}

bool WriteValue(const char* name, DWORD type, const std::string& data) {
    ScopedKey key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kDecimalPlacesKey, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

// A text value up to its NUL; one without a NUL is not a text the window wrote.
std::optional<std::string> ReadText(const char* name) {
    auto data = ReadValue(name, REG_SZ);
    if (!data || data->back() != '\0') {
        return std::nullopt;
    }
    data->resize(data->find('\0'));
    return data;
}

bool WriteText(const char* name, const std::string& text) {
    return WriteValue(name, REG_SZ, std::string(text.c_str()) + '\0');
}

} // namespace

std::optional<std::string> ReadWindowPlacement() {
    auto text = ReadText(kWindowPlacementValue);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    return text;
}

bool WriteWindowPlacement(const std::string& placement) {
    return WriteText(kWindowPlacementValue, placement);
}

std::optional<int> ReadSortColumn() {
    const auto text = ReadText(kSortColumnValue);
    // One digit, the number of a column of the list.
    if (!text || text->size() != 1 || (*text)[0] < '0' || (*text)[0] > '9' ||
        !PrecursorColumnFromIndex((*text)[0] - '0')) {
        return std::nullopt;
    }
    return (*text)[0] - '0';
}

bool WriteSortColumn(int column) {
    if (!PrecursorColumnFromIndex(column)) {
        return false;
    }
    return WriteText(kSortColumnValue, std::to_string(column));
}

// A list of texts, each ended by a NUL, the list by one more.
std::vector<std::string> ReadRecentDataSets() {
    std::vector<std::string> paths;
    const auto data = ReadValue(kRecentDataSetsValue, REG_MULTI_SZ);
    if (!data) {
        return paths;
    }
    std::size_t start = 0;
    while (start < data->size() && paths.size() < kMaxRecentDataSets) {
        const std::size_t end = data->find('\0', start);
        if (end == std::string::npos || end == start) {
            break; // the list's end, or a last text cut short
        }
        std::string path = data->substr(start, end - start);
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
            paths.push_back(std::move(path));
        }
        start = end + 1;
    }
    return paths;
}

std::vector<std::string> AddRecentDataSet(const std::string& path) {
    std::vector<std::string> paths = ReadRecentDataSets();
    if (path.empty() || path.find('\0') != std::string::npos) {
        return paths;
    }
    paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
    paths.insert(paths.begin(), path);
    if (paths.size() > kMaxRecentDataSets) {
        paths.resize(kMaxRecentDataSets);
    }
    std::string data;
    for (const std::string& entry : paths) {
        data += entry + '\0';
    }
    data += '\0';
    WriteValue(kRecentDataSetsValue, REG_MULTI_SZ, data);
    return paths;
}

} // namespace varnex::settings
