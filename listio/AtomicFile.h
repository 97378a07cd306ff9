#pragma once

// Replacing a file all at once, so that a failed or interrupted write leaves the old one as it was.

#include <string>

// Writes `contents` next to `target` and renames it over `target`. False with the system's reason in
// `error` when any step fails; the temporary file is then removed.
bool writeFileAtomically(const std::string& target, const std::string& contents, std::string& error);
