#pragma once

// The host's commands, as Varnex sends them: app.command[display:verb](arguments), arguments separated
// by ':'. A data-set path is always the last argument, unquoted, and may itself hold ':', ')' or any
// other character, so arguments are split from the left by their known count and the path is the rest.

#include <optional>
#include <string>
#include <string_view>

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
};

struct HostCommandParse {
    std::optional<HostCommand> command;
    std::string error; // why the text is not a command, when command is empty
};

HostCommandParse ParseHostCommand(std::string_view text);
