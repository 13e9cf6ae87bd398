#include "units/UnitParameter.h"

#include <stdexcept>

#include "core/Utf16.h"
#include "kelvane/Text.h"
#include "units/UnitPinz.h"

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

void UnitParameter::Write(int32_t group, int32_t index, kelvane::TVariant* value, int32_t item) {
    const std::u16string text(value != nullptr && value->Type == kelvane::TVariant::vtString
                                  ? kelvane::RefText(value->String)
                                  : std::u16string_view{});
    owner_.RecordWrite(group, index, item, text);
    if (writerMode_ == WriterMode::Raises) {
        throw std::runtime_error("the unit refused the value of parameter \"" + name_ + "\"");
    }
    if (item < 0) {
        // The record's text is zero-terminated: keep room for the terminator.
        kelvane::StoreText(record_.ValueText,
                           kelvane::CutText(text, std::size(record_.ValueText) - 1));
    } else {
        record_.ItemIndex = item;
    }
}

}  // namespace host
