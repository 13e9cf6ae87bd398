// What "DAQLIST" and "DAQ_DATA" show of an IO record: its value text, the names of its value
// list and its GUID text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kelvane/IORecords.h"

namespace daq::protocol {

// getIOValueText: appends the record's value text (UTF-8) to `out`, from the record's fixed
// fields and `value`, one consistent copy of its current-value block.
void appendIOValueText(const kelvane::TIOList& record, const kelvane::TCurrentValue& value,
                       std::string& out);

// Entries of a value list; 0 when there is none or its count is below 1.
int32_t valueListCount(const kelvane::TValueList* list);

// The name of the first entry whose value equals `value` truncated toward zero; empty when
// none does or the value does not fit 32 bits.
std::u16string_view valueListName(const kelvane::TValueList* list, double value);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case) when the record has a GUID, else empty.
struct GuidText {
    char chars[38] = {};
    std::size_t size = 0;

    std::string_view view() const { return {chars, size}; }
};
GuidText guidText(const kelvane::TIOList& record);

}  // namespace daq::protocol
