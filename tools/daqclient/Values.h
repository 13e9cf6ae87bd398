// Current values of selected records, read with one "DAQ_DATA".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/daqclient/ServerLink.h"
#include "tools/daqclient/TagList.h"

namespace daqclient {

struct CurrentValue {
    std::string data;
    std::string unit;
    std::string type;
    std::string time;  // the value's time stamp, as the server writes it
};

// One value per record, in the order of `records`; nothing for a record the server left out
// (an index outside the IO map).
std::vector<std::optional<CurrentValue>> readValues(ServerLink& link,
                                                    const std::vector<SelectedRecord>& records);

// "the IO map holds no record 45, 99": the records that came without a value, or nothing.
std::optional<std::string> missingRecords(const std::vector<SelectedRecord>& records,
                                          const std::vector<std::optional<CurrentValue>>& values);

// The name a record is shown by: its tag name, or "#<index>" for a record without one.
std::string recordLabel(const SelectedRecord& record);

}  // namespace daqclient
