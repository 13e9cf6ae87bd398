// The probe plug-in (see HostProbePlugin.h).
#include "tests/unit/HostProbePlugin.h"

#include <QLabel>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

using namespace kelvane;

void call(const std::string& name) {
    if (const char* path = std::getenv(kProbeLogVariable)) {
        std::ofstream(path, std::ios::app) << name << '\n';
    }
    const char* fail = std::getenv(kProbeFailVariable);
    if (fail != nullptr && name == fail) {
        throw std::runtime_error("probe refuses " + name);
    }
}

class ProbePinz final : public TPinzBase {
  public:
    ~ProbePinz() override { call("destroyed"); }

    const char16_t* GetName() override { return u"Probe"; }
    QImage* GetIcon() override { return nullptr; }
    void SetDynamicID(int32_t) override {}
    void SetParent(TPinzBase*) override {}
    void InitInformForm(QWidget*) override { call("InitInformForm"); }
    void ShowInformForm(bool) override {}
    void SetPropChangeResult(TPropChangeEvent) override {}
    void SetActive(TActivateEvent) override {}
    void SetAddChildPinz(TPinzBase*) override {}
    bool SetDelChildPinz(TPinzBase*) override { return false; }
    void SetCopyPinz(TPinzBase*) override {}
    void ReadConfig(IXMLNode*, TPinReadType) override { call("ReadConfig"); }
    void WriteConfig(IXMLNode*) override { call("WriteConfig"); }
    void LocalLanguage(IXMLNode*) override {}
    TPropChangeResult PropertyChange(TPropValue*, int32_t, TPropChangeType, void*) override {
        return pcrNone;
    }
    bool CheckSupportPinz(TPinzBase*, TTreeNodeType) override { return true; }
    int32_t GetMaxChild(TPinzBase*) override { return 1; }
    int32_t Connect(void*) override {
        call("Connect");
        return 1;
    }
    void Disconnect() override { call("Disconnect"); }
    void SendParam(const _TPinzSendParam* param) override {
        TPinzCommand& command = *param->Command;
        if (command.Code == kProbeRecordCode) {
            command.Data = &commands_;
            return;
        }
        call("send " + std::to_string(command.Code));
        commands_[command.Code] = command;
        if (command.Code == cmdEmbedWindow) {
            // Left to the host, which deletes what a plug-in leaves in its widgets.
            new QLabel(reinterpret_cast<QWidget*>(command.Value));
        }
    }
    void ReadParam(TPinzReadParam*) override {}
    int32_t SendData(const void*, int32_t) override { return 0; }
    int32_t ReadData(void*, int32_t) override { return 0; }
    void SetAddReadEvent(TPinzBase*, TReadEvent) override {}
    void SetDelReadEvent(TPinzBase*, TReadEvent) override {}
    bool DAQRun(TDaqRunType) override {
        call("DAQRun");
        return true;
    }
    void DAQStop(TDaqRunType) override { call("DAQStop"); }

  private:
    ProbeCommands commands_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) TPinzBase* CreatePinzInstance(TApplication*,
                                                                                TPinzBase*, int32_t,
                                                                                bool, void*) {
    return new ProbePinz;
}

extern "C" __attribute__((visibility("default"))) void DeletePinzInstance(TPinzBase* instance) {
    delete instance;
}
