// The server window's listener and settings: "config.ini", the bind address, opening and
// closing the listener, the configuration dialog, the Active switch, and the reports of
// listener status and socket errors.
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <string_view>

#include <cstdio>

#include "server/ConfigDialog.h"
#include "server/FormTray.h"
#include "server/FormTrayTrace.h"
#include "server/ServerConfig.h"
#include "server/SocketErrorText.h"
#include "server/TextFormat.h"
#include "server/TextTable.h"
#include "server/tcp/SocketError.h"
#include "server/window/UserListModel.h"
#include "trace/Trace.h"
#include "trace/TzrTrace.h"

namespace daq {

void TfrmDAQTray::wireListener() {
    tcp::TcpServerEvents events;
    events.onConnect = [this](const tcp::ConnectionPtr& connection) {
        core_.onConnect(connection);
    };
    events.onData = [this](const tcp::ConnectionPtr& connection, std::string_view bytes) {
        return core_.onData(connection, bytes);
    };
    events.onIdle = [this](const tcp::ConnectionPtr& connection) { core_.onIdle(connection); };
    events.onDisconnect = [this](const tcp::ConnectionPtr& connection) {
        core_.onDisconnect(connection);
    };
    events.onStatus = [this](std::string_view text) { IdTCPServer1Status(text); };
    events.onException = [](const tcp::ConnectionPtr& connection, const std::exception& error) {
        IdTCPServer1Exception(connection, error);
    };
    IdTCPServer1.setEvents(std::move(events));
}

// A fault of one connection ends it and is not reported, except a write that failed (an answer
// is lost: the send error of a synchronous send) and a connection closed because it reached one
// of the server's bounds or time-outs: that is traced, so an operator sees who hit which bound.
void TfrmDAQTray::IdTCPServer1Exception(const tcp::ConnectionPtr& connection,
                                        const std::exception& error) {
    const auto* socketError = dynamic_cast<const tcp::SocketError*>(&error);
    // The listener names the failed step first: "write to 1.2.3.4:5678: Broken pipe".
    if (socketError != nullptr && std::string_view(error.what()).starts_with("write to ")) {
        DAQ_TRACE(kTraceError, "sendData", kFormTraySource, "tcp server send error : %s",
                  error.what());
        return;
    }
    if (socketError != nullptr && socketError->code() == tcp::kConnectionTimedOut) {
        // The text names the time-out and the peer: "unfinished input for 30 s, from 1.2.3.4:5678".
        DAQ_TRACE(kTraceError, "IdTCPServer1Exception", kFormTraySource,
                  "DAQ Server closes connection : %s", error.what());
        return;
    }
    if (socketError == nullptr || (socketError->code() != tcp::kOutputBacklogExceeded &&
                                   socketError->code() != tcp::kConnectionLimitReached)) {
        return;
    }
    DAQ_TRACE(kTraceError, "IdTCPServer1Exception", kFormTraySource,
              "TCP/IP Server : connection %s closed, %s",
              connection != nullptr ? connection->peerAddress().c_str() : "(new)", error.what());
}

std::string TfrmDAQTray::configPath() const {
    std::string directory = application_ != nullptr ? application_->ExeDir() : std::string();
    return serverConfigPath(directory);
}

void TfrmDAQTray::loadServerConfig() {
    ServerAddress = configured_.address;
    ServerPort = configured_.port;
    if (!configured_.readError.empty()) {
        reportSettingsProblem("loadServerConfig",
                              "TCP/IP Server : config.ini not read, the listener stays closed : " +
                                  configured_.readError);
    }
    for (const std::string& problem : configured_.problems) {
        reportSettingsProblem("loadServerConfig", problem);
    }
}

void TfrmDAQTray::reportSettingsProblem(const char* operation, const std::string& text) {
    DAQ_TRACE(kTraceError, operation, kFormTraySource, "%s", text.c_str());
    std::fprintf(stderr, "DAQServer: %s\n", text.c_str());
}

void TfrmDAQTray::saveServerConfig() {
    if (!daq::saveServerConfig(configPath(), {ServerAddress, ServerPort, options_.limits})) {
        DAQ_TRACE(kTraceError, "saveServerConfig", kFormTraySource,
                  "TCP/IP Server : cannot write %s", configPath().c_str());
    }
}

void TfrmDAQTray::getLocalIPList() {
    IPList = listenAddressChoices(options_.localAddresses());
}

void TfrmDAQTray::TimerInitTimer() {
    TimerInit->stop();
    guardedStep("TimerInitTimer", __LINE__, [&] {
        PageControl1->setCurrentIndex(0);
        listAddresses();
    });
}

// Once per window: at start-up, or at the first open of the listener when a host starts its
// DAQ run before that.
void TfrmDAQTray::listAddresses() {
    if (!IPList.empty()) {
        return;
    }
    getLocalIPList();
    cbxIP->clear();
    for (const std::string& address : IPList) {
        cbxIP->addItem(QString::fromStdString(address));
    }
    selectServerAddress();
}

void TfrmDAQTray::selectServerAddress() {
    const std::optional<std::size_t> found = findAddress(IPList, ServerAddress);
    if (!found && !ServerAddress.empty()) {
        reportSettingsProblem("selectServerAddress",
                              "TCP/IP Server : " + ServerAddress +
                                  " is not an address of this machine, all interfaces (" +
                                  kAllInterfaces + ") used instead");
    }
    cbxIP->setCurrentIndex(static_cast<int>(found.value_or(0)));
    ServerAddress = cbxIP->currentText().toStdString();
}

void TfrmDAQTray::setListenAddress(std::string address) {
    ServerAddress = std::move(address);
    if (!IPList.empty()) {
        selectServerAddress();
    }
}

void TfrmDAQTray::setListenPort(int32_t port) {
    ServerPort = port;
}

TfrmDAQTray::ListenerState TfrmDAQTray::listenerState() const {
    if (!IdTCPServer1.active()) {
        return {false, !listenerError_.empty()
                           ? listenerError_
                           : "no DAQ run has opened it (RunMode " + std::to_string(RunMode) + ")"};
    }
    const std::vector<tcp::TcpBinding>& bindings = IdTCPServer1.bindings();
    const std::string address = bindings.empty() || bindings.front().address.empty()
                                    ? kAllInterfaces
                                    : bindings.front().address;
    return {true, address + ":" + std::to_string(IdTCPServer1.localPort())};
}

std::string TfrmDAQTray::addressAndPort() const {
    return ServerAddress + ":" + std::to_string(ServerPort);
}

void TfrmDAQTray::sendStatusLine(const std::string& text) {
    TzrTrace::instance(nullptr).send(kStatusLineCode, kStatusLineSource, text.c_str());
}

bool TfrmDAQTray::open_Server(int32_t timeoutMs) {
    if (IdTCPServer1.active()) {
        cbxIP->setEnabled(false);
        return true;
    }
    listAddresses();
    IdTCPServer1.clearBindings();
    IdTCPServer1.addBinding(ServerAddress, static_cast<uint16_t>(ServerPort));
    const auto failed = [this](std::string why) {
        DAQ_TRACE(kTraceError, "open_Server", kFormTraySource, "TCP/IP Server : active error [%s]",
                  why.c_str());
        listenerError_ = std::move(why);
    };
    if (!configured_.readError.empty()) {
        // The operator's settings are unknown: listening at the defaults could open the server
        // where they had closed it.
        failed("config.ini not read : " + configured_.readError);
    } else {
        try {
            IdTCPServer1.activate();
            listenerError_.clear();
        } catch (const std::exception& error) {
            failed(error.what());
        }
    }
    stopwatch_.Start();
    // The window stays responsive while it waits: timers and input run meanwhile, and may even
    // open or close the listener or destroy the window.
    const QPointer<TfrmDAQTray> self(this);
    while (!IdTCPServer1.active()) {
        if (stopwatch_.Elapsed() > timeoutMs) {
            sendStatusLine("TCP/IP Server active fail(timeout) : " + addressAndPort());
            cbxIP->setEnabled(true);
            return false;
        }
        QEventLoop wait;
        QTimer::singleShot(kOpenPollMs, &wait, &QEventLoop::quit);
        wait.exec();
        if (self.isNull()) {
            return false;
        }
    }
    cbxIP->setEnabled(false);
    sendStatusLine("TCP/IP Server active : " + addressAndPort());
    return true;
}

void TfrmDAQTray::close_Server() {
    if (IdTCPServer1.active()) {
        // Raised before any connection closes, so that no disconnect books a logout.
        core_.setStopping(true);
        notifyServerStop();
        const std::vector<tcp::ConnectionPtr> connections = IdTCPServer1.connections();
        for (auto it = connections.rbegin(); it != connections.rend(); ++it) {
            (*it)->close();
        }
        core_.clearClients();
        clearUserRows();
        IdTCPServer1.deactivate();
    }
    cbxIP->setEnabled(true);
    sendStatusLine("TCP/IP Server inactive : " + addressAndPort());
}

void TfrmDAQTray::notifyServerStop() {
    core_.notifyServerStop();
}

void TfrmDAQTray::btnConfigClick() {
    // Created for this use and freed afterwards; the window may go away while it is shown.
    const QPointer<TfrmConfig> dialog(new TfrmConfig(this));
    frmConfig = dialog;
    dialog->applyTexts(TextTable_);
    dialog->setPortText(QString::number(IdTCPServer1.defaultPort()));
    dialog->setEditable(!DaqRunning.load());
    const bool confirmed = dialog->exec() == QDialog::Accepted;
    frmConfig = nullptr;
    if (dialog.isNull()) {
        return;
    }
    const std::string portText = dialog->portText().toStdString();
    delete dialog;
    if (!confirmed) {
        return;
    }
    guardedStep("btnConfigClick", __LINE__, [&] {
        IdTCPServer1.deactivate();
        const int32_t port = parsePortText(portText);
        IdTCPServer1.setDefaultPort(static_cast<uint16_t>(port));
        ServerPort = port;
        saveServerConfig();
        if (!configured_.readError.empty()) {
            return;  // unknown settings keep the listener closed, as in open_Server
        }
        try {
            IdTCPServer1.activate();
        } catch (const tcp::SocketError& error) {
            // Reported as an unhandled error of the window thread would be.
            if (application_ != nullptr && application_->OnException()) {
                application_->OnException()(this, error);
            }
            return;
        }
        if (OnActiveChange) {
            OnActiveChange(this);
        }
    });
}

void TfrmDAQTray::cbxIPChange() {
    ServerAddress = cbxIP->currentText().toStdString();
    const std::string caption =
        formatHostText(TextTable_ == nullptr ? std::string_view() : TextTable_->at(29),
                       {std::string_view(ServerAddress), int64_t{IdTCPServer1.defaultPort()}});
    setWindowTitle(QString::fromStdString(caption));
}

void TfrmDAQTray::cbxActiveChange() {
    Active = cbxActive->isChecked();
    if (OnActiveChange) {
        OnActiveChange(this);
    }
}

void TfrmDAQTray::btnRunClick() {
    if (btnRun->isChecked()) {
        open_Server(kOpenTimeoutMs);
    } else {
        close_Server();
    }
}

void TfrmDAQTray::ApplicationEventsException(void*, const std::exception& error) {
    const auto* socketError = dynamic_cast<const tcp::SocketError*>(&error);
    if (socketError == nullptr) {
        return;
    }
    const SocketErrorReport report = socketErrorReport(socketError->code(), error.what());
    setTraceLocation(report.line, "ApplicationEventsException", kFormTraySource);
    trace(kTraceError, "%s", report.text.c_str());
}

void TfrmDAQTray::IdTCPServer1Status(std::string_view text) {
    sendStatusLine("TCP/IP Server status : " + std::string(text));
}

}  // namespace daq
