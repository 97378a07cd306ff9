#include "listio/PrecursorExport.h"

#include <array>
#include <charconv>
#include <string>
#include <string_view>
#include <variant>

#include "model/PrecursorColumn.h"

namespace {

constexpr std::array<std::string_view, 5> kExtraHeaders = {"Function", "Survey Scan", "First Scan",
                                                           "Last Scan", "Retention Time"};

std::string number(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string number(int value) {
    return std::to_string(value);
}

std::string number(std::string_view text) {
    return std::string(text);
}

std::string columnText(const CPrecursor& precursor, PrecursorColumn column) {
    return std::visit([](auto value) { return number(value); }, precursorColumnValue(precursor, column));
}

// CSV quotes what needs it; TSV has no quoting, so separators inside a name become spaces.
std::string field(std::string_view text, ExportFormat format) {
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
    void add(std::string_view text) {
        if (!first_) {
            out_ << (format_ == ExportFormat::Tsv ? '\t' : ',');
        }
        first_ = false;
        out_ << field(text, format_);
    }
    void end() {
        out_ << '\n';
        first_ = true;
    }

private:
    std::ostream& out_;
    ExportFormat format_;
    bool first_ = true;
};

} // namespace

void writePrecursorHeader(std::ostream& out, ExportFormat format, bool withDataSet) {
    LineWriter line(out, format);
    if (withDataSet) {
        line.add("File");
    }
    for (const PrecursorColumn column : kPrecursorColumns) {
        line.add(precursorColumnHeader(column));
    }
    for (const std::string_view header : kExtraHeaders) {
        line.add(header);
    }
    line.end();
}

void writePrecursorRows(std::ostream& out, const CPrecursorArray& precursors, ExportFormat format,
                        std::optional<std::string_view> dataSet) {
    LineWriter line(out, format);
    for (int i = 0; i < precursors.GetSize(); ++i) {
        const CPrecursor& precursor = precursors.ElementAt(i);
        if (dataSet) {
            line.add(*dataSet);
        }
        for (const PrecursorColumn column : kPrecursorColumns) {
            line.add(columnText(precursor, column));
        }
        line.add(number(precursor.m_nFunction));
        line.add(number(precursor.m_nSurveyScan));
        line.add(number(precursor.m_nFirstScan));
        line.add(number(precursor.m_nLastScan));
        line.add(number(precursor.m_fRetentionTime));
        line.end();
    }
}

void writePrecursors(std::ostream& out, const CPrecursorArray& precursors, ExportFormat format) {
    writePrecursorHeader(out, format, false);
    writePrecursorRows(out, precursors, format, std::nullopt);
}
