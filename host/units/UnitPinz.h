// The plug-in object of a simulated unit (interface, station or device): implements the plug-in
// interface with the unit's pin kind and parameters, and answers the commands a plug-in sends
// to units (5 select, 106 group, 109 range, 105 writer) and PropertyChange.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/core/ProjectModel.h"
#include "host/units/UnitParameter.h"
#include "kelvane/Pinz.h"

namespace host {

// What the unit has been asked, for tests and the host's view. Commands arrive on IO threads.
struct UnitCalls {
    int selects = 0;          // command 5
    int groupQueries = 0;     // command 106
    int rangeQueries = 0;     // command 109
    int writerQueries = 0;    // command 105
    int writes = 0;           // writer calls, including those that raised
    int propertyChanges = 0;  // PropertyChange calls
    int32_t lastWriteGroup = 0;
    int32_t lastWriteIndex = 0;
    int32_t lastWriteItem = 0;
    std::u16string lastWriteValue;
    int32_t lastChangeIndex = 0;
    int32_t lastChangeType = 0;
    const kelvane::TPropValue* lastChangeRecord = nullptr;
};

class UnitPinz final : public kelvane::TPinzBase {
  public:
    // `connectState` is the unit's connect state, which the host changes while the unit lives.
    UnitPinz(const UnitSpec& spec, int32_t& connectState);
    UnitPinz(const UnitPinz&) = delete;
    UnitPinz& operator=(const UnitPinz&) = delete;
    ~UnitPinz() override;

    UnitCalls calls() const;
    int32_t parameterCount() const { return properties_.Count(); }
    kelvane::TPropValue* parameter(int32_t index) { return properties_[index]; }

    const char16_t* GetName() override;
    QImage* GetIcon() override;
    void SetDynamicID(int32_t id) override;
    void SetParent(kelvane::TPinzBase* parent) override;
    void InitInformForm(QWidget* parent) override;
    void ShowInformForm(bool show) override;
    void SetPropChangeResult(kelvane::TPropChangeEvent handler) override;
    void SetActive(kelvane::TActivateEvent handler) override;
    void SetAddChildPinz(kelvane::TPinzBase* child) override;
    bool SetDelChildPinz(kelvane::TPinzBase* child) override;
    void SetCopyPinz(kelvane::TPinzBase* source) override;
    void ReadConfig(kelvane::IXMLNode* node, kelvane::TPinReadType type) override;
    void WriteConfig(kelvane::IXMLNode* node) override;
    void LocalLanguage(kelvane::IXMLNode* node) override;
    kelvane::TPropChangeResult PropertyChange(kelvane::TPropValue* prop, int32_t index,
                                              kelvane::TPropChangeType type, void* data) override;
    bool CheckSupportPinz(kelvane::TPinzBase* parent, kelvane::TTreeNodeType type) override;
    int32_t GetMaxChild(kelvane::TPinzBase* parent) override;
    int32_t Connect(void* argument) override;
    void Disconnect() override;
    void SendParam(const kelvane::_TPinzSendParam* param) override;
    void ReadParam(kelvane::TPinzReadParam* param) override;
    int32_t SendData(const void* data, int32_t size) override;
    int32_t ReadData(void* data, int32_t size) override;
    void SetAddReadEvent(kelvane::TPinzBase* sender, kelvane::TReadEvent handler) override;
    void SetDelReadEvent(kelvane::TPinzBase* sender, kelvane::TReadEvent handler) override;
    bool DAQRun(kelvane::TDaqRunType type) override;
    void DAQStop(kelvane::TDaqRunType type) override;

  private:
    friend class UnitParameter;
    // Parameter of a command's index text, or null when the text names none.
    UnitParameter* parameterOf(const char16_t* indexText);
    void recordWrite(int32_t group, int32_t index, int32_t item, std::u16string value);
    // Whether the station is connected (connect state 1): an offline unit takes no writes.
    bool online() const;

    std::u16string name_;
    int32_t& connectState_;
    std::vector<std::unique_ptr<UnitParameter>> parameters_;
    kelvane::TTList<kelvane::TPropValue*> properties_;
    mutable std::mutex callsLock_;
    UnitCalls calls_;
};

}  // namespace host
