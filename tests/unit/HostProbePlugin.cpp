// The probe plug-in (see HostProbePlugin.h).
#include "tests/unit/HostProbePlugin.h"

#include <QLabel>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "kelvane/IORecords.h"

namespace {

using namespace kelvane;

class ProbePinz final : public TPinzBase {
  public:
    ~ProbePinz() override {
        delete label_;
        log("destroyed");
    }

    const char16_t* GetName() override { return u"Probe"; }
    QImage* GetIcon() override { return nullptr; }
    void SetDynamicID(int32_t) override {}
    void SetParent(TPinzBase*) override {}
    void InitInformForm(QWidget* parent) override {
        record_.infoParent = parent;
        log("InitInformForm");
    }
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
            command.Data = &record_;
            return;
        }
        call("send " + std::to_string(command.Code));
        switch (command.Code) {
            case cmdHostObjects:
                record_.ioTree = reinterpret_cast<IHostTree*>(command.Value);
                record_.system = static_cast<THostSystem*>(command.Data);
                break;
            case cmdLanguage:
                record_.language = static_cast<IXMLNode*>(command.Data);
                break;
            case cmdEmbedWindow:
                record_.serverParent = reinterpret_cast<QWidget*>(command.Value);
                label_ = new QLabel(QStringLiteral("probe server window"), record_.serverParent);
                label_->show();
                break;
            case cmdActiveChange:
                record_.activeChange = *reinterpret_cast<TActivateEvent*>(command.Value);
                break;
            case cmdEnableFlag:
                record_.enableFlag = *reinterpret_cast<int32_t*>(command.Value);
                break;
            case cmdProject:
                record_.project = static_cast<TProjectRecord*>(command.Data);
                break;
            default:
                break;
        }
    }
    void ReadParam(TPinzReadParam*) override {}
    int32_t SendData(const void*, int32_t) override { return 0; }
    int32_t ReadData(void*, int32_t) override { return 0; }
    void SetAddReadEvent(TPinzBase*, TReadEvent) override {}
    void SetDelReadEvent(TPinzBase*, TReadEvent) override {}
    bool DAQRun(TDaqRunType) override {
        call("DAQRun");
        record_.map.Clear();
        addRecords(nullptr);
        record_.openResult = record_.map.Open(true);
        if (record_.openResult == 0) {
            record_.map.Close();
        }
        return true;
    }
    void DAQStop(TDaqRunType) override {
        call("DAQStop");
        record_.map.Clear();
    }

  private:
    static void log(const std::string& line) {
        if (const char* path = std::getenv(kProbeLogVariable)) {
            std::ofstream(path, std::ios::app) << line << '\n';
        }
    }

    static void call(const std::string& name) {
        log(name);
        const char* fail = std::getenv(kProbeFailVariable);
        if (fail != nullptr && name == fail) {
            throw std::runtime_error("probe refuses " + name);
        }
    }

    // Depth-first over the host's IO tree, as a DAQ run builds its map.
    void addRecords(TTreeNode* parent) {
        IHostTree& tree = *record_.ioTree;
        for (TTreeNode* node = tree.GetFirstChild(parent); node != nullptr;
             node = tree.GetNextSibling(node)) {
            const TIONodeRecord* record = NodeRecord<TIONodeRecord>(tree, node);
            if (record->Kind == nkGroup) {
                addRecords(node);
            } else {
                record_.map.Add(record->IO);
            }
        }
    }

    ProbeRecord record_;
    QLabel* label_ = nullptr;
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
