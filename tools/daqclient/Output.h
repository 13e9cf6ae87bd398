// Formatting of results: aligned tables for people, CSV and JSON lines for programs.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace daqclient {

enum class OutputFormat { Table, Csv, Json };

using Row = std::vector<std::string>;

// What a column's texts are in JSON output; tables and CSV show every text as it is.
enum class ColumnKind {
    Text,
    Value,  // a JSON number where the text is one ("12", "-0.50", "1E+10"), true or false for
            // "true" or "false", else a string
    Flag,   // "yes" true, "no" false
};

struct Column {
    // Not explicit: a name alone is a text column.
    Column(const char* name, ColumnKind kind = ColumnKind::Text) : name(name), kind(kind) {}
    Column(std::string name, ColumnKind kind = ColumnKind::Text)
        : name(std::move(name)), kind(kind) {}

    std::string name;
    ColumnKind kind;
};

inline Column value(std::string name) {
    return {std::move(name), ColumnKind::Value};
}

inline Column flag(std::string name) {
    return {std::move(name), ColumnKind::Flag};
}

// A result: named columns and rows of texts. A record is a result of exactly one row that a
// table shows as "name  value" lines.
struct Table {
    std::vector<Column> columns;
    std::vector<Row> rows;
    bool record = false;
};

// A whole result in one format:
// - Table: a header line and rows, columns padded to their widest text (counted in
//   characters, not bytes); a record as one "name  value" line per column.
// - Csv: a header line, then one line per row (RFC 4180 quoting).
// - Json: one object per row and line, the column names as keys, each value as its column's
//   kind says.
std::string render(OutputFormat format, const Table& table);

// Texts shown in a table or on a terminal have their control characters replaced (a value may
// hold any text the server sends, and must not move the cursor).
std::string printable(const std::string& text);

// Number of characters of a UTF-8 text, as a terminal lays them out for these texts.
std::size_t displayWidth(const std::string& text);

// Writes results to a stream; every call ends with a flush, so that a reader of a pipe sees
// each line when it is made.
class Output {
  public:
    Output(OutputFormat format, std::FILE* stream) : format_(format), stream_(stream) {}

    OutputFormat format() const { return format_; }

    void print(const Table& table);
    void printText(const std::string& text);

    // Rows of one shape that come one at a time (a poll each): the header (table, CSV) is
    // written with the first row; table columns are as wide as the widest text so far.
    void stream(const std::vector<Column>& columns, const Row& row);

  private:
    OutputFormat format_;
    std::FILE* stream_;
    bool headerWritten_ = false;
    std::vector<std::size_t> widths_;
};

}  // namespace daqclient
