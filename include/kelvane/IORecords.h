// The host's IO records and the IO map's header records. Packed, fixed offsets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvane {

#pragma pack(push, 1)

struct TGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

// Current value of one IO record (89 bytes). The map's header carries one, the IO record
// another; the plug-in copies the first into the second while Updated is non-zero.
struct TCurrentValue {
    double TimeStamp;  // days since 1899-12-30, local time
    double Value;
    int32_t Decimals;        // -1 and -2: the value is shown as ValueText
    char16_t ValueText[32];  // zero-terminated
    uint8_t Updated;         // non-zero: the host has a value for this entry
    uint8_t Reserved[4];
};

// One header record of the IO map, one per entry.
struct TMapHeader {
    int32_t Index;  // entry index in the map
    int32_t Reserved0;
    uint64_t WriteCount;  // how many values the host has written into this header
    uint8_t Reserved1[40];
    TCurrentValue Current;
};

struct TValueListEntry {
    uint64_t Reserved0;
    const char16_t* Name;
    int32_t Value;
    int32_t Reserved1;
};

// Named values of a record whose value is one of a list.
struct TValueList {
    uint64_t Reserved0;
    int32_t Count;
    int32_t Reserved1;
    TValueListEntry* Entries;
};

enum TSigType : int32_t { stNumeric = 0, stList = 1, stText = 2 };

// The host's IO record.
struct TIOList {
    int32_t Id;  // the host's own record number
    uint8_t Reserved0[32];
    TGuid Guid;
    uint8_t HasGuid;  // bit 0: Guid is valid
    uint8_t Reserved1[83];
    const char16_t* TagName;
    int32_t SigType;
    int32_t Reserved2;
    TValueList* ValueList;
    int32_t RW;
    int32_t Reserved3;
    const char16_t* Unit;
    uint64_t Reserved4;
    const char16_t* Description;
    uint8_t Reserved5[12];
    int32_t DataType;  // -1 and -2: the value is shown as text
    uint8_t Reserved6[36];
    TCurrentValue Current;
    uint8_t Reserved7[3];
};

enum TIONodeKind : int32_t { nkGroup = 2, nkTag = 3 };

// The record a node of the host's IO tree carries.
struct TIONodeRecord {
    int32_t Kind;  // nkGroup: has child nodes; otherwise IO points to the record
    uint8_t Reserved[20];
    TIOList* IO;
};

#pragma pack(pop)

inline constexpr int kUpdatedFlagOffset = 84;  // byte of the current-value block

static_assert(sizeof(TGuid) == 16);
static_assert(sizeof(TCurrentValue) == 89);
static_assert(offsetof(TCurrentValue, Value) == 8);
static_assert(offsetof(TCurrentValue, Decimals) == 16);
static_assert(offsetof(TCurrentValue, ValueText) == 20);
static_assert(offsetof(TCurrentValue, Updated) == kUpdatedFlagOffset);

static_assert(offsetof(TMapHeader, Current) == 56);
static_assert(offsetof(TMapHeader, Current) + kUpdatedFlagOffset == 140);

static_assert(offsetof(TValueList, Count) == 8);
static_assert(offsetof(TValueList, Entries) == 16);
static_assert(sizeof(TValueListEntry) == 24);
static_assert(offsetof(TValueListEntry, Name) == 8);
static_assert(offsetof(TValueListEntry, Value) == 16);

static_assert(offsetof(TIOList, Guid) == 36);
static_assert(offsetof(TIOList, HasGuid) == 52);
static_assert(offsetof(TIOList, TagName) == 136);
static_assert(offsetof(TIOList, SigType) == 144);
static_assert(offsetof(TIOList, ValueList) == 152);
static_assert(offsetof(TIOList, RW) == 160);
static_assert(offsetof(TIOList, Unit) == 168);
static_assert(offsetof(TIOList, Description) == 184);
static_assert(offsetof(TIOList, DataType) == 204);
static_assert(offsetof(TIOList, Current) == 244);
static_assert(offsetof(TIOList, Current) + offsetof(TCurrentValue, TimeStamp) == 244);
static_assert(offsetof(TIOList, Current) + offsetof(TCurrentValue, Value) == 252);
static_assert(offsetof(TIOList, Current) + offsetof(TCurrentValue, Decimals) == 260);
static_assert(offsetof(TIOList, Current) + offsetof(TCurrentValue, ValueText) == 264);
static_assert(sizeof(TIOList) == 336);

static_assert(offsetof(TIONodeRecord, Kind) == 0);
static_assert(offsetof(TIONodeRecord, IO) == 24);

}  // namespace kelvane
