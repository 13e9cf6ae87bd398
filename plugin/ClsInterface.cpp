#include "plugin/ClsInterface.h"

#include <cinttypes>
#include <cstring>

#include "common/TextConvert.h"
#include "kelvane/SystemRecords.h"
#include "server/FormTray.h"
#include "server/LibraryApplication.h"
#include "trace/Trace.h"

namespace daq {

namespace {

constexpr int32_t kPinType = 11;
constexpr uint64_t kMaxPort = 65535;

template <typename T>
T* pointerValue(uint64_t value) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(value));
}

}  // namespace

ClsInterface::ClsInterface() {
    frmDAQTray = new TfrmDAQTray(libraryApplication());
}

ClsInterface::~ClsInterface() {
    // The window first: it keeps a pointer to the text table.
    delete frmDAQTray;
    frmDAQTray = nullptr;
    readEvents_.Clear();
    textTable_.clear();
}

kelvane::TPropChangeResult ClsInterface::propertyChange(kelvane::TPropValue*, int32_t,
                                                        kelvane::TPropChangeType, void*) {
    return kelvane::pcrNone;
}

void ClsInterface::addReadEvent(kelvane::TReadEvent handler) {
    for (const kelvane::TReadEvent& known : readEvents_) {
        if (known == handler) {
            return;
        }
    }
    readEvents_.Add(handler);
}

void ClsInterface::deleteReadEvent(kelvane::TReadEvent handler) {
    for (int32_t i = 0; i < readEvents_.Count(); ++i) {
        if (readEvents_[i] == handler) {
            readEvents_.Delete(i);
            return;
        }
    }
}

void ClsInterface::sendParam(const kelvane::_TPinzSendParam* param) {
    if (param == nullptr || param->Kind != kelvane::kPinzCommandKind || param->Command == nullptr) {
        return;
    }
    command(*param->Command);
}

void ClsInterface::changeLanguage(kelvane::IXMLNode* root) {
    languageRoot_ = root;
    textTable_.load(root, kPinType);
    if (frmDAQTray != nullptr) {
        frmDAQTray->applyTexts(&textTable_);
    }
}

void ClsInterface::command(kelvane::TPinzCommand& command) {
    switch (command.Code) {
        case cmdHostObjects:
            if (frmDAQTray == nullptr) {
                return;
            }
            if (command.Data != nullptr) {
                const auto* system = static_cast<const kelvane::THostSystem*>(command.Data);
                DAQ_TRACE(kTraceInfo, "SendParam", "ClsInterface",
                          "[TCP_SERVER] Set MySysytemVst Pointer : %" PRIxPTR,
                          reinterpret_cast<uintptr_t>(system->SystemTree));
                frmDAQTray->setSystemTree(system->SystemTree);
                frmDAQTray->setProject(system->Project);
            }
            frmDAQTray->setIoTree(pointerValue<kelvane::IHostTree>(command.Value));
            return;
        case cmdClearResult:
            command.Result = 0;
            return;
        case cmdKeepValue:
            commandValue_ = command.Value;
            return;
        case cmdLanguage:
        case cmdLanguageAlt:
            changeLanguage(static_cast<kelvane::IXMLNode*>(command.Data));
            return;
        case cmdClearData:
            command.Data = nullptr;
            return;
        case cmdRunModeAddress:
            if (frmDAQTray != nullptr) {
                command.Data = frmDAQTray->runModeAddress();
            }
            return;
        case cmdEmbedWindow:
            if (frmDAQTray != nullptr) {
                frmDAQTray->embedIn(pointerValue<QWidget>(command.Value));
            }
            return;
        case cmdActiveChange:
            if (frmDAQTray != nullptr && command.Value != 0) {
                frmDAQTray->setOnActiveChange(
                    *pointerValue<const kelvane::TActivateEvent>(command.Value));
            }
            return;
        case cmdEnableFlag:
            enableFlag_ = pointerValue<const int32_t>(command.Value);
            if (frmDAQTray != nullptr) {
                frmDAQTray->setEnableFlag(enableFlag_);
            }
            return;
        case cmdProject:
            if (frmDAQTray != nullptr) {
                frmDAQTray->setProject(static_cast<const kelvane::TProjectRecord*>(command.Data));
            }
            return;
        case cmdTextEntry42:
        case cmdTextEntry43:
            // The entry's text (UTF-8); the empty text when the host supplied fewer entries.
            command.Data =
                const_cast<std::string*>(&textTable_.at(command.Code == cmdTextEntry42 ? 42 : 43));
            return;
        case cmdLoginCallback:
            if (frmDAQTray != nullptr && command.Data != nullptr) {
                frmDAQTray->setLoginCallback(
                    *static_cast<const kelvane::TLoginEvent*>(command.Data));
            }
            return;
        case cmdListenAddress:
            if (frmDAQTray != nullptr && command.Text != nullptr) {
                frmDAQTray->setListenAddress(toUtf8(command.Text));
            }
            return;
        case cmdListenPort:
            if (command.Value > kMaxPort) {
                DAQ_TRACE(kTraceError, "SendParam", "ClsInterface",
                          "TCP/IP Server : port %" PRIu64 " is not in 0..65535, ignored",
                          command.Value);
            } else if (frmDAQTray != nullptr) {
                frmDAQTray->setListenPort(static_cast<int32_t>(command.Value));
            }
            return;
        case cmdListenerState:
            if (frmDAQTray != nullptr) {
                TfrmDAQTray::ListenerState state = frmDAQTray->listenerState();
                listenerText_ = std::move(state.text);
                command.Result = state.listening ? 1 : 0;
                command.Data = &listenerText_;
            }
            return;
        default:
            return;
    }
}

}  // namespace daq
