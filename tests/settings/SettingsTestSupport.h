// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Direct access to the decimal-places value, to set up and inspect the store beside the code under test.

#include <string>

#include "settings/DecimalPlaces.h"
#include "system/Registry.h"

namespace settings_test {

using varnex::settings::kDecimalPlacesKey;
using varnex::settings::kDecimalPlacesValue;

struct StoredValue {
    LONG result = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::string bytes; // as stored, NUL included
};

inline StoredValue ReadStoredValue() {
    StoredValue value;
    HKEY key = nullptr;
    value.result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDecimalPlacesKey, 0, KEY_QUERY_VALUE, &key);
    if (value.result != ERROR_SUCCESS) {
        return value;
    }
    char buffer[1024] = {};
    DWORD size = sizeof(buffer);
    value.result = RegQueryValueExA(key, kDecimalPlacesValue, nullptr, &value.type,
                                    reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (value.result == ERROR_SUCCESS) {
        value.bytes.assign(buffer, size);
    }
    return value;
}

// Creates the settings key; stores `bytes` as they are under `name` when given. False when the key
// could not be created.
inline bool StoreNamedValue(const char* name, const std::string* bytes, DWORD type) {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kDecimalPlacesKey, &key) != ERROR_SUCCESS) {
        return false;
    }
    if (bytes != nullptr) {
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes->data()),
                       static_cast<DWORD>(bytes->size()));
    }
    RegCloseKey(key);
    return true;
}

// Creates the key; stores `bytes` as they are when given.
inline void StoreValue(const std::string* bytes, DWORD type = REG_EXPAND_SZ) {
    StoreNamedValue(kDecimalPlacesValue, bytes, type);
}

inline void StoreText(const std::string& text, DWORD type = REG_EXPAND_SZ) {
    const std::string bytes = text + '\0';
    StoreValue(&bytes, type);
}

inline std::string WithNul(const char* text) {
    return std::string(text) + '\0';
}

} // namespace settings_test
