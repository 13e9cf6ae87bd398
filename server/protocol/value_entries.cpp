#include "server/protocol/value_entries.h"

#include <charconv>

#include "common/TextConvert.h"
#include "kelvane/Text.h"
#include "server/protocol/io_value_text.h"

namespace daq::protocol {

namespace {

// Length of the empty JSON string "" that stands where a text is set in.
constexpr std::size_t kEmptyString = 2;

}  // namespace

void ValueEntries::clear() {
    shapes_.clear();
    texts_.clear();
}

void ValueEntries::write(Answer& answer, int32_t index, const kelvane::TIOList& record,
                         std::string_view data, std::string_view time) {
    const Shape& rendered = shape(index, record);
    const char* text = texts_.data() + rendered.offset;
    entry_.assign(text, rendered.dataAt);
    appendString(data);
    entry_.append(text + rendered.dataAt + kEmptyString,
                  rendered.timeAt - rendered.dataAt - kEmptyString);
    // Digits, full stops, blank and colons: the text stands in the quotes as it is.
    entry_.push_back('"');
    entry_.append(time);
    entry_.push_back('"');
    entry_.append(text + rendered.timeAt + kEmptyString,
                  rendered.size - rendered.timeAt - kEmptyString);
    answer.rawElement(entry_);
}

const ValueEntries::Shape& ValueEntries::shape(int32_t index, const kelvane::TIOList& record) {
    const auto slot = static_cast<std::size_t>(index);
    if (slot < shapes_.size() && shapes_[slot].record == &record) {
        return shapes_[slot];
    }
    if (slot < shapes_.size() && shapes_[slot].record != nullptr) {
        clear();  // another record at this index: the map was rebuilt
    }
    if (slot >= shapes_.size()) {
        shapes_.resize(slot + 1);
    }
    shapes_[slot] = render(index, record);
    return shapes_[slot];
}

ValueEntries::Shape ValueEntries::render(int32_t index, const kelvane::TIOList& record) {
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
    const std::size_t dataEnd = buffer_.GetSize();
    writer_.Key("UNIT");
    writer_.String(unit_.data(), static_cast<rapidjson::SizeType>(unit_.size()));
    writer_.Key("TYPE");
    writer_.Int(record.DataType);
    writer_.Key("TIME");
    writer_.String("", 0);
    const std::size_t timeEnd = buffer_.GetSize();
    writer_.EndObject();

    const Shape shape{&record, texts_.size(), buffer_.GetSize(), dataEnd - kEmptyString,
                      timeEnd - kEmptyString};
    texts_.append(buffer_.GetString(), buffer_.GetSize());
    return shape;
}

void ValueEntries::appendString(std::string_view text) {
    buffer_.Clear();
    writer_.Reset(buffer_);
    writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    entry_.append(buffer_.GetString(), buffer_.GetSize());
}

}  // namespace daq::protocol
