// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Replacing a file all at once, so that a failed or interrupted write leaves the old one as it was. The
// settings store, the window's export and varnex-list all write through here.

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace varnex::system {

struct AtomicWriteOptions {
    // The temporary file is `target` + this + six random characters, so that whoever cleans up after a
    // killed write can recognise it.
    std::string_view temporaryInfix = ".";
    // The new file's permission bits; by default those of a newly created file (0666 less the umask).
    std::optional<mode_t> permissions;
};

// Writes `contents` next to `target` and renames it over `target`. False with the system's reason in
// `error` when any step fails; the temporary file is then removed.
bool WriteFileAtomically(const std::string& target, std::string_view contents, std::string& error,
                         const AtomicWriteOptions& options = {});

} // namespace varnex::system
