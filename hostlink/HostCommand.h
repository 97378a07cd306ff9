// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's commands, as Varnex sends them: app.command[display:verb](arguments), arguments separated
// by ':'. A data-set path is always the last argument, unquoted, and may itself hold ':', ')' or any
// other character, so arguments are split from the left by their known count and the path is the rest.
// The window formats them here and the host parses them here, so both read one grammar.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace varnex::hostlink {

enum class HostVerb {
    ChromatogramClear,      // chrodisplay:clear()
    ChromatogramAddTic,     // chrodisplay:add(TIC:F)
    ChromatogramSetPointer, // chrodisplay:setpointer(SCAN:S)
    SpectrumLaunch,         // specdisplay:DDALaunch(P)
    SpectrumClear,          // specdisplay:clear()
    SpectrumCombine,        // specdisplay:combine(A:B:F:P)
    SpectrumAdd,            // specdisplay:add(F:S)
};

struct HostCommand {
    HostVerb verb = HostVerb::ChromatogramClear;
    int function = 0;  // from 1; 1 is the survey function
    int scan = 0;      // SCAN:S and add(F:S): scan from 1; 0 when there is none
    int firstScan = 0; // combine: A
    int lastScan = 0;  // combine: B
    std::string path;

    bool operator==(const HostCommand&) const = default;
};

struct HostCommandParse {
    std::optional<HostCommand> command;
    std::string error; // why the text is not a command, when command is empty
};

HostCommandParse ParseHostCommand(std::string_view text);

// The text of `command`, which ParseHostCommand reads back as the same command.
std::string FormatHostCommand(const HostCommand& command);

// The precursor a double-click shows, as the host is told about it.
struct HostPrecursor {
    int function = 0;   // its MS/MS function, from 1
    int surveyScan = 0; // the survey scan it was selected from; 0 when it lies before every survey scan
    int firstScan = 0;
    int lastScan = 0;
    std::string path; // the data set
};

inline constexpr std::size_t kShowPrecursorCommandCount = 8;
inline constexpr int kHostSurveyFunction = 1;

// The commands that show `precursor`, in the order they are sent: both chromatogram traces (its function
// and the survey function) with the pointer on its survey scan, then its combined MS/MS spectrum and
// the survey spectrum.
std::array<HostCommand, kShowPrecursorCommandCount> ShowPrecursorCommands(const HostPrecursor& precursor);

} // namespace varnex::hostlink
