#include "plugin/ClsInterface.h"

#include <cinttypes>
#include <cstring>

#include "common/TextConvert.h"
#include "kelvane/SystemRecords.h"
#include "plugin/LibraryApplication.h"
#include "server/window/TfrmDAQTray.h"
#include "trace/Trace.h"

namespace daq {

namespace {

constexpr uint64_t kMaxPort = 65535;

template <typename T>
T* pointerValue(uint64_t value) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(value));
}

}  // namespace

ClsInterface::ClsInterface()
    : frmDAQTray(std::make_unique<window::TfrmDAQTray>(libraryApplication())) {}

ClsInterface::~ClsInterface() {
    // The window first: it keeps a pointer to the text table.
    frmDAQTray.reset();
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
    textTable_.load(root, kelvane::kDaqServerPinType);
    frmDAQTray->applyTexts(&textTable_);
}

void ClsInterface::command(kelvane::TPinzCommand& command) {
    ServerRuntime& runtime = frmDAQTray->runtime();
    switch (command.Code) {
        case kelvane::cmdHostObjects:
            setHostObjects(command);
            return;
        case kelvane::cmdClearResult:
            command.Result = 0;
            return;
        case kelvane::cmdKeepValue:
            commandValue_ = command.Value;
            return;
        case kelvane::cmdLanguage:
        case kelvane::cmdLanguageAlt:
            changeLanguage(static_cast<kelvane::IXMLNode*>(command.Data));
            return;
        case kelvane::cmdClearData:
            command.Data = nullptr;
            return;
        case kelvane::cmdRunModeAddress:
            command.Data = runtime.runModeAddress();
            return;
        case kelvane::cmdEmbedWindow:
            frmDAQTray->embedIn(pointerValue<QWidget>(command.Value));
            return;
        case kelvane::cmdActiveChange:
            if (command.Value != 0) {
                frmDAQTray->setOnActiveChange(
                    *pointerValue<const kelvane::TActivateEvent>(command.Value));
            }
            return;
        case kelvane::cmdEnableFlag:
            enableFlag_ = pointerValue<const int32_t>(command.Value);
            runtime.setEnableFlag(enableFlag_);
            return;
        case kelvane::cmdProject:
            runtime.setProject(static_cast<const kelvane::TProjectRecord*>(command.Data));
            return;
        case kelvane::cmdTextEntry42:
        case kelvane::cmdTextEntry43:
            // The entry's text (UTF-8); the empty text when the host supplied fewer entries.
            command.Data = const_cast<std::string*>(
                &textTable_.at(command.Code == kelvane::cmdTextEntry42 ? 42 : 43));
            return;
        case kelvane::cmdLoginCallback:
            if (command.Data != nullptr) {
                runtime.setLoginCallback(*static_cast<const kelvane::TLoginEvent*>(command.Data));
            }
            return;
        default:
            listenerCommand(command);
            return;
    }
}

void ClsInterface::setHostObjects(const kelvane::TPinzCommand& command) {
    ServerRuntime& runtime = frmDAQTray->runtime();
    if (command.Data != nullptr) {
        const auto* system = static_cast<const kelvane::THostSystem*>(command.Data);
        DAQ_TRACE(kTraceInfo, "SendParam", "ClsInterface",
                  "[TCP_SERVER] Set MySysytemVst Pointer : %" PRIxPTR,
                  reinterpret_cast<uintptr_t>(system->SystemTree));
        runtime.setSystemTree(system->SystemTree);
        runtime.setProject(system->Project);
    }
    runtime.setIoTree(pointerValue<kelvane::IHostTree>(command.Value));
}

// The stand-in host's commands of the listener; other codes are ignored.
void ClsInterface::listenerCommand(kelvane::TPinzCommand& command) {
    ServerRuntime& runtime = frmDAQTray->runtime();
    switch (command.Code) {
        case kelvane::cmdListenAddress:
            if (command.Text != nullptr) {
                runtime.setListenAddress(toUtf8(command.Text));
            }
            return;
        case kelvane::cmdListenPort:
            if (command.Value > kMaxPort) {
                DAQ_TRACE(kTraceError, "SendParam", "ClsInterface",
                          "TCP/IP Server : port %" PRIu64 " is not in 0..65535, ignored",
                          command.Value);
            } else {
                runtime.setListenPort(static_cast<int32_t>(command.Value));
            }
            return;
        case kelvane::cmdListenerState: {
            ServerRuntime::ListenerState state = runtime.listenerState();
            listenerText_ = std::move(state.text);
            command.Result = state.listening ? 1 : 0;
            command.Data = &listenerText_;
            return;
        }
        default:
            return;
    }
}

}  // namespace daq
