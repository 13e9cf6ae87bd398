// What the publisher sends: the tags of a DAQ run as it describes them, and the JSON texts of a
// value and of the tag list (docs/mqtt.md shows both).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kelvane/IORecords.h"
#include "server/mqtt/ValueQueue.h"
#include "server/protocol/IoRecordSource.h"

namespace daq::mqtt {

struct TagInfo {
    std::string name;   // UTF-8
    std::string level;  // its topic level (TopicName.h)
    std::string unit;
    int32_t sigType = 0;
    int32_t dataType = 0;
    int32_t rw = 0;
};

// The tags of the map, in map order.
std::vector<TagInfo> describeTags(const protocol::IoSnapshot& map);

// The value of `record` in `value`, without its text: the refresh thread's share.
void readTagValue(const kelvane::TIOList& record, const kelvane::TCurrentValue& value,
                  TagValue& out);
// Renders the text of a value readTagValue read into `value.text` (whose buffer is reused).
void renderText(TagValue& value);

// "2026-12-06T08:14:27.761+01:00": the host's local date-time with the offset from UTC it had
// then.
std::string isoTime(double hostTime);

// {"value":…,"text":…,"unit":…,"time":…,"quality":…}; a tag without a value has null value and
// time.
std::string valuePayload(const TagValue* value, const TagInfo& tag, std::string_view quality);

// {"project":…,"tags":[{"index":…,"name":…,"topic":…,"sigType":…,"type":…,"unit":…,"rw":…},…]}
std::string metaPayload(std::string_view project, const std::vector<TagInfo>& tags);

}  // namespace daq::mqtt
