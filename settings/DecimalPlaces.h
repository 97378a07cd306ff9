// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The display settings: the decimal places of the switching time, set mass and intensity columns, kept
// as one text value "a:b:c" in the registry. The column table (model/PrecursorColumn.h) names which
// character is whose; readers take each as a one-character substring. Nothing is cached: every reader
// reads the registry afresh.

#include <string>

namespace varnex::settings {

inline constexpr const char* kDecimalPlacesKey = "SOFTWARE\\Pellicore\\Varnex\\Config";
inline constexpr const char* kDecimalPlacesValue = "DecimalPlaces";
inline constexpr const char* kDefaultDecimalPlaces = "2:2:0";

} // namespace varnex::settings

// Makes sure the key exists: when it cannot be opened with full access, creates it and stores the
// default. An existing key is left as it is, with or without the value.
void EnsureDecimalPlaces();

// The stored text, or empty when the key or value cannot be read or the value exceeds 259 characters.
std::string ReadDecimalPlaces();

// Stores "s:m:i" when the key opens with full access. Returns whether the value was stored.
bool WriteDecimalPlaces(int switchingTimePlaces, int setMassPlaces, int intensityPlaces);

namespace varnex::settings {

// The one-character setting at `position` of `text` ("" beyond its end).
std::string DecimalPlacesAt(const std::string& text, std::size_t position);

} // namespace varnex::settings
