// The commands on the IO map: tags, read.
#include "tools/daqclient/Commands.h"

#include <algorithm>

#include "tools/daqclient/TagList.h"
#include "tools/daqclient/Values.h"

namespace daqclient {

void runTags(ServerLink& link, Output& out, const TagsOptions& options) {
    const int start = options.start.value_or(0);
    if (start < 0 || options.size.value_or(0) < 0) {
        throw CommandError(ExitCode::Usage, "--start and --size must not be negative");
    }
    const int count = tagCount(link);
    const int end = options.size ? static_cast<int>(std::min<long long>(
                                       static_cast<long long>(start) + *options.size, count))
                                 : count;
    Table table{{value("index"), "tag", value("sig_type"), value("rw"), "unit", "guid",
                 "description", "values"},
                {},
                false};
    if (end > start) {
        for (TagEntry& entry : fetchTags(link, start, end - start)) {
            table.rows.push_back({std::move(entry.index), std::move(entry.name),
                                  std::move(entry.sigType), std::move(entry.rw),
                                  std::move(entry.unit), std::move(entry.guid),
                                  std::move(entry.description), std::move(entry.values)});
        }
    }
    out.print(table);
}

void runRead(ServerLink& link, Output& out, const Selection& selection) {
    const std::vector<SelectedRecord> records = resolveSelection(link, selection);
    const auto values = readValues(link, records);
    Table table{{value("index"), "tag", value("data"), "unit", value("type"), "time"}, {}, false};
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (const auto& value = values[i]) {
            table.rows.push_back({std::to_string(records[i].index), records[i].name, value->data,
                                  value->unit, value->type, value->time});
        }
    }
    out.print(table);
    if (const auto missing = missingRecords(records, values)) {
        throw CommandError(ExitCode::Failure, *missing);
    }
}

}  // namespace daqclient
