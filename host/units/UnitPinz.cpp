#include "host/units/UnitPinz.h"

#include <atomic>
#include <charconv>

#include "host/core/Utf16.h"
#include "kelvane/Text.h"

namespace host {

namespace {

// The decimal index a plug-in puts in a command's text; -1 when it is not one.
int32_t indexOf(const char16_t* text) {
    const std::string digits = toUtf8(kelvane::RefText(text));
    int32_t index = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    return error == std::errc() && end == digits.data() + digits.size() ? index : -1;
}

std::string unitTitle(const UnitSpec& spec) {
    if (!spec.stationName.empty()) {
        return spec.stationName;
    }
    return spec.deviceName.value_or(spec.info.value_or("Unit"));
}

}  // namespace

UnitPinz::UnitPinz(const UnitSpec& spec, int32_t& connectState)
    : name_(toUtf16(unitTitle(spec))), connectState_(connectState) {
    FPinKind = spec.pinKind;
    FPinInfo.PinType = spec.pinKind;
    kelvane::StoreText(FPinInfo.Name, name_);
    kelvane::StoreText(FPinInfo.Version, u"1.0");
    kelvane::StoreText(FPinInfo.Description, u"Simulated unit of the stand-in host");
    kelvane::StoreText(FPinInfo.TypeText, toUtf16(spec.info.value_or("")));
    for (const ParameterSpec& parameter : spec.parameters) {
        const auto index = static_cast<int32_t>(parameters_.size());
        parameters_.push_back(std::make_unique<UnitParameter>(parameter, index, *this));
        if (properties_.Add(parameters_.back()->record()) < 0) {
            throw std::bad_alloc();
        }
    }
    FProperties = &properties_;
}

UnitPinz::~UnitPinz() = default;

UnitCalls UnitPinz::calls() const {
    std::lock_guard lock(callsLock_);
    return calls_;
}

UnitParameter* UnitPinz::parameterOf(const char16_t* indexText) {
    const int32_t index = indexOf(indexText);
    if (index < 0 || static_cast<std::size_t>(index) >= parameters_.size()) {
        return nullptr;
    }
    return parameters_[static_cast<std::size_t>(index)].get();
}

bool UnitPinz::online() const {
    // The host writes connect states with atomic stores while writes come on IO threads.
    return std::atomic_ref<int32_t>(connectState_).load(std::memory_order_relaxed) == 1;
}

void UnitPinz::recordWrite(int32_t group, int32_t index, int32_t item, std::u16string value) {
    std::lock_guard lock(callsLock_);
    ++calls_.writes;
    calls_.lastWriteGroup = group;
    calls_.lastWriteIndex = index;
    calls_.lastWriteItem = item;
    calls_.lastWriteValue = std::move(value);
}

void UnitPinz::SendParam(const kelvane::_TPinzSendParam* param) {
    if (param == nullptr || param->Kind != kelvane::kPinzCommandKind || param->Command == nullptr) {
        return;
    }
    kelvane::TPinzCommand& command = *param->Command;
    std::lock_guard lock(callsLock_);
    switch (command.Code) {
        case 5:
            ++calls_.selects;
            break;
        case 106: {
            ++calls_.groupQueries;
            UnitParameter* parameter = parameterOf(command.Text);
            if (parameter != nullptr && parameter->groupAnswer() != nullptr) {
                command.Text = parameter->groupAnswer();
            }
            break;
        }
        case 109: {
            ++calls_.rangeQueries;
            UnitParameter* parameter = parameterOf(command.Text);
            command.Data = parameter == nullptr ? nullptr : parameter->range();
            break;
        }
        case 105: {
            ++calls_.writerQueries;
            UnitParameter* parameter = parameterOf(command.Text);
            command.Data = parameter == nullptr ? nullptr : parameter->writer();
            break;
        }
        default:
            break;
    }
}

kelvane::TPropChangeResult UnitPinz::PropertyChange(kelvane::TPropValue* prop, int32_t index,
                                                    kelvane::TPropChangeType type, void*) {
    std::lock_guard lock(callsLock_);
    ++calls_.propertyChanges;
    calls_.lastChangeIndex = index;
    calls_.lastChangeType = type;
    calls_.lastChangeRecord = prop;
    return kelvane::pcrNone;
}

// The rest of the interface: a simulated unit has no form, no children and no data channel.
const char16_t* UnitPinz::GetName() {
    return name_.c_str();
}
QImage* UnitPinz::GetIcon() {
    return nullptr;
}
void UnitPinz::SetDynamicID(int32_t id) {
    FDynamicID = id;
}
void UnitPinz::SetParent(kelvane::TPinzBase* parent) {
    FParent = parent;
}
void UnitPinz::InitInformForm(QWidget*) {}
void UnitPinz::ShowInformForm(bool) {}
void UnitPinz::SetPropChangeResult(kelvane::TPropChangeEvent) {}
void UnitPinz::SetActive(kelvane::TActivateEvent) {}
void UnitPinz::SetAddChildPinz(kelvane::TPinzBase*) {}
bool UnitPinz::SetDelChildPinz(kelvane::TPinzBase*) {
    return false;
}
void UnitPinz::SetCopyPinz(kelvane::TPinzBase*) {}
void UnitPinz::ReadConfig(kelvane::IXMLNode*, kelvane::TPinReadType) {}
void UnitPinz::WriteConfig(kelvane::IXMLNode*) {}
void UnitPinz::LocalLanguage(kelvane::IXMLNode*) {}
bool UnitPinz::CheckSupportPinz(kelvane::TPinzBase*, kelvane::TTreeNodeType) {
    return true;
}
int32_t UnitPinz::GetMaxChild(kelvane::TPinzBase*) {
    return 0;
}
int32_t UnitPinz::Connect(void*) {
    FConnected = 1;
    return 1;
}
void UnitPinz::Disconnect() {
    FConnected = 0;
}
void UnitPinz::ReadParam(kelvane::TPinzReadParam*) {}
int32_t UnitPinz::SendData(const void*, int32_t) {
    return 0;
}
int32_t UnitPinz::ReadData(void*, int32_t) {
    return 0;
}
void UnitPinz::SetAddReadEvent(kelvane::TPinzBase*, kelvane::TReadEvent) {}
void UnitPinz::SetDelReadEvent(kelvane::TPinzBase*, kelvane::TReadEvent) {}
bool UnitPinz::DAQRun(kelvane::TDaqRunType) {
    return true;
}
void UnitPinz::DAQStop(kelvane::TDaqRunType) {}

}  // namespace host
