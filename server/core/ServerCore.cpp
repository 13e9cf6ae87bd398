#include "server/core/ServerCore.h"

#include <cerrno>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <rapidjson/document.h>

#include "common/DateTime.h"
#include "common/FreeMemory.h"
#include "server/core/Session.h"
#include "server/protocol/Dispatcher.h"
#include "server/protocol/JsonRequest.h"
#include "server/protocol/LoginRequests.h"
#include "server/protocol/TraceText.h"
#include "trace/Trace.h"
#include "trace/TzrTrace.h"

namespace daq {

namespace {

constexpr const char* kTraceFile = protocol::kServerTraceFile;

constexpr const char* kReceivePass = "IdTCPServer1Execute";

// A session keeps the request and answer buffers of its last message up to this size, so that
// polling costs no allocation; larger ones are given back as soon as the answer is queued, and
// all of them once the connection is idle.
constexpr std::size_t kKeptBufferBytes = 256 * 1024;

TzrTrace& statusLine() {
    return TzrTrace::instance(nullptr);
}

std::shared_ptr<Session> sessionOf(const tcp::TcpConnection& connection) {
    return std::static_pointer_cast<Session>(connection.userData());
}

}  // namespace

ServerCore::ServerCore(const protocol::IoRecordSource& map, const std::atomic<bool>& daqRunning,
                       WindowSink& sink, ServerLimits limits)
    : map_(map), daqRunning_(daqRunning), sink_(sink), limits_(limits) {
    // Buffers a session does not keep are given back to the system when freed, not to the
    // heap of the IO thread that freed them.
    serveLargeBlocksFromTheSystem(kKeptBufferBytes);
}

ServerCore::~ServerCore() = default;

// ---- Host objects and run state ----

void ServerCore::setProject(const kelvane::TProjectRecord* project) {
    std::lock_guard lock(hostLock_);
    project_ = project;
}

void ServerCore::setLoginCallback(protocol::TLoginEvent callback) {
    std::lock_guard lock(hostLock_);
    loginCallback_ = callback;
}

const kelvane::TProjectRecord* ServerCore::project() const {
    std::lock_guard lock(hostLock_);
    return project_;
}

protocol::TLoginEvent ServerCore::loginCallback() const {
    std::lock_guard lock(hostLock_);
    return loginCallback_;
}

void ServerCore::setSystemTree(kelvane::IHostTree* tree) {
    devices_.setTree(tree);
}

void ServerCore::rebuildDeviceList() {
    devices_.rebuild();
}

std::shared_ptr<const protocol::DeviceEntries> ServerCore::devices() const {
    return devices_.entries();
}

void ServerCore::startDaqRun() {
    valueEntries_.clear();
}

void ServerCore::setDaqStatus(int32_t status) {
    daqStatus_ = status;
}

// ---- Listener events ----

void ServerCore::onConnect(const tcp::ConnectionPtr& connection) {
    const std::string& peer = connection->peerAddress();
    connection->setUserData(
        std::make_shared<Session>(connection->id(), peer, limits_.maxFrameBytes));
    const std::size_t count = window_.addClient(connection);
    DAQ_TRACE(kTraceInfo, "IdTCPServer1Connect", kTraceFile, "DAQ Server Connect : %d, %s",
              static_cast<int>(count), peer.c_str());
    statusLine().sendFormatted(kStatusLineCode, kStatusLineSource, "DAQ Server Connect : %s",
                               peer.c_str());
}

std::size_t ServerCore::onData(const tcp::ConnectionPtr& connection, std::string_view bytes) {
    const std::shared_ptr<Session> session = sessionOf(*connection);
    if (session == nullptr) {
        return bytes.size();  // not booked by onConnect
    }
    std::size_t taken = 0;
    bool completed = false;
    try {
        while (taken < bytes.size() && !completed) {
            const protocol::FrameStep step = session->frames.feed(bytes.substr(taken));
            taken += step.consumed;
            if (step.status == protocol::FrameStatus::DroppedOversize) {
                DAQ_TRACE(kTraceError, kReceivePass, kTraceFile,
                          "DAQ Server frame dropped : longer than %zu bytes, from %s",
                          session->frames.maxMessageBytes(), connection->peerAddress().c_str());
            } else if (step.status == protocol::FrameStatus::Good) {
                completed = true;
                handleMessage(*connection, *session, session->frames.message());
                session->frames.releaseMemory(kKeptBufferBytes);
                session->answer.releaseMemory(kKeptBufferBytes);
            }
        }
    } catch (const std::exception& error) {
        DAQ_TRACE(kTraceError, kReceivePass, kTraceFile, "TCP server error : %s", error.what());
        taken = bytes.size();
    }
    // Drives the listener's unfinished-frame time-out: a message that completed restarts it.
    if (completed) {
        connection->setInputPending(false);
    }
    connection->setInputPending(session->frames.inputPending());
    return taken;
}

void ServerCore::onIdle(const tcp::ConnectionPtr& connection) {
    const std::shared_ptr<Session> session = sessionOf(*connection);
    if (session == nullptr) {
        return;
    }
    session->frames.releaseMemory(0);
    session->answer.releaseMemory(0);
}

void ServerCore::handleMessage(tcp::TcpConnection& connection, Session& session,
                               std::string_view text) {
    // Parsing needs no lock: the text and the document are this pass's own. A message that is
    // no JSON object reads as a request without id, which nothing answers.
    std::optional<rapidjson::Document> request;
    std::string psId;
    try {
        request = protocol::parseJsonMessage(text);
        psId = protocol::getJsonString(request, "PS_ID");
    } catch (const std::exception& error) {
        DAQ_TRACE(kTraceError, kReceivePass, kTraceFile, "TCP server error : %s", error.what());
        return;
    }
    static const rapidjson::Value kNoRequest;

    const std::string tracedId = protocol::traceText(psId);
    const protocol::RequestRoute* route = protocol::findRoute(psId);
    bool tooManyRefusals = false;
    {
        std::unique_lock lock(requestLock_, std::defer_lock);
        if (route == nullptr || route->exclusive) {
            lock.lock();
        }
        DAQ_TRACE(kTraceInfo, kReceivePass, kTraceFile, "DAQ Server PS_ID = %s", tracedId.c_str());
        if (limits_.requireLogin && !session.client.loggedIn && psId != "LOGIN" &&
            psId != "ALIVE") {
            DAQ_TRACE(kTraceError, kReceivePass, kTraceFile,
                      "DAQ Server login required : %s, from %s", tracedId.c_str(),
                      connection.peerAddress().c_str());
            return;
        }
        try {
            protocol::RequestContext context{*this, session.client, request ? *request : kNoRequest,
                                             text, session.answer};
            if (protocol::dispatch(route, context)) {
                sendData(connection, session.answer);
            }
        } catch (const std::exception& error) {
            DAQ_TRACE(kTraceError, kReceivePass, kTraceFile, "TCP Server Error : %s, %s",
                      tracedId.c_str(), error.what());
        }
        tooManyRefusals = session.client.refusedLogins >= limits_.maxRefusedLogins;
    }
    // Closed outside the request lock, which the disconnect event takes.
    if (tooManyRefusals) {
        DAQ_TRACE(kTraceError, kReceivePass, kTraceFile,
                  "DAQ Server closes connection : %d refused logins, from %s",
                  static_cast<int>(session.client.refusedLogins), connection.peerAddress().c_str());
        connection.close();
    }
}

void ServerCore::sendData(tcp::TcpConnection& connection, protocol::Answer& answer) {
    if (answer.text().empty()) {
        DAQ_TRACE(kTraceError, "sendData", kTraceFile, "tcp server convert error : [%d]", errno);
    }
    try {
        if (!connection.connected()) {
            throw std::runtime_error("the connection is closed");
        }
        connection.write(answer.frame());
    } catch (const std::exception& error) {
        DAQ_TRACE(kTraceError, "sendData", kTraceFile, "tcp server send error : %s", error.what());
    }
}

void ServerCore::onDisconnect(const tcp::ConnectionPtr& connection) {
    const bool book = !stopping_ && !destroying_;
    if (book) {
        const std::string& peer = connection->peerAddress();
        DAQ_TRACE(kTraceInfo, "IdTCPServer1Disconnect", kTraceFile, "DAQ Server Disconnect : %s",
                  peer.c_str());
        statusLine().sendFormatted(kStatusLineCode, kStatusLineSource, "DAQ Server Disconnect : %s",
                                   peer.c_str());
    }
    startTimers(window_.disconnect(*connection, book, nowDateTime()));
}

// ---- What handlers queue for the window ----

void ServerCore::loginAccepted(const protocol::ClientState& client,
                               const protocol::LoginDetails& details) {
    auto record = std::make_unique<_TLinkTSData>();
    record->ID = details.id;
    record->LoginTime = nowDateTime();
    record->OS = details.os;
    record->OSVersion = details.osVersion;
    record->ModelName = details.modelName;
    record->Location = details.location;
    record->ConnectionId = client.connectionId;
    record->PeerAddress = client.peerAddress;
    startTimers(window_.queueLogin(std::move(record)));
}

void ServerCore::loginRefused(const protocol::ClientState& client, std::string_view id) {
    startTimers(window_.queueEvent(
        {std::string(id), nowDateTime(), client.peerAddress, etOther, "Login Fail"}));
}

void ServerCore::startTimers(const WindowQueues::Timers& timers) {
    if (timers.userUpdate) {
        sink_.startTimer(WindowTimer::UserUpdate);
    }
    if (timers.logoutUser) {
        sink_.startTimer(WindowTimer::LogoutUser);
    }
    if (timers.eventMsg) {
        sink_.startTimer(WindowTimer::EventMsg);
    }
    if (timers.popupMsg) {
        sink_.startTimer(WindowTimer::PopupMsg);
    }
}

// ---- Stopping ----

void ServerCore::setStopping(bool stopping) {
    stopping_ = stopping;
}

void ServerCore::setDestroying() {
    destroying_ = true;
}

void ServerCore::notifyServerStop() {
    window_.writeToLoggedIn(protocol::stopNotice());
}

void ServerCore::clearClients() {
    window_.clearClients();
}

// ---- Window drains ----

std::vector<std::unique_ptr<_TLinkTSData>> ServerCore::takeLogins() {
    return window_.takeLogins();
}

std::vector<const _TLinkTSData*> ServerCore::takeLogouts() {
    return window_.takeLogouts();
}

std::vector<TDAQServerEvent> ServerCore::takeEvents() {
    return window_.takeEvents();
}

std::vector<PopupRequest> ServerCore::takePopups() {
    return window_.takePopups();
}

void ServerCore::rowsCleared() {
    window_.rowsCleared();
}

std::size_t ServerCore::clientCount() const {
    return window_.clientCount();
}

}  // namespace daq
