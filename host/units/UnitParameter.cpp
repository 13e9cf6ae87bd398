#include "host/units/UnitParameter.h"

#include <charconv>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "host/core/Utf16.h"
#include "kelvane/Text.h"
#include "host/units/UnitPinz.h"

namespace host {

UnitParameter::UnitParameter(const ParameterSpec& spec, int32_t index, UnitPinz& owner)
    : owner_(owner),
      ignoresGroup_(spec.Group.Kind == GroupAnswer::Ignore),
      writerMode_(spec.Writer),
      name_(spec.Name) {
    record_.PropType = spec.PropType;
    record_.ItemIndex = spec.ItemIndex;
    kelvane::StoreText(record_.Name, ToUtf16(spec.Name));
    kelvane::StoreText(record_.ValueText, ToUtf16(spec.ValueText));
    kelvane::StoreText(record_.UnitText, ToUtf16(spec.UnitText));
    record_.Enabled = spec.Enabled ? 1 : 0;
    if (spec.Items) {
        for (const std::string& item : *spec.Items) {
            itemTexts_.push_back(ToUtf16(item));
        }
        for (const std::u16string& text : itemTexts_) {
            itemPointers_.push_back(text.c_str());
        }
        items_.Count = static_cast<int32_t>(itemPointers_.size());
        items_.Texts = itemPointers_.data();
        record_.Items = &items_;
    }
    const int32_t group = spec.Group.Kind == GroupAnswer::Given ? spec.Group.Index : index;
    groupAnswer_ = ToUtf16(std::to_string(group));
    if (spec.Range) {
        range_.Valid = spec.Range->Valid ? 1 : 0;
        range_.Minimum = spec.Range->Minimum;
        range_.Maximum = spec.Range->Maximum;
        range_.Decimals = spec.Range->Decimals;
    }
    writer_ = kelvane::TParamWriteEvent::bind<&UnitParameter::Write>(this);
}

const char16_t* UnitParameter::GroupAnswer() const {
    return ignoresGroup_ ? nullptr : groupAnswer_.c_str();
}

kelvane::TParamWriteEvent* UnitParameter::Writer() {
    return writerMode_ == WriterMode::None ? nullptr : &writer_;
}

void UnitParameter::Refuse(const std::string& reason) const {
    throw std::runtime_error("the unit refused the value of parameter \"" + name_ +
                             "\": " + reason);
}

void UnitParameter::Write(int32_t group, int32_t index, kelvane::TVariant* value, int32_t item) {
    const std::u16string text(value != nullptr && value->Type == kelvane::TVariant::vtString
                                  ? kelvane::RefText(value->String)
                                  : std::u16string_view{});
    owner_.RecordWrite(group, index, item, text);
    if (writerMode_ == WriterMode::Raises) {
        Refuse("it takes no value");
    }
    // As a device would: nothing is applied that the parameter cannot hold as it was given.
    if (!owner_.Online()) {
        Refuse("the station is offline");
    }
    if (!(record_.Enabled & 1)) {
        Refuse("it is disabled");
    }
    if (item >= 0) {
        if (record_.Items == nullptr || item >= items_.Count) {
            Refuse("it has no item " + std::to_string(item));
        }
        record_.ItemIndex = item;
        return;
    }
    // The record's text is zero-terminated: it holds one character less than its field.
    if (text.size() >= std::size(record_.ValueText)) {
        Refuse("longer than " + std::to_string(std::size(record_.ValueText) - 1) + " characters");
    }
    if (range_.Valid) {
        const std::string digits = ToUtf8(text);
        double number = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error != std::errc() || end != digits.data() + digits.size() ||
            !(number >= range_.Minimum && number <= range_.Maximum)) {
            std::ostringstream reason;
            reason << '"' << digits << "\" is not a number from " << range_.Minimum << " to "
                   << range_.Maximum;
            Refuse(reason.str());
        }
    }
    kelvane::StoreText(record_.ValueText, text);
}

}  // namespace host
