// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/DecimalPlaces.h"

#include <cstdio>
#include <cstring>

#include "settings/ScopedKey.h"
#include "system/Registry.h"

using varnex::settings::kDecimalPlacesKey;
using varnex::settings::kDecimalPlacesValue;
using varnex::settings::kDefaultDecimalPlaces;
using varnex::settings::ScopedKey;

namespace {

constexpr DWORD kReadBufferBytes = 260;
constexpr std::size_t kStagingBufferBytes = 80;

bool OpenFullAccess() {
    ScopedKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDecimalPlacesKey, 0, KEY_ALL_ACCESS, key.Receive()) ==
           ERROR_SUCCESS;
}

// Stores `text` as the value, NUL included, through a key created or opened for the purpose.
bool StoreText(const char* text) {
    ScopedKey key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kDecimalPlacesKey, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    char staging[kStagingBufferBytes] = {};
    std::snprintf(staging, sizeof(staging), "%s", text);
    const auto size = static_cast<DWORD>(std::strlen(staging) + 1);
    return RegSetValueExA(key.Get(), kDecimalPlacesValue, 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(staging), size) == ERROR_SUCCESS;
}

} // namespace

void EnsureDecimalPlaces() {
    // Whoever cannot open the key with full access gets the default written, where the store permits.
    if (!OpenFullAccess()) {
        StoreText(kDefaultDecimalPlaces);
    }
}

std::string ReadDecimalPlaces() {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDecimalPlacesKey, 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS) {
        return {};
    }
    char buffer[kReadBufferBytes] = {};
    DWORD size = kReadBufferBytes;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key.Get(), kDecimalPlacesValue, nullptr, &type, reinterpret_cast<LPBYTE>(buffer),
                         &size) != ERROR_SUCCESS) {
        return {};
    }
    // Up to the first NUL, and never past the bytes read: a value without its NUL still ends.
    return std::string(buffer, ::strnlen(buffer, size));
}

bool WriteDecimalPlaces(int switchingTimePlaces, int setMassPlaces, int intensityPlaces) {
    char text[kStagingBufferBytes];
    std::snprintf(text, sizeof(text), "%d:%d:%d", switchingTimePlaces, setMassPlaces, intensityPlaces);
    if (!OpenFullAccess()) {
        return false;
    }
    return StoreText(text);
}

namespace varnex::settings {

std::string DecimalPlacesAt(const std::string& text, std::size_t position) {
    return position < text.size() ? text.substr(position, 1) : std::string();
}

} // namespace varnex::settings
