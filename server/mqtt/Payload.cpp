#include "server/mqtt/Payload.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/DateTime.h"
#include "common/TextConvert.h"
#include "kelvane/Text.h"
#include "server/mqtt/TopicName.h"
#include "server/protocol/IoValueText.h"

namespace daq::mqtt {

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void putString(Writer& writer, std::string_view text) {
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

// The cases in which "DAQ_DATA" shows a value as its text (protocol::appendIOValueText).
bool shownAsText(const kelvane::TIOList& record, const kelvane::TCurrentValue& value) {
    const auto textCode = [](int32_t code) { return code == -1 || code == -2; };
    switch (record.SigType) {
        case kelvane::stText:
            return true;
        case kelvane::stNumeric:
            if (record.ValueList == nullptr) {
                return textCode(value.Decimals);
            }
            return record.ValueList->Count < 1 &&
                   (textCode(value.Decimals) || textCode(record.DataType));
        default:
            return false;
    }
}

// The offset from UTC, in minutes, of the local date-time `parts`. mktime says it, but glibc
// checks /etc/localtime again at every call (a system call per value), so the answer is kept
// for the local hour it was asked for (zones change their offset at whole local hours), for a
// few hours at a time: values stamped in different hours come mixed (at a DAQ start, every
// tag's value, however old). A change of the zone itself therefore shows from the next hour on.
long utcOffsetMinutes(const DateTimeParts& parts) {
    struct Hour {
        int64_t key = -1;
        long offset = 0;
    };
    thread_local std::array<Hour, 16> cache;
    const int64_t key =
        ((static_cast<int64_t>(parts.year) * 13 + parts.month) * 32 + parts.day) * 24 + parts.hour;
    Hour& hour = cache[static_cast<std::size_t>(key) % cache.size()];
    if (hour.key == key) {
        return hour.offset;
    }
    std::tm local{};
    local.tm_year = parts.year - 1900;
    local.tm_mon = parts.month - 1;
    local.tm_mday = parts.day;
    local.tm_hour = parts.hour;
    local.tm_min = parts.minute;
    local.tm_sec = parts.second;
    local.tm_isdst = -1;  // whether summer time applied then is the zone's to say
    hour = {key, std::mktime(&local) == -1 ? 0 : local.tm_gmtoff / 60};
    return hour.offset;
}

}  // namespace

std::vector<TagInfo> describeTags(const protocol::IoSnapshot& map) {
    std::vector<TagInfo> tags(static_cast<std::size_t>(std::max(map.count(), 0)));
    std::vector<std::u16string_view> names(tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const kelvane::TIOList* record = map.record(static_cast<int32_t>(i));
        if (record == nullptr) {
            continue;
        }
        TagInfo& tag = tags[i];
        names[i] = kelvane::RefText(record->TagName);
        appendUtf8(names[i], tag.name);
        appendUtf8(kelvane::RefText(record->Unit), tag.unit);
        tag.sigType = record->SigType;
        tag.dataType = record->DataType;
        tag.rw = record->RW;
    }
    std::vector<std::string> levels = tagTopicLevels(names);
    for (std::size_t i = 0; i < tags.size(); ++i) {
        tags[i].level = std::move(levels[i]);
    }
    return tags;
}

void readTagValue(const kelvane::TIOList& record, const kelvane::TCurrentValue& value,
                  TagValue& out) {
    out.time = value.TimeStamp;
    out.number = value.Value;
    out.isText = shownAsText(record, value);
    out.analog = !out.isText && record.SigType == kelvane::stNumeric &&
                 protocol::valueListCount(record.ValueList) == 0;
    std::memcpy(&out.raw, &value, sizeof value);
    out.record = &record;
}

void renderText(TagValue& value) {
    value.text.clear();
    if (value.record != nullptr) {
        protocol::appendIOValueText(*value.record, value.raw, value.text);
    }
}

std::string isoTime(double hostTime) {
    const DateTimeParts parts = decodeDateTime(hostTime);
    const long offset = utcOffsetMinutes(parts);
    const long hours = std::labs(offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", parts.year,
                  parts.month, parts.day, parts.hour, parts.minute, parts.second, parts.millisecond,
                  offset < 0 ? '-' : '+', hours, std::labs(offset) % 60);
    return text;
}

std::string valuePayload(const TagValue* value, const TagInfo& tag, std::string_view quality) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key("value");
    if (value == nullptr || (!value->isText && !std::isfinite(value->number))) {
        writer.Null();
    } else if (value->isText) {
        putString(writer, value->text);
    } else {
        writer.Double(value->number);
    }
    writer.Key("text");
    putString(writer, value != nullptr ? std::string_view(value->text) : std::string_view());
    writer.Key("unit");
    putString(writer, tag.unit);
    writer.Key("time");
    if (value != nullptr) {
        putString(writer, isoTime(value->time));
    } else {
        writer.Null();
    }
    writer.Key("quality");
    putString(writer, quality);
    writer.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

std::string metaPayload(std::string_view project, const std::vector<TagInfo>& tags) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key("project");
    putString(writer, project);
    writer.Key("tags");
    writer.StartArray();
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const TagInfo& tag = tags[i];
        writer.StartObject();
        writer.Key("index");
        writer.Uint64(i);
        writer.Key("name");
        putString(writer, tag.name);
        writer.Key("topic");
        putString(writer, tag.level);
        writer.Key("sigType");
        writer.Int(tag.sigType);
        writer.Key("type");
        writer.Int(tag.dataType);
        writer.Key("unit");
        putString(writer, tag.unit);
        writer.Key("rw");
        writer.Int(tag.rw);
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

}  // namespace daq::mqtt
