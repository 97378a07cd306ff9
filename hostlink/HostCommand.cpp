// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostlink/HostCommand.h"

#include <charconv>
#include <utility>
#include <vector>

namespace varnex::hostlink {

namespace {

constexpr std::string_view kPrefix = "app.command[";

HostCommandParse Malformed(std::string why) {
    return HostCommandParse{std::nullopt, std::move(why)};
}

// A signed decimal integer that fits an int, nothing else (no blanks, no '+', no fraction).
std::optional<int> ParseInteger(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || next != end) {
        return std::nullopt;
    }
    return value;
}

// The first `count` ':'-separated fields, and the rest (the path) as field count+1 when `withRest`.
std::optional<std::vector<std::string_view>> SplitArguments(std::string_view arguments, std::size_t count,
                                                            bool withRest) {
    std::vector<std::string_view> fields;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t colon = arguments.find(':');
        if (colon == std::string_view::npos) {
            if (withRest || i + 1 < count) {
                return std::nullopt;
            }
            fields.push_back(arguments);
            return fields;
        }
        fields.push_back(arguments.substr(0, colon));
        arguments.remove_prefix(colon + 1);
    }
    if (!withRest) {
        return std::nullopt; // more fields than the verb takes
    }
    fields.push_back(arguments);
    return fields;
}

std::optional<int> TaggedInteger(std::string_view arguments, std::string_view tag) {
    const auto fields = SplitArguments(arguments, 2, false);
    if (!fields || (*fields)[0] != tag) {
        return std::nullopt;
    }
    return ParseInteger((*fields)[1]);
}

} // namespace

HostCommandParse ParseHostCommand(std::string_view text) {
    if (text.substr(0, kPrefix.size()) != kPrefix) {
        return Malformed("not an app.command");
    }
    text.remove_prefix(kPrefix.size());
    const std::size_t close = text.find("](");
    if (close == std::string_view::npos || text.empty() || text.back() != ')') {
        return Malformed("expected app.command[display:verb](arguments)");
    }
    const std::string_view target = text.substr(0, close);
    const std::string_view arguments = text.substr(close + 2, text.size() - close - 3);
    const std::size_t colon = target.find(':');
    if (colon == std::string_view::npos) {
        return Malformed("expected display:verb in the brackets");
    }
    const std::string_view display = target.substr(0, colon);
    const std::string_view verb = target.substr(colon + 1);

    HostCommand command;
    const auto badArguments = [&](std::string_view expected) {
        return Malformed(std::string(display) + ":" + std::string(verb) + " expects (" +
                         std::string(expected) + ")");
    };
    if (display == "chrodisplay" && verb == "clear") {
        if (!arguments.empty()) {
            return badArguments("");
        }
        command.verb = HostVerb::ChromatogramClear;
    } else if (display == "chrodisplay" && verb == "add") {
        const auto function = TaggedInteger(arguments, "TIC");
        if (!function || *function < 1) {
            return badArguments("TIC:function");
        }
        command.verb = HostVerb::ChromatogramAddTic;
        command.function = *function;
    } else if (display == "chrodisplay" && verb == "setpointer") {
        const auto scan = TaggedInteger(arguments, "SCAN");
        if (!scan || *scan < 0) {
            return badArguments("SCAN:scan");
        }
        command.verb = HostVerb::ChromatogramSetPointer;
        command.scan = *scan;
    } else if (display == "specdisplay" && verb == "DDALaunch") {
        if (arguments.empty()) {
            return badArguments("path");
        }
        command.verb = HostVerb::SpectrumLaunch;
        command.path = arguments;
    } else if (display == "specdisplay" && verb == "clear") {
        if (!arguments.empty()) {
            return badArguments("");
        }
        command.verb = HostVerb::SpectrumClear;
    } else if (display == "specdisplay" && verb == "combine") {
        const auto fields = SplitArguments(arguments, 3, true);
        const auto first = fields ? ParseInteger((*fields)[0]) : std::nullopt;
        const auto last = fields ? ParseInteger((*fields)[1]) : std::nullopt;
        const auto function = fields ? ParseInteger((*fields)[2]) : std::nullopt;
        if (!first || !last || !function || *function < 1 || *first < 1 || *last < *first ||
            (*fields)[3].empty()) {
            return badArguments("first scan:last scan:function:path");
        }
        command.verb = HostVerb::SpectrumCombine;
        command.firstScan = *first;
        command.lastScan = *last;
        command.function = *function;
        command.path = (*fields)[3];
    } else if (display == "specdisplay" && verb == "add") {
        const auto fields = SplitArguments(arguments, 2, false);
        const auto function = fields ? ParseInteger((*fields)[0]) : std::nullopt;
        const auto scan = fields ? ParseInteger((*fields)[1]) : std::nullopt;
        if (!function || !scan || *function < 1 || *scan < 0) {
            return badArguments("function:scan");
        }
        command.verb = HostVerb::SpectrumAdd;
        command.function = *function;
        command.scan = *scan;
    } else {
        return Malformed("unknown command " + std::string(display) + ":" + std::string(verb));
    }
    return HostCommandParse{std::move(command), {}};
}

std::string FormatHostCommand(const HostCommand& command) {
    const auto text = [](std::string_view target, const std::string& arguments) {
        return std::string(kPrefix) + std::string(target) + "](" + arguments + ")";
    };
    switch (command.verb) {
    case HostVerb::ChromatogramClear:
        return text("chrodisplay:clear", {});
    case HostVerb::ChromatogramAddTic:
        return text("chrodisplay:add", "TIC:" + std::to_string(command.function));
    case HostVerb::ChromatogramSetPointer:
        return text("chrodisplay:setpointer", "SCAN:" + std::to_string(command.scan));
    case HostVerb::SpectrumLaunch:
        return text("specdisplay:DDALaunch", command.path);
    case HostVerb::SpectrumClear:
        return text("specdisplay:clear", {});
    case HostVerb::SpectrumCombine:
        return text("specdisplay:combine", std::to_string(command.firstScan) + ":" +
                                               std::to_string(command.lastScan) + ":" +
                                               std::to_string(command.function) + ":" + command.path);
    case HostVerb::SpectrumAdd:
        return text("specdisplay:add", std::to_string(command.function) + ":" + std::to_string(command.scan));
    }
    return {};
}

std::array<HostCommand, kShowPrecursorCommandCount> ShowPrecursorCommands(const HostPrecursor& precursor) {
    const auto command = [](HostVerb verb) {
        HostCommand made;
        made.verb = verb;
        return made;
    };
    HostCommand precursorTic = command(HostVerb::ChromatogramAddTic);
    precursorTic.function = precursor.function;
    HostCommand surveyTic = command(HostVerb::ChromatogramAddTic);
    surveyTic.function = kHostSurveyFunction;
    HostCommand pointer = command(HostVerb::ChromatogramSetPointer);
    pointer.scan = precursor.surveyScan;
    HostCommand launch = command(HostVerb::SpectrumLaunch);
    launch.path = precursor.path;
    HostCommand combine = command(HostVerb::SpectrumCombine);
    combine.firstScan = precursor.firstScan;
    combine.lastScan = precursor.lastScan;
    combine.function = precursor.function;
    combine.path = precursor.path;
    HostCommand survey = command(HostVerb::SpectrumAdd);
    survey.function = kHostSurveyFunction;
    survey.scan = precursor.surveyScan;
    return {command(HostVerb::ChromatogramClear), precursorTic, surveyTic, pointer, launch,
            command(HostVerb::SpectrumClear),     combine,      survey};
}

} // namespace varnex::hostlink
