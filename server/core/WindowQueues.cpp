#include "server/core/WindowQueues.h"

#include <exception>
#include <unordered_set>
#include <utility>

#include "server/protocol/Request.h"
#include "trace/Trace.h"

namespace daq {

namespace {

constexpr const char* kTraceFile = protocol::kServerTraceFile;

template <typename T>
std::vector<T> takeAll(std::vector<T>& queue) {
    std::vector<T> taken;
    taken.swap(queue);
    return taken;
}

}  // namespace

std::size_t WindowQueues::addClient(tcp::ConnectionPtr connection) {
    std::lock_guard lock(lock_);
    clients_.push_back(std::move(connection));
    return clients_.size();
}

int32_t WindowQueues::clientIndex(const tcp::TcpConnection& connection) const {
    const auto count = static_cast<int32_t>(clients_.size());
    DAQ_TRACE(kTraceInfo, "getClientIndex", kTraceFile, "DAQ Server getClientIndex : %d", count);
    for (int32_t i = 0; i < count; ++i) {
        DAQ_TRACE(kTraceInfo, "getClientIndex", kTraceFile, "DAQ Server getClientIndex : %d/%d", i,
                  count);
        if (clients_[i].get() == &connection) {
            return i;
        }
    }
    return -1;
}

tcp::ConnectionPtr WindowQueues::findClient(std::uint64_t connectionId) const {
    for (const tcp::ConnectionPtr& client : clients_) {
        if (client->id() == connectionId) {
            return client;
        }
    }
    return nullptr;
}

void WindowQueues::removeClient(const tcp::TcpConnection& connection) {
    std::erase_if(clients_,
                  [&](const tcp::ConnectionPtr& client) { return client.get() == &connection; });
}

WindowQueues::Timers WindowQueues::disconnect(const tcp::TcpConnection& connection, bool book,
                                              double now) {
    std::lock_guard lock(lock_);
    Timers timers;
    if (!book) {
        removeClient(connection);
        return timers;
    }
    const int32_t index = clientIndex(connection);
    if (index < 0) {
        return timers;
    }
    const std::string& peer = connection.peerAddress();
    DAQ_TRACE(kTraceInfo, "IdTCPServer1Disconnect", kTraceFile, "DAQServer Disconnect : %d, %s",
              index, peer.c_str());
    // Every row the connection added leaves with it, each with its logout event: its shown rows
    // are queued for removal, and its logins still waiting for the window leave the queue (or
    // their rows would appear after the close and stay until the listener stops). One popup
    // names the newest.
    const std::uint64_t id = connection.id();
    std::vector<std::string> users;
    for (const ShownRow& row : shown_) {
        if (row.connectionId == id) {
            users.push_back(row.id);
            logouts_.push_back(row.record);
            timers.logoutUser = true;
        }
    }
    for (auto login = logins_.begin(); login != logins_.end();) {
        if ((*login)->ConnectionId == id) {
            users.push_back((*login)->ID);
            login = logins_.erase(login);
        } else {
            ++login;
        }
    }
    for (std::string& user : users) {
        events_.push_back({user, now, peer, etLogout, {}});
    }
    if (!users.empty()) {
        popups_.push_back({PopupRequest::Kind::Logout, users.back(), peer});
        timers.eventMsg = timers.popupMsg = true;
    }
    clients_.erase(clients_.begin() + index);
    return timers;
}

void WindowQueues::clearClients() {
    std::lock_guard lock(lock_);
    clients_.clear();
}

std::size_t WindowQueues::clientCount() const {
    std::lock_guard lock(lock_);
    return clients_.size();
}

WindowQueues::Timers WindowQueues::queueLogin(std::unique_ptr<_TLinkTSData> record) {
    std::lock_guard lock(lock_);
    events_.push_back({record->ID, record->LoginTime, record->PeerAddress, etLogin, {}});
    popups_.push_back({PopupRequest::Kind::Login, record->ID, record->PeerAddress});
    logins_.push_back(std::move(record));
    Timers timers;
    timers.userUpdate = timers.eventMsg = timers.popupMsg = true;
    return timers;
}

WindowQueues::Timers WindowQueues::queueEvent(TDAQServerEvent event) {
    std::lock_guard lock(lock_);
    events_.push_back(std::move(event));
    Timers timers;
    timers.eventMsg = true;
    return timers;
}

void WindowQueues::writeToLoggedIn(std::string_view text) {
    std::lock_guard lock(lock_);
    std::unordered_set<std::uint64_t> written;
    auto write = [&](std::uint64_t connectionId) {
        if (!written.insert(connectionId).second) {
            return;
        }
        const tcp::ConnectionPtr client = findClient(connectionId);
        if (client == nullptr) {
            return;
        }
        try {
            client->write(text);  // queued: never waits for the peer
        } catch (const std::exception&) {
            // A failed write skips its connection, as the stop notice is best effort.
        }
    };
    // Newest login first: the logins still waiting for the window, then the shown rows.
    for (auto login = logins_.rbegin(); login != logins_.rend(); ++login) {
        write((*login)->ConnectionId);
    }
    for (auto row = shown_.rbegin(); row != shown_.rend(); ++row) {
        write(row->connectionId);
    }
}

std::vector<std::unique_ptr<_TLinkTSData>> WindowQueues::takeLogins() {
    std::lock_guard lock(lock_);
    for (const auto& record : logins_) {
        shown_.push_back({record.get(), record->ConnectionId, record->ID});
    }
    return takeAll(logins_);
}

std::vector<const _TLinkTSData*> WindowQueues::takeLogouts() {
    std::lock_guard lock(lock_);
    for (const _TLinkTSData* record : logouts_) {
        std::erase_if(shown_, [&](const ShownRow& row) { return row.record == record; });
    }
    return takeAll(logouts_);
}

std::vector<TDAQServerEvent> WindowQueues::takeEvents() {
    std::lock_guard lock(lock_);
    return takeAll(events_);
}

std::vector<PopupRequest> WindowQueues::takePopups() {
    std::lock_guard lock(lock_);
    return takeAll(popups_);
}

void WindowQueues::rowsCleared() {
    std::lock_guard lock(lock_);
    shown_.clear();
    // Their rows are gone with the list.
    logouts_.clear();
}

}  // namespace daq
