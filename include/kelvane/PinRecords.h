// Records of the plug-in boundary: pin information, host commands and the login record.
// All packed; every offset the host relies on is checked below.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvane {

#pragma pack(push, 1)

// Returned by TPinzBase::GetPinInfo(); texts are UTF-16, zero-filled.
struct TPinInfo {
    int32_t PinType;
    int32_t Reserved0;
    char16_t Name[128];
    char16_t Version[32];
    char16_t Description[256];
    char16_t TypeText[256];
    char16_t Date[32];
    int32_t Reserved1;
};

// One host command; commands may write Result and Data back.
struct TPinzCommand {
    int32_t Code;
    uint64_t Value;        // a pointer or a handle, by command
    uint64_t Value2;       // unused by the commands a plug-in receives; 0 when sent
    const char16_t* Text;  // argument text; a unit may point it at its own answer
    int32_t Result;
    void* Data;  // a pointer, by command
};

// The envelope SendParam receives. Only kind kPinzCommandKind carries a command.
struct _TPinzSendParam {
    uint64_t Reserved0;  // zero
    int32_t Kind;
    int32_t Reserved1;
    TPinzCommand* Command;
};

struct TPinzReadParam {
    uint64_t Reserved0;
    int32_t Kind;
    int32_t Reserved1;
    int64_t Value;
};

// Passed (through TPinzCommand::Value) with the login command to the host's login callback.
struct TPinzLoginUser {
    const char16_t* Name;  // empty
    const char16_t* Id;
    const char16_t* Password;
    uint8_t Flags[7];  // zero on the way out; Flags[kLoginWriteFlag] bit 0 = may write
};

#pragma pack(pop)

inline constexpr int32_t kPinzCommandKind = 54;

// Codes of the host's command channel to a plug-in (TPinzCommand::Code).
enum TPinzCommandCode : int32_t {
    cmdHostObjects = 0,      // Value: the IO tree; Data: the THostSystem
    cmdClearResult = 2,      // Result := 0
    cmdKeepValue = 4,        // Value kept by the plug-in
    cmdLanguage = 15,        // Data: the language file's root node
    cmdLanguageAlt = 16,     // the same
    cmdClearData = 20,       // Data := null
    cmdRunModeAddress = 22,  // Data := the address of the plug-in's run mode
    cmdEmbedWindow = 49,     // Value: the host widget the plug-in's window fills
    cmdActiveChange = 57,    // Value: the address of the host's TActivateEvent
    cmdEnableFlag = 66,      // Value: the address of the host's enable flag
    cmdProject = 83,         // Data: the TProjectRecord
    cmdTextEntry42 = 96,     // Data := the plug-in's language text 42
    cmdTextEntry43 = 97,     // Data := the plug-in's language text 43
    cmdLoginCallback = 111,  // Data: the address of the host's TLoginEvent
    // The stand-in host's: the listener's address (Text) and port (Value) over the plug-in's
    // own settings, before the DAQ run; and the listener's state (Result 1 when it listens, 0
    // when not; Data the address of a UTF-8 text: where it listens, or why not).
    cmdListenAddress = 200,
    cmdListenPort = 201,
    cmdListenerState = 202,
};

// Pin type of the TCP DAQ server plug-in (TPinInfo::PinType), also the section of its texts in
// the host's language files.
inline constexpr int32_t kDaqServerPinType = 11;
inline constexpr int32_t kLoginCommand = 112;
inline constexpr int kLoginWriteFlag = 2;  // flag byte at offset 26 of TPinzLoginUser

// Host enumerations; only the values named in the protocol carry a meaning here.
enum TPinReadType : int32_t {};
enum TDaqRunType : int32_t {};
enum TPropChangeType : int32_t { pcValueChanged = 1 };
enum TPropChangeResult : int32_t { pcrNone = 0, pcrShowInform = 3 };
enum TTreeNodeType : int32_t {};

static_assert(offsetof(TPinInfo, PinType) == 0);
static_assert(offsetof(TPinInfo, Name) == 8);
static_assert(offsetof(TPinInfo, Version) == 264);
static_assert(offsetof(TPinInfo, Description) == 328);
static_assert(offsetof(TPinInfo, TypeText) == 840);
static_assert(offsetof(TPinInfo, Date) == 1352);
static_assert(offsetof(TPinInfo, Reserved1) == 1416);
static_assert(sizeof(TPinInfo) == 1420);

static_assert(offsetof(TPinzCommand, Code) == 0);
static_assert(offsetof(TPinzCommand, Value) == 4);
static_assert(offsetof(TPinzCommand, Value2) == 12);
static_assert(offsetof(TPinzCommand, Text) == 20);
static_assert(offsetof(TPinzCommand, Result) == 28);
static_assert(offsetof(TPinzCommand, Data) == 32);
static_assert(sizeof(TPinzCommand) == 40);

static_assert(offsetof(_TPinzSendParam, Kind) == 8);
static_assert(offsetof(_TPinzSendParam, Command) == 16);
static_assert(offsetof(TPinzReadParam, Kind) == 8);
static_assert(offsetof(TPinzReadParam, Value) == 16);

static_assert(offsetof(TPinzLoginUser, Id) == 8);
static_assert(offsetof(TPinzLoginUser, Password) == 16);
static_assert(offsetof(TPinzLoginUser, Flags) == 24);
static_assert(offsetof(TPinzLoginUser, Flags) + kLoginWriteFlag == 26);

}  // namespace kelvane
