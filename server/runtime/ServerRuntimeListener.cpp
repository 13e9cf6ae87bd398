// The listener half of ServerRuntime: opening and closing it, its events, the settings of
// "config.ini" and the address choice.
#include <cstdio>
#include <memory>

#include "server/runtime/GuardedStep.h"
#include "server/runtime/ServerRuntime.h"
#include "server/runtime/SocketErrorText.h"
#include "server/tcp/SocketError.h"
#include "trace/Trace.h"
#include "trace/TzrTrace.h"

namespace daq {

void ServerRuntime::wireListener() {
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
    // Always taken, so that a reload of a host without TLS does not end it.
    events.onReloadSignal = [this] { reloadTls(); };
    IdTCPServer1.setEvents(std::move(events));
}

// A fault of one connection ends it and is not reported, except a write that failed (an answer
// is lost: the send error of a synchronous send) and a connection closed because it reached one
// of the server's bounds or time-outs: that is traced, so an operator sees who hit which bound.
void ServerRuntime::IdTCPServer1Exception(const tcp::ConnectionPtr& connection,
                                          const std::exception& error) {
    const auto* socketError = dynamic_cast<const tcp::SocketError*>(&error);
    // The listener names the failed step first: "write to 1.2.3.4:5678: Broken pipe".
    if (socketError != nullptr && std::string_view(error.what()).starts_with("write to ")) {
        DAQ_TRACE(kTraceError, "sendData", kFormTraySource, "tcp server send error : %s",
                  error.what());
        return;
    }
    if (socketError != nullptr && socketError->code() == tcp::kTlsHandshakeFailed) {
        // "TLS handshake with 1.2.3.4:5678 failed: wrong version number (SSL routines)".
        DAQ_TRACE(kTraceError, "IdTCPServer1Exception", kFormTraySource, "TCP/IP Server : %s",
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

void ServerRuntime::reloadTls() {
    if (IdTCPServer1.tlsPort() == 0) {
        reportSettingsProblem("reloadTls", "TCP/IP Server : SIGHUP, but no TLS listener is open");
        return;
    }
    try {
        IdTCPServer1.setTlsContext(std::make_shared<tcp::TlsContext>(configured_.tls));
    } catch (const std::exception& error) {
        reportSettingsProblem(
            "reloadTls", "TCP/IP Server : TLS reload failed, the previous certificate stays : " +
                             std::string(error.what()));
        return;
    }
    const std::string text = "TCP/IP Server : TLS certificate reloaded from " +
                             configured_.tls.certFile + " and " + configured_.tls.keyFile;
    DAQ_TRACE(kTraceInfo, "reloadTls", kFormTraySource, "%s", text.c_str());
    std::fprintf(stderr, "DAQServer: %s\n", text.c_str());
}

void ServerRuntime::IdTCPServer1Status(std::string_view text) {
    sendStatusLine("TCP/IP Server status : " + std::string(text));
}

void ServerRuntime::ApplicationEventsException(void*, const std::exception& error) {
    const auto* socketError = dynamic_cast<const tcp::SocketError*>(&error);
    if (socketError == nullptr) {
        return;
    }
    const SocketErrorReport report = socketErrorReport(socketError->code(), error.what());
    setTraceLocation(report.line, "ApplicationEventsException", kFormTraySource);
    trace(kTraceError, "%s", report.text.c_str());
}

void ServerRuntime::loadServerConfig() {
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

void ServerRuntime::reportSettingsProblem(const char* operation, const std::string& text) {
    DAQ_TRACE(kTraceError, operation, kFormTraySource, "%s", text.c_str());
    std::fprintf(stderr, "DAQServer: %s\n", text.c_str());
}

void ServerRuntime::saveServerConfig() {
    if (!daq::saveServerConfig(configPath(), {ServerAddress, ServerPort, options_.limits})) {
        DAQ_TRACE(kTraceError, "saveServerConfig", kFormTraySource,
                  "TCP/IP Server : cannot write %s", configPath().c_str());
    }
}

void ServerRuntime::listAddresses() {
    if (!IPList.empty()) {
        return;
    }
    IPList = listenAddressChoices(options_.localAddresses());
    selectServerAddress();
}

void ServerRuntime::selectServerAddress() {
    const std::optional<std::size_t> found = findAddress(IPList, ServerAddress);
    if (!found && !ServerAddress.empty()) {
        reportSettingsProblem("selectServerAddress",
                              "TCP/IP Server : " + ServerAddress +
                                  " is not an address of this machine, all interfaces (" +
                                  kAllInterfaces + ") used instead");
    }
    const std::size_t selected = found.value_or(0);
    view_.showAddresses(IPList, selected);
    ServerAddress = selected < IPList.size() ? IPList[selected] : std::string();
}

void ServerRuntime::setListenAddress(std::string address) {
    ServerAddress = std::move(address);
    if (!IPList.empty()) {
        selectServerAddress();
    }
}

ServerRuntime::ListenerState ServerRuntime::listenerState() const {
    if (!IdTCPServer1.active()) {
        return {false, !listenerError_.empty()
                           ? listenerError_
                           : "no DAQ run has opened it (RunMode " + std::to_string(RunMode) + ")"};
    }
    const std::vector<tcp::TcpBinding>& bindings = IdTCPServer1.bindings();
    const std::string address = bindings.empty() || bindings.front().address.empty()
                                    ? kAllInterfaces
                                    : bindings.front().address;
    // The plain port first: scripts read it from the host's start line.
    std::string text =
        configured_.plainPort ? address + ":" + std::to_string(IdTCPServer1.localPort()) : "";
    if (IdTCPServer1.tlsPort() != 0) {
        text += (text.empty() ? "" : ", ") + address + ":" +
                std::to_string(IdTCPServer1.tlsPort()) + " (TLS)";
    }
    // TLS asked for and not served fails a headless host: nobody may believe it is on.
    return {tlsError_.empty(), tlsError_.empty() ? text : text + "; " + tlsError_};
}

std::string ServerRuntime::addressAndPort() const {
    return ServerAddress + ":" + std::to_string(ServerPort);
}

void ServerRuntime::sendStatusLine(const std::string& text) {
    TzrTrace::instance(nullptr).send(kStatusLineCode, kStatusLineSource, text.c_str());
}

bool ServerRuntime::open_Server(int32_t timeoutMs) {
    return openListener(timeoutMs) == OpenResult::Open;
}

ServerRuntime::OpenResult ServerRuntime::openListener(int32_t timeoutMs) {
    if (IdTCPServer1.active()) {
        view_.enableAddressChoice(false);
        return OpenResult::Open;
    }
    listAddresses();
    IdTCPServer1.clearBindings();
    if (configured_.plainPort) {
        IdTCPServer1.addBinding(ServerAddress, static_cast<uint16_t>(ServerPort));
    }
    addTlsBinding();
    const auto failed = [this](std::string why) {
        DAQ_TRACE(kTraceError, "open_Server", kFormTraySource, "TCP/IP Server : active error [%s]",
                  why.c_str());
        listenerError_ = std::move(why);
    };
    if (!configured_.readError.empty()) {
        // The operator's settings are unknown: listening at the defaults could open the server
        // where they had closed it.
        failed("config.ini not read : " + configured_.readError);
    } else if (IdTCPServer1.bindings().empty()) {
        failed(!tlsError_.empty() ? tlsError_
                                  : std::string(kConfigPlainPortKey) + "=0 and " +
                                        kConfigTlsPortKey + "=0 : no port to listen on");
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
    while (!IdTCPServer1.active()) {
        if (stopwatch_.Elapsed() > timeoutMs) {
            sendStatusLine("TCP/IP Server active fail(timeout) : " + addressAndPort());
            view_.enableAddressChoice(true);
            return OpenResult::Failed;
        }
        if (!view_.waitForEvents(kOpenPollMs)) {
            return OpenResult::ViewGone;
        }
    }
    view_.enableAddressChoice(false);
    sendStatusLine("TCP/IP Server active : " + addressAndPort());
    return OpenResult::Open;
}

void ServerRuntime::addTlsBinding() {
    tlsError_.clear();
    if (configured_.tlsPort == 0 && configured_.tlsRefusal.empty()) {
        return;
    }
    const auto notServed = [this](const std::string& why) {
        tlsError_ = (configured_.tlsPort != 0 ? "TLS port " + std::to_string(configured_.tlsPort)
                                              : std::string("TLS")) +
                    " not served : " + why;
        reportSettingsProblem("open_Server", "TCP/IP Server : " + tlsError_);
    };
    if (!configured_.tlsRefusal.empty()) {
        notServed(configured_.tlsRefusal);
        return;
    }
    try {
        IdTCPServer1.setTlsContext(std::make_shared<tcp::TlsContext>(configured_.tls));
        IdTCPServer1.addBinding(ServerAddress, static_cast<uint16_t>(configured_.tlsPort), true);
    } catch (const std::exception& error) {
        notServed(error.what());
    }
}

void ServerRuntime::close_Server() {
    if (IdTCPServer1.active()) {
        // Raised before any connection closes, so that no disconnect books a logout.
        core_.setStopping(true);
        core_.notifyServerStop();
        const std::vector<tcp::ConnectionPtr> connections = IdTCPServer1.connections();
        for (auto it = connections.rbegin(); it != connections.rend(); ++it) {
            (*it)->close();
        }
        core_.clearClients();
        view_.clearUserRows();
        core_.rowsCleared();
        IdTCPServer1.deactivate();
    }
    view_.enableAddressChoice(true);
    sendStatusLine("TCP/IP Server inactive : " + addressAndPort());
}

bool ServerRuntime::changePort(int32_t port) {
    IdTCPServer1.deactivate();
    IdTCPServer1.setDefaultPort(static_cast<uint16_t>(port));
    ServerPort = port;
    saveServerConfig();
    if (!configured_.readError.empty()) {
        return false;  // unknown settings keep the listener closed, as in open_Server
    }
    try {
        IdTCPServer1.activate();
    } catch (const tcp::SocketError& error) {
        // Reported as an unhandled error of the window thread would be.
        if (application_ != nullptr && application_->OnException()) {
            application_->OnException()(this, error);
        }
        return false;
    }
    return true;
}

}  // namespace daq
