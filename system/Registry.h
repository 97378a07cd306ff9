// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The system registry as the program uses it: a hierarchical store of keys holding typed values, with
// the platform's calls, handles, access rights, type tags and result codes.
//
// The store is one file per user: $VARNEX_REGISTRY_FILE when set, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/varnex/registry. All root keys (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER
// ...) live in that one file; nothing is shared between users. Every call reads the file afresh.
//
// File format: text, one record per line. The first line is "VarnexRegistry 1" (magic and version);
// then "key" lines naming every key by its full path, "value" lines with the key, the value name, the
// type tag, the data size and the data, and a last line "end". Strings are quoted; inside them a byte
// outside printable ASCII, '"' and '\' are written as \xHH, \" and \\. Key paths and value names compare
// without regard to ASCII case, as on the platform.
//
// Safety: every change is made under an exclusive flock on "<file>.lock", by reading the file again,
// changing it and replacing it atomically (temporary file, fsync, rename). Two processes therefore never
// lose each other's keys, and of two writes to the same value the last one wins. A write also removes
// the temporary files of earlier writes that were killed before their rename. A store file that is a
// symbolic link is read and written through the link: the target is replaced, the link stays. A file that is
// not a valid store (damaged, truncated, foreign) reads as if no key existed and is never replaced: opening
// for writing, creating keys and setting values then fail. Opening with write rights fails with
// ERROR_ACCESS_DENIED where the file or its folder cannot be written; opening for reading where the file
// cannot be read.

#include <cstdint>
#include <string>

#include "system/WinTypes.h"

struct RegistryKeyObject;
using HKEY = RegistryKeyObject*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u));

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

namespace varnex::system {
// Largest value the store accepts, so that a store file stays small.
inline constexpr DWORD kRegistryMaxValueBytes = 1024 * 1024;
} // namespace varnex::system

// Opens an existing key. ERROR_FILE_NOT_FOUND when it does not exist (or the store is not valid),
// ERROR_ACCESS_DENIED when the rights asked for cannot be granted.
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// Opens the key, creating it and its missing parents. An existing key in a store that cannot be written
// opens for reading only; a missing one then cannot be created (ERROR_ACCESS_DENIED). ERROR_BADDB when
// the file is not a valid store.
LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
// Stores cbData bytes of lpData as value lpValueName (null or "": the key's default value) with type
// dwType. The key needs KEY_SET_VALUE.
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
// Reads a value: its type into *lpType and its bytes into lpData (when given) and its size into
// *lpcbData. ERROR_MORE_DATA, with the size needed in *lpcbData, when the buffer is too small. The key
// needs KEY_QUERY_VALUE.
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData);
LONG RegCloseKey(HKEY hKey);

namespace varnex::system {

// The store file this process uses now (see above); empty when no location can be worked out.
std::string RegistryFilePath();
// Diagnostics: key handles open in this process.
int OpenRegistryKeyCount();

} // namespace varnex::system
