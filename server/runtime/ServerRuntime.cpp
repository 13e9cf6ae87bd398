#include "server/runtime/ServerRuntime.h"

#include <charconv>

#include "kelvane/IORecords.h"
#include "kelvane/SystemRecords.h"
#include "kelvane/Text.h"
#include "server/runtime/DescriptorLimit.h"
#include "server/runtime/GuardedStep.h"
#include "trace/Trace.h"

namespace daq {

namespace {

constexpr const char* kConfigNode = "TCPServer";
constexpr const char* kRunModeAttribute = "RunMode";
constexpr const char* kActiveAttribute = "Active";

tcp::TcpServerSettings listenerSettings(const RuntimeOptions& options,
                                        const ServerSettings& configured) {
    tcp::TcpServerSettings settings;
    settings.ioThreads = options.ioThreads;
    settings.maxConnections = options.limits.maxConnections;
    settings.maxOutputBacklog = options.limits.maxOutputBacklog;
    settings.unfinishedInputTimeout =
        std::chrono::seconds(options.limits.unfinishedFrameTimeoutSeconds);
    settings.idleTimeout = std::chrono::seconds(options.limits.idleTimeoutSeconds);
    settings.tlsHandshakeTimeout = std::chrono::seconds(configured.tlsHandshakeTimeoutSeconds);
    return settings;
}

RuntimeOptions withConfigured(RuntimeOptions options, const ServerSettings& configured) {
    options.limits = configured.limits;
    options.ioThreads = configured.ioThreads;
    raiseDescriptorLimit(configured.limits.maxConnections);
    return options;
}

std::string exeDir(const kelvane::TApplication* application) {
    return application != nullptr ? application->ExeDir() : std::string();
}

// A decimal integer, 0 when the text is not one.
int32_t integerOrZero(const std::string& text) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

ServerRuntime::ServerRuntime(kelvane::TApplication* application, RuntimeOptions options,
                             ServerRuntimeView& view)
    : application_(application),
      view_(view),
      configured_(daq::loadServerConfig(serverConfigPath(exeDir(application)), options.limits,
                                        options.ioThreads)),
      options_(withConfigured(std::move(options), configured_)),
      core_(ioMap_, DaqRunning, view, options_.limits),
      BMThread1(ioMap_, DaqRunning, configured_.refreshIntervalMs),
      IdTCPServer1(listenerSettings(options_, configured_)) {
    installExceptionHandler();
    wireListener();
    loadServerConfig();
    BMThread1.start();
}

ServerRuntime::~ServerRuntime() {
    // FormDestroy: one guard; a failing step skips the rest.
    try {
        core_.setDestroying();
        close_Server();
        stopPublisher();
        BMThread1.requestEnd();
        BMThread1.wake();
        BMThread1.join();
    } catch (const std::exception& error) {
        DAQ_TRACE(kTraceError, "FormDestroy", kFormTraySource, "TCP/IP DAQ Server error : %s",
                  error.what());
    }
    removeExceptionHandler();
}

std::string ServerRuntime::configPath() const {
    return serverConfigPath(exeDir(application_));
}

void ServerRuntime::installExceptionHandler() {
    if (application_ == nullptr) {
        return;
    }
    previousExceptionHandler_ = application_->OnException();
    application_->SetOnException(
        kelvane::TApplication::ExceptionEvent::bind<&ServerRuntime::ApplicationEventsException>(
            this));
}

void ServerRuntime::removeExceptionHandler() {
    // The host's application outlives the server: it must not call into a destroyed one.
    if (application_ != nullptr &&
        application_->OnException() ==
            kelvane::TApplication::ExceptionEvent::bind<&ServerRuntime::ApplicationEventsException>(
                this)) {
        application_->SetOnException(previousExceptionHandler_);
    }
}

// ---- Run state ----

void ServerRuntime::setEnableFlag(const int32_t* flag) {
    EnableFlag = flag;
    const bool enabled = flag != nullptr && *flag != 0;
    if (enabled) {
        if (RunMode != rmDisconnected && RunMode != rmDaqRunning) {
            RunMode = rmUncoupled;
        }
    } else {
        RunMode = rmDisabled;
    }
    view_.enableControls(enabled);
}

void ServerRuntime::Connect() {
    guardedStep("Connect", __LINE__, [&] {
        if (RunMode == rmDisabled || RunMode == rmUncoupled) {
            return;
        }
        RunMode = rmConnected;
        Active = true;
        view_.enableActiveSwitch(false);
        core_.setDaqStatus(1);
        core_.rebuildDeviceList();
    });
}

void ServerRuntime::Disconnect() {
    guardedStep("Disconnect", __LINE__, [&] {
        if (RunMode == rmDisabled || RunMode == rmUncoupled) {
            return;
        }
        RunMode = rmDisconnected;
        view_.enableActiveSwitch(true);
        core_.setDaqStatus(0);
    });
}

void ServerRuntime::ReadConfig(kelvane::IXMLNode* node) {
    guardedStep("ReadConfig", __LINE__, [&] {
        if (EnableFlag == nullptr || *EnableFlag == 0 || node == nullptr) {
            return;
        }
        kelvane::IXMLNode* settings = node->ChildNode(kConfigNode);
        if (settings == nullptr) {
            return;
        }
        Active = false;
        RunMode = rmUncoupled;
        if (settings->HasAttribute(kRunModeAttribute)) {
            RunMode = integerOrZero(settings->Attribute(kRunModeAttribute));
            if (RunMode == rmDisabled) {
                RunMode = rmUncoupled;
            }
            if (RunMode == rmUncoupled) {
                Active = true;
            } else {
                Active = false;
                RunMode = rmDisconnected;
            }
        }
        view_.showActive(Active);
    });
}

void ServerRuntime::WriteConfig(kelvane::IXMLNode* node) {
    guardedStep("WriteConfig", __LINE__, [&] {
        if (node == nullptr) {
            return;
        }
        kelvane::IXMLNode* settings = node->AddChild(kConfigNode);
        settings->SetAttribute(kRunModeAttribute, std::to_string(RunMode));
        settings->SetAttribute(kActiveAttribute, Active ? "1" : "0");
    });
}

void ServerRuntime::SetDAQRun(bool run) {
    guardedStep("SetDAQRun", __LINE__, [&] {
        if (RunMode == rmDisabled || RunMode == rmUncoupled) {
            return;
        }
        core_.setStopping(false);
        if (run) {
            startDaqRun();
        } else {
            stopDaqRun();
        }
    });
}

// Returns at once when the window, and with it this object, went away while the listener was
// awaited.
void ServerRuntime::startDaqRun() {
    ioMap_.clear();
    addDAQIO_Map(nullptr);
    if (ioMap_.open() == 0) {
        ioMap_.close();
        DAQ_TRACE(kTraceError, "SetDAQRun", kFormTraySource,
                  "TCPIP Server ReadMap fail! : IONum=%d", ioMap_.count());
    }
    startPublisher();
    view_.enableAddressChoice(false);
    RunMode = rmDaqRunning;
    view_.showRunState(true);
    core_.startDaqRun();
    DaqRunning.store(true);
    core_.setDaqStatus(2);
    BMThread1.wake();
    if (openListener(kOpenTimeoutMs) == OpenResult::ViewGone) {
        return;
    }
    view_.enableActiveSwitch(false);
}

void ServerRuntime::stopDaqRun() {
    close_Server();
    if (RunMode == rmDaqRunning) {
        RunMode = rmConnected;
    }
    view_.enableAddressChoice(true);
    DaqRunning.store(false);
    stopPublisher();
    ioMap_.clear();
    view_.showRunState(false);
    view_.enableActiveSwitch(true);
}

void ServerRuntime::startPublisher() {
    stopPublisher();
    if (configured_.mqtt.broker.empty()) {
        return;
    }
    std::vector<mqtt::TagInfo> tags;
    ioMap_.read([&](const protocol::IoSnapshot& map) { tags = mqtt::describeTags(map); });
    publisher_ = std::make_unique<mqtt::Publisher>(
        configured_.mqtt, project_ != nullptr ? kelvane::RefText(project_->ProjectName) : u"",
        std::move(tags));
    ioMap_.setPublisher(publisher_.get());
}

void ServerRuntime::stopPublisher() {
    ioMap_.setPublisher(nullptr);
    publisher_.reset();
}

void ServerRuntime::addDAQIO_Map(kelvane::TTreeNode* node) {
    if (ioTree_ != nullptr) {
        for (kelvane::TTreeNode* child = ioTree_->GetFirstChild(node); child != nullptr;
             child = ioTree_->GetNextSibling(child)) {
            const auto* record = kelvane::NodeRecord<kelvane::TIONodeRecord>(*ioTree_, child);
            if (record == nullptr) {
                continue;
            }
            if (record->Kind == kelvane::nkGroup) {
                addDAQIO_Map(child);
            } else if (record->IO != nullptr) {
                ioMap_.add(record->IO);
            }
        }
    }
    DAQ_TRACE(kTraceInfo, "addDAQIO_Map", kFormTraySource, "daqlist map : %d", ioMap_.count());
}

}  // namespace daq
