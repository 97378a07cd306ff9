// SPDX-License-Identifier: GPL-3.0-or-later
#include "listio/PrecursorExport.h"

#include <array>
#include <charconv>
#include <string>
#include <string_view>
#include <variant>

#include "model/PrecursorColumn.h"

using varnex::model::ColumnValueOf;
using varnex::model::kPrecursorColumns;
using varnex::model::PrecursorColumn;
using varnex::model::PrecursorColumnHeader;

namespace varnex::listio {

namespace {

constexpr std::array<std::string_view, 5> kExtraHeaders = {"Function", "Survey Scan", "First Scan",
                                                           "Last Scan", "Retention Time"};

std::string Number(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string Number(int value) {
    return std::to_string(value);
}

std::string Number(std::string_view text) {
    return std::string(text);
}

std::string ColumnText(const CPrecursor& precursor, PrecursorColumn column) {
    return std::visit([](auto value) { return Number(value); }, ColumnValueOf(precursor, column));
}

// CSV quotes what needs it; TSV has no quoting, so separators inside a name become spaces.
std::string Field(std::string_view text, ExportFormat format) {
    std::string out;
    if (format == ExportFormat::Tsv) {
        for (const char c : text) {
            out += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
        }
        return out;
    }
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
    return out;
}

class LineWriter final {
public:
    LineWriter(std::ostream& out, ExportFormat format) : out_(out), format_(format) {}
    void Add(std::string_view text) {
        if (!first_) {
            out_ << (format_ == ExportFormat::Tsv ? '\t' : ',');
        }
        first_ = false;
        out_ << Field(text, format_);
    }
    void End() {
        out_ << '\n';
        first_ = true;
    }

private:
    std::ostream& out_;
    ExportFormat format_;
    bool first_ = true;
};

} // namespace

void WritePrecursorHeader(std::ostream& out, ExportFormat format, bool withDataSet) {
    LineWriter line(out, format);
    if (withDataSet) {
        line.Add("File");
    }
    for (const PrecursorColumn column : kPrecursorColumns) {
        line.Add(PrecursorColumnHeader(column));
    }
    for (const std::string_view header : kExtraHeaders) {
        line.Add(header);
    }
    line.End();
}

void WritePrecursorRows(std::ostream& out, const CPrecursorArray& precursors, ExportFormat format,
                        std::optional<std::string_view> dataSet) {
    LineWriter line(out, format);
    for (int i = 0; i < precursors.GetSize(); ++i) {
        const CPrecursor& precursor = precursors.ElementAt(i);
        if (dataSet) {
            line.Add(*dataSet);
        }
        for (const PrecursorColumn column : kPrecursorColumns) {
            line.Add(ColumnText(precursor, column));
        }
        line.Add(Number(precursor.m_nFunction));
        line.Add(Number(precursor.m_nSurveyScan));
        line.Add(Number(precursor.m_nFirstScan));
        line.Add(Number(precursor.m_nLastScan));
        line.Add(Number(precursor.m_fRetentionTime));
        line.End();
    }
}

void WritePrecursors(std::ostream& out, const CPrecursorArray& precursors, ExportFormat format) {
    WritePrecursorHeader(out, format, false);
    WritePrecursorRows(out, precursors, format, std::nullopt);
}

} // namespace varnex::listio
