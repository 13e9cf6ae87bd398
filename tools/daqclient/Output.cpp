#include "tools/daqclient/Output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace daqclient {

namespace {

constexpr const char* kColumnGap = "  ";

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string csvLine(const Row& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += csvField(fields[i]);
    }
    return line + "\n";
}

// Whether the text is a number as JSON writes one, -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?,
// that a reader gets back as a finite double ("1e400" stays a text).
bool isJsonNumber(std::string_view text) {
    std::size_t at = 0;
    auto skip = [&](std::string_view chars) {
        const bool found = at < text.size() && chars.find(text[at]) != std::string_view::npos;
        at += found ? 1 : 0;
        return found;
    };
    auto digits = [&] {
        const std::size_t from = at;
        while (skip("0123456789")) {
        }
        return at > from;
    };
    skip("-");
    if (!skip("0") && !digits()) {
        return false;
    }
    if (skip(".") && !digits()) {
        return false;
    }
    if (skip("eE")) {
        skip("+-");
        if (!digits()) {
            return false;
        }
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return at == text.size() && error == std::errc() && std::isfinite(value);
}

void jsonValue(rapidjson::Writer<rapidjson::StringBuffer>& writer, ColumnKind kind,
               const std::string& text) {
    if (kind == ColumnKind::Value && isJsonNumber(text)) {
        writer.RawValue(text.c_str(), text.size(), rapidjson::kNumberType);
    } else if (kind == ColumnKind::Value && (text == "true" || text == "false")) {
        writer.Bool(text == "true");
    } else if (kind == ColumnKind::Flag && (text == "yes" || text == "no")) {
        writer.Bool(text == "yes");
    } else {
        writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    }
}

std::string jsonLine(const std::vector<Column>& columns, const Row& row) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& column = columns[i];
        writer.Key(column.name.c_str(), static_cast<rapidjson::SizeType>(column.name.size()));
        jsonValue(writer, column.kind, i < row.size() ? row[i] : std::string());
    }
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

Row namesOf(const std::vector<Column>& columns) {
    Row names;
    names.reserve(columns.size());
    for (const Column& column : columns) {
        names.push_back(column.name);
    }
    return names;
}

void pad(std::string& line, const std::string& text, std::size_t width) {
    line += text;
    line.append(width - std::min(width, displayWidth(text)), ' ');
}

// One table line, without trailing blanks.
std::string tableLine(const Row& cells, const std::vector<std::size_t>& widths) {
    std::string line;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        pad(line, printable(i < cells.size() ? cells[i] : std::string()), widths[i]);
        line += kColumnGap;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line + "\n";
}

std::string renderRecord(const Table& table) {
    std::size_t width = 0;
    for (const Column& column : table.columns) {
        width = std::max(width, displayWidth(column.name));
    }
    std::string text;
    const Row& row = table.rows.front();
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        text +=
            tableLine({table.columns[i].name, i < row.size() ? row[i] : std::string()}, {width, 0});
    }
    return text;
}

std::string renderTable(const Table& table) {
    if (table.record && table.rows.size() == 1) {
        return renderRecord(table);
    }
    std::vector<std::size_t> widths;
    for (const Column& column : table.columns) {
        widths.push_back(displayWidth(column.name));
    }
    for (const Row& row : table.rows) {
        for (std::size_t i = 0; i < widths.size() && i < row.size(); ++i) {
            widths[i] = std::max(widths[i], displayWidth(printable(row[i])));
        }
    }
    std::string text = tableLine(namesOf(table.columns), widths);
    for (const Row& row : table.rows) {
        text += tableLine(row, widths);
    }
    return text;
}

}  // namespace

std::size_t displayWidth(const std::string& text) {
    // Every byte that does not continue a UTF-8 sequence starts a character.
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string printable(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    return shown;
}

std::string render(OutputFormat format, const Table& table) {
    switch (format) {
        case OutputFormat::Table:
            return renderTable(table);
        case OutputFormat::Csv: {
            std::string text = csvLine(namesOf(table.columns));
            for (const Row& row : table.rows) {
                text += csvLine(row);
            }
            return text;
        }
        case OutputFormat::Json: {
            std::string text;
            for (const Row& row : table.rows) {
                text += jsonLine(table.columns, row);
            }
            return text;
        }
    }
    return {};
}

void Output::print(const Table& table) {
    printText(render(format_, table));
}

void Output::printText(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
}

void Output::stream(const std::vector<Column>& columns, const Row& row) {
    std::string text;
    switch (format_) {
        case OutputFormat::Table: {
            // The first row sets the widths; they only grow, so a column moves only when one
            // of its values grows wider than every value before it.
            widths_.resize(columns.size());
            for (std::size_t i = 0; i < columns.size(); ++i) {
                widths_[i] = std::max({widths_[i], displayWidth(columns[i].name),
                                       displayWidth(printable(i < row.size() ? row[i] : ""))});
            }
            if (!headerWritten_) {
                text = tableLine(namesOf(columns), widths_);
            }
            text += tableLine(row, widths_);
            break;
        }
        case OutputFormat::Csv:
            text = (headerWritten_ ? std::string() : csvLine(namesOf(columns))) + csvLine(row);
            break;
        case OutputFormat::Json:
            text = jsonLine(columns, row);
            break;
    }
    headerWritten_ = true;
    printText(text);
}

}  // namespace daqclient
