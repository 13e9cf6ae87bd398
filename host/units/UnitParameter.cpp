#include "host/units/UnitParameter.h"

#include <charconv>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "host/core/Utf16.h"
#include "host/units/UnitPinz.h"
#include "kelvane/Text.h"

namespace host {

UnitParameter::UnitParameter(const ParameterSpec& spec, int32_t index, UnitPinz& owner)
    : owner_(owner),
      ignoresGroup_(spec.group.kind == GroupAnswer::Ignore),
      writerMode_(spec.writer),
      name_(spec.name) {
    record_.PropType = spec.propType;
    record_.ItemIndex = spec.itemIndex;
    kelvane::StoreText(record_.Name, toUtf16(spec.name));
    kelvane::StoreText(record_.ValueText, toUtf16(spec.valueText));
    kelvane::StoreText(record_.UnitText, toUtf16(spec.unitText));
    record_.Enabled = spec.enabled ? 1 : 0;
    if (spec.items) {
        for (const std::string& item : *spec.items) {
            itemTexts_.push_back(toUtf16(item));
        }
        for (const std::u16string& text : itemTexts_) {
            itemPointers_.push_back(text.c_str());
        }
        items_.Count = static_cast<int32_t>(itemPointers_.size());
        items_.Texts = itemPointers_.data();
        record_.Items = &items_;
    }
    const int32_t group = spec.group.kind == GroupAnswer::Given ? spec.group.index : index;
    groupAnswer_ = toUtf16(std::to_string(group));
    if (spec.range) {
        range_.Valid = spec.range->valid ? 1 : 0;
        range_.Minimum = spec.range->minimum;
        range_.Maximum = spec.range->maximum;
        range_.Decimals = spec.range->decimals;
    }
    writer_ = kelvane::TParamWriteEvent::bind<&UnitParameter::write>(this);
}

const char16_t* UnitParameter::groupAnswer() const {
    return ignoresGroup_ ? nullptr : groupAnswer_.c_str();
}

kelvane::TParamWriteEvent* UnitParameter::writer() {
    return writerMode_ == WriterMode::None ? nullptr : &writer_;
}

void UnitParameter::refuse(const std::string& reason) const {
    throw std::runtime_error("the unit refused the value of parameter \"" + name_ +
                             "\": " + reason);
}

void UnitParameter::write(int32_t group, int32_t index, kelvane::TVariant* value, int32_t item) {
    const std::u16string text(value != nullptr && value->Type == kelvane::TVariant::vtString
                                  ? kelvane::RefText(value->String)
                                  : std::u16string_view{});
    owner_.recordWrite(group, index, item, text);
    if (writerMode_ == WriterMode::Raises) {
        refuse("it takes no value");
    }
    // As a device would: nothing is applied that the parameter cannot hold as it was given.
    if (!owner_.online()) {
        refuse("the station is offline");
    }
    if (!(record_.Enabled & 1)) {
        refuse("it is disabled");
    }
    if (item >= 0) {
        if (record_.Items == nullptr || item >= items_.Count) {
            refuse("it has no item " + std::to_string(item));
        }
        record_.ItemIndex = item;
        return;
    }
    // The record's text is zero-terminated: it holds one character less than its field.
    if (text.size() >= std::size(record_.ValueText)) {
        refuse("longer than " + std::to_string(std::size(record_.ValueText) - 1) + " characters");
    }
    if (range_.Valid) {
        const std::string digits = toUtf8(text);
        double number = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error != std::errc() || end != digits.data() + digits.size() ||
            !(number >= range_.Minimum && number <= range_.Maximum)) {
            std::ostringstream reason;
            reason << '"' << digits << "\" is not a number from " << range_.Minimum << " to "
                   << range_.Maximum;
            refuse(reason.str());
        }
    }
    kelvane::StoreText(record_.ValueText, text);
}

}  // namespace host
