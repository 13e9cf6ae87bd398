#include "tools/daqclient/Values.h"

#include "server/protocol/JsonRequest.h"

namespace daqclient {

namespace {

using daq::protocol::getJsonString;

// Missing records named in one error line, at most this many.
constexpr std::size_t kMissingShown = 10;

}  // namespace

std::vector<std::optional<CurrentValue>> readValues(ServerLink& link,
                                                    const std::vector<SelectedRecord>& records) {
    std::vector<int> indexes;
    indexes.reserve(records.size());
    for (const SelectedRecord& record : records) {
        indexes.push_back(record.index);
    }
    const auto answer = link.request(daq::client::daqDataRequest(indexes), "DAQ_DATA");
    const auto* list = daq::protocol::findJsonPath(answer, "LIST");
    if (list == nullptr || !list->IsArray()) {
        throw CommandError(ExitCode::Failure, "bad answer to DAQ_DATA: no LIST");
    }
    // The server answers the requested indexes in order and leaves out those outside the map.
    std::vector<std::optional<CurrentValue>> values(records.size());
    auto entry = list->Begin();
    for (std::size_t i = 0; i < records.size() && entry != list->End(); ++i) {
        if (entry->IsObject() &&
            getJsonString(*entry, "INDEX") == std::to_string(records[i].index)) {
            values[i] = CurrentValue{getJsonString(*entry, "DATA"), getJsonString(*entry, "UNIT"),
                                     getJsonString(*entry, "TYPE"), getJsonString(*entry, "TIME")};
            ++entry;
        }
    }
    return values;
}

std::optional<std::string> missingRecords(const std::vector<SelectedRecord>& records,
                                          const std::vector<std::optional<CurrentValue>>& values) {
    std::string list;
    std::size_t missing = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!values[i] && ++missing <= kMissingShown) {
            list += list.empty() ? "" : ", ";
            list += std::to_string(records[i].index);
        }
    }
    if (missing == 0) {
        return std::nullopt;
    }
    if (missing > kMissingShown) {
        list += " and " + std::to_string(missing - kMissingShown) + " more";
    }
    return "the IO map holds no record " + list;
}

std::string recordLabel(const SelectedRecord& record) {
    if (!record.name.empty()) {
        return record.name;
    }
    // Appended rather than "#" + to_string(): GCC 12 at -O2 warns falsely (-Wrestrict) there.
    std::string label = "#";
    label += std::to_string(record.index);
    return label;
}

}  // namespace daqclient
