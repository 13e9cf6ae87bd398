#include "server/protocol/IoValueText.h"

#include <cmath>

#include "common/NumberFormat.h"
#include "common/TextConvert.h"
#include "kelvane/Text.h"

namespace daq::protocol {

namespace {

// Decimals and data type codes that mark a value shown as its text.
bool showsText(int32_t code) {
    return code == -1 || code == -2;
}

void appendFixed(const kelvane::TCurrentValue& value, std::string& out) {
    out.append(formatFixed(value.Value, value.Decimals).view());
}

void appendValueText(const kelvane::TCurrentValue& value, std::string& out) {
    appendUtf8(kelvane::FieldText(value.ValueText), out);
}

char* putHex(char* out, uint32_t value, int digits) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = kHex[value & 0xF];
        value >>= 4;
    }
    return out + digits;
}

}  // namespace

int32_t valueListCount(const kelvane::TValueList* list) {
    if (list == nullptr || list->Count < 1 || list->Entries == nullptr) {
        return 0;
    }
    return list->Count;
}

std::u16string_view valueListName(const kelvane::TValueList* list, double value) {
    const double truncated = std::trunc(value);
    if (!(truncated >= INT32_MIN && truncated <= INT32_MAX)) {
        return {};
    }
    const auto wanted = static_cast<int32_t>(truncated);
    const int32_t count = valueListCount(list);
    for (int32_t i = 0; i < count; ++i) {
        if (list->Entries[i].Value == wanted) {
            return kelvane::RefText(list->Entries[i].Name);
        }
    }
    return {};
}

void appendIOValueText(const kelvane::TIOList& record, const kelvane::TCurrentValue& value,
                       std::string& out) {
    switch (record.SigType) {
        case kelvane::stNumeric:
            if (record.ValueList == nullptr) {
                if (showsText(value.Decimals)) {
                    appendValueText(value, out);
                } else {
                    appendFixed(value, out);
                }
            } else if (record.ValueList->Count < 1) {
                if (showsText(value.Decimals) || showsText(record.DataType)) {
                    appendValueText(value, out);
                } else {
                    appendFixed(value, out);
                }
            } else {
                appendUtf8(valueListName(record.ValueList, value.Value), out);
            }
            return;
        case kelvane::stList:
            appendUtf8(valueListName(record.ValueList, value.Value), out);
            return;
        case kelvane::stText:
            appendValueText(value, out);
            return;
        default:
            return;
    }
}

GuidText guidText(const kelvane::TIOList& record) {
    GuidText text;
    if ((record.HasGuid & 1) == 0) {
        return text;
    }
    const kelvane::TGuid& guid = record.Guid;
    char* out = text.chars;
    *out++ = '{';
    out = putHex(out, guid.Data1, 8);
    *out++ = '-';
    out = putHex(out, guid.Data2, 4);
    *out++ = '-';
    out = putHex(out, guid.Data3, 4);
    *out++ = '-';
    out = putHex(out, guid.Data4[0], 2);
    out = putHex(out, guid.Data4[1], 2);
    *out++ = '-';
    for (int i = 2; i < 8; ++i) {
        out = putHex(out, guid.Data4[i], 2);
    }
    *out++ = '}';
    text.size = static_cast<std::size_t>(out - text.chars);
    return text;
}

}  // namespace daq::protocol
