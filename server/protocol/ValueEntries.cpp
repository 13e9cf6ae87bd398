#include "server/protocol/ValueEntries.h"

#include <charconv>
#include <cstring>
#include <type_traits>

#include "common/DateTime.h"
#include "common/TextConvert.h"
#include "kelvane/Text.h"
#include "server/protocol/IoValueText.h"

namespace daq::protocol {

namespace {

// The bytes of a value block an entry is rendered from: time stamp, value, decimals, value text
// and the Updated flag. What follows (reserved bytes, padding) never shows, so it is not
// compared.
static_assert(std::is_standard_layout_v<kelvane::TCurrentValue>);
constexpr std::size_t kShownBytes =
    offsetof(kelvane::TCurrentValue, Updated) + sizeof(kelvane::TCurrentValue::Updated);

// The empty JSON string "" that stands where a text is set in.
constexpr std::string_view kEmptyString = R"("")";

}  // namespace

void ValueEntries::clear() {
    const std::lock_guard hold(mutex_);
    entries_.clear();
}

void ValueEntries::write(Answer& answer, const IoSnapshot& map, int32_t index,
                         const kelvane::TIOList& record) {
    if (map.generation() != generation_) {
        entries_.clear();  // the map was rebuilt: other records may stand at the same indexes
        generation_ = map.generation();
    }
    const auto slot = static_cast<std::size_t>(index);
    if (slot >= entries_.size()) {
        entries_.resize(slot + 1);
    }
    Entry& entry = entries_[slot];
    const bool fresh = !entry.rendered;
    if (fresh) {
        renderFixed(entry, index, record);
    }
    if (fresh || std::memcmp(&entry.value, &record.Current, kShownBytes) != 0) {
        std::memcpy(&entry.value, &record.Current, sizeof entry.value);
        renderValue(entry, record);
    }
    answer.rawElement(entry.text);
}

void ValueEntries::renderFixed(Entry& entry, int32_t index, const kelvane::TIOList& record) {
    char digits[16];
    const auto digitsEnd = std::to_chars(digits, digits + sizeof digits, index).ptr;
    const GuidText guid = guidText(record);
    unit_.clear();
    appendUtf8(kelvane::RefText(record.Unit), unit_);

    buffer_.Clear();
    writer_.Reset(buffer_);
    writer_.StartObject();
    writer_.Key("INDEX");
    writer_.String(digits, static_cast<rapidjson::SizeType>(digitsEnd - digits));
    writer_.Key("GUID");
    writer_.String(guid.chars, static_cast<rapidjson::SizeType>(guid.size));
    writer_.Key("DATA");
    writer_.String("", 0);
    entry.dataAt = buffer_.GetSize() - kEmptyString.size();
    writer_.Key("UNIT");
    writer_.String(unit_.data(), static_cast<rapidjson::SizeType>(unit_.size()));
    writer_.Key("TYPE");
    writer_.Int(record.DataType);
    writer_.Key("TIME");
    writer_.String("", 0);
    entry.timeAt = buffer_.GetSize() - kEmptyString.size();
    writer_.EndObject();

    entry.text.assign(buffer_.GetString(), buffer_.GetSize());
    entry.dataSize = kEmptyString.size();
    entry.timeSize = kEmptyString.size();
    entry.rendered = true;
}

void ValueEntries::renderValue(Entry& entry, const kelvane::TIOList& record) {
    value_.clear();
    appendIOValueText(record, entry.value, value_);
    const DateTimeText time = formatStampTime(entry.value.TimeStamp);

    const std::string_view old = entry.text;
    entry_.assign(old.substr(0, entry.dataAt));
    appendString(value_);
    const std::size_t dataSize = entry_.size() - entry.dataAt;
    entry_.append(
        old.substr(entry.dataAt + entry.dataSize, entry.timeAt - entry.dataAt - entry.dataSize));
    const std::size_t timeAt = entry_.size();
    // Digits, full stops, blank and colons: the text stands in the quotes as it is.
    entry_.push_back('"');
    entry_.append(time.view());
    entry_.push_back('"');
    const std::size_t timeSize = entry_.size() - timeAt;
    entry_.append(old.substr(entry.timeAt + entry.timeSize));

    entry.text.swap(entry_);
    entry.dataSize = dataSize;
    entry.timeAt = timeAt;
    entry.timeSize = timeSize;
}

void ValueEntries::appendString(std::string_view text) {
    buffer_.Clear();
    writer_.Reset(buffer_);
    writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    entry_.append(buffer_.GetString(), buffer_.GetSize());
}

}  // namespace daq::protocol
