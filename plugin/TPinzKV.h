// The plug-in object the host creates: its pin information, icon, child list and information
// form, and the host operations, which it passes on to the command object and the server
// window.
#pragma once

#include <cstdint>

#include "kelvane/Application.h"
#include "kelvane/Pinz.h"

namespace daq {

class ClsInterface;
class ServerRuntime;
class TfrmInfo;

class TPinzKV : public kelvane::TPinzBase {
  public:
    // Adopts `application` as the library's application object; creates the information
    // form (and with it the server window) at once unless `noForm` is set.
    TPinzKV(kelvane::TApplication* application, kelvane::TPinzBase* parent, bool noForm,
            void* user);
    // A copy would share the information form, and both copies would destroy it.
    TPinzKV(const TPinzKV&) = delete;
    TPinzKV& operator=(const TPinzKV&) = delete;
    ~TPinzKV() override;

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

    TfrmInfo* infoForm() const;
    // The form's command object; null while there is no form.
    ClsInterface* commandObject() const;
    // The server of the command object's window; null while there is no form.
    ServerRuntime* serverRuntime() const;
    int32_t dynamicId() const { return FDynamicID; }
    int32_t connected() const { return FConnected; }
    kelvane::TPinzBase* parentPinz() const { return FParent; }
    const kelvane::TTList<kelvane::TPinzBase*>& children() const { return FChildren; }
    kelvane::TApplication* savedApplication() const { return FSavedApplication; }
};

}  // namespace daq
