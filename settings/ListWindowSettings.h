// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the list window remembers between runs, kept beside the decimal places under the same key: its
// placement, the column it was last sorted by, and the data sets opened last. Each value is its own, so
// that a damaged one costs only itself; a reader that finds none, or one it cannot use, returns nothing
// and the window starts as its template says.

#include <optional>
#include <string>
#include <vector>

namespace varnex::settings {

inline constexpr const char* kWindowPlacementValue = "WindowPlacement";
inline constexpr const char* kSortColumnValue = "SortColumn";
inline constexpr const char* kRecentDataSetsValue = "RecentDataSets";
inline constexpr std::size_t kMaxRecentDataSets = 8;

// The window's placement as the window system saves it (opaque bytes, stored as base64 text).
std::optional<std::string> ReadWindowPlacement();
bool WriteWindowPlacement(const std::string& placement);

// The last sort column, 0 to 4.
std::optional<int> ReadSortColumn();
bool WriteSortColumn(int column);

// The data sets opened last, newest first, at most kMaxRecentDataSets.
std::vector<std::string> ReadRecentDataSets();
// Puts `path` first (once), dropping the oldest beyond the limit; returns the new list.
std::vector<std::string> AddRecentDataSet(const std::string& path);

} // namespace varnex::settings
