// One parameter of a simulated unit: the property record plug-ins read, and what the unit
// answers about it (group, range, writer).
#pragma once

#include <string>
#include <vector>

#include "host/core/ProjectModel.h"
#include "kelvane/PropRecords.h"

namespace host {

class UnitPinz;

class UnitParameter {
  public:
    UnitParameter(const ParameterSpec& spec, int32_t index, UnitPinz& owner);
    UnitParameter(const UnitParameter&) = delete;
    UnitParameter& operator=(const UnitParameter&) = delete;

    kelvane::TPropValue* record() { return &record_; }
    // Answer to the group command: the text to point the command at, or null to leave it.
    const char16_t* groupAnswer() const;
    kelvane::TParamRange* range() { return &range_; }
    // Null when the unit hands out no writer for this parameter.
    kelvane::TParamWriteEvent* writer();

  private:
    // The writer: a text into ValueText (item < 0), an item number into ItemIndex. Raises, and
    // applies nothing, while the station is offline or the parameter disabled, and for an item
    // number outside the items, a text longer than the field, or one outside a valid range.
    void write(int32_t group, int32_t index, kelvane::TVariant* value, int32_t item);
    [[noreturn]] void refuse(const std::string& reason) const;

    UnitPinz& owner_;
    kelvane::TPropValue record_{};
    kelvane::TPropItems items_{};
    std::vector<std::u16string> itemTexts_;
    std::vector<const char16_t*> itemPointers_;
    std::u16string groupAnswer_;
    bool ignoresGroup_;
    kelvane::TParamRange range_{};
    WriterMode writerMode_;
    kelvane::TParamWriteEvent writer_{};
    std::string name_;
};

}  // namespace host
