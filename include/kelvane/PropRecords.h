// A unit's parameters (property records), their ranges and the writer a unit hands out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kelvane/Closure.h"

namespace kelvane {

#pragma pack(push, 1)

// The selectable items of a parameter.
struct TPropItems {
    int32_t Count;
    int32_t Reserved;
    const char16_t* const* Texts;  // Count zero-terminated texts
};

// One parameter of a unit. Layout of ours; the protocol reads the fields by name.
struct TPropValue {
    int32_t PropType;         // type code; selects how the value is shown and written
    int32_t ItemIndex;        // selected item, for parameters with Items
    char16_t Name[64];        // shown by the host; not sent to clients
    char16_t ValueText[128];  // zero-terminated
    char16_t UnitText[32];    // zero-terminated
    TPropItems* Items;        // null: no items
    uint8_t Enabled;
    uint8_t Reserved[7];
};

// Answer of a unit to the range command.
struct TParamRange {
    uint8_t Valid;
    double Minimum;
    double Maximum;
    int32_t Decimals;
};

// Automation-style variant; the parameter writer receives its value as a string.
struct TVariant {
    enum Kind : int32_t { vtEmpty = 0, vtString = 8 };
    int32_t Type;
    int32_t Reserved;
    const char16_t* String;
};

#pragma pack(pop)

// The writer a unit returns for the write command: (group, index, value, item index).
using TParamWriteEvent =
    TClosure<void(int32_t group, int32_t index, TVariant* value, int32_t item)>;

static_assert(offsetof(TParamRange, Minimum) == 1);
static_assert(offsetof(TParamRange, Maximum) == 9);
static_assert(offsetof(TParamRange, Decimals) == 17);
static_assert(sizeof(TParamRange) == 21);
static_assert(sizeof(TParamWriteEvent) == 16);
static_assert(sizeof(TVariant) == 16);

}  // namespace kelvane
