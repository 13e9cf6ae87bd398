// What the IO threads hand to the window thread, under one lock (the window-queue lock, taken
// after the request lock and never held while waiting for the window thread): the connection
// list Clients, the login, logout, event and popup queues, and a copy of the shown "Login
// Users" rows in row order, which the disconnect walk searches instead of the window's rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/WindowRecords.h"
#include "server/tcp/TcpConnection.h"

namespace daq {

class WindowQueues {
  public:
    // Which window timers the caller starts once the lock is released.
    struct Timers {
        bool userUpdate = false;
        bool logoutUser = false;
        bool eventMsg = false;
        bool popupMsg = false;
    };

    // Appends the connection to Clients; the count afterwards.
    std::size_t addClient(tcp::ConnectionPtr connection);
    // The disconnect bookkeeping of a connection. With `book` false (stopping) only its
    // Clients entry goes; otherwise every row of the connection goes - its logins still queued
    // are dropped, its shown rows queued for removal - each with its logout event, and one
    // logout popup names the newest.
    Timers disconnect(const tcp::TcpConnection& connection, bool book, double now);
    void clearClients();
    std::size_t clientCount() const;

    // An accepted login: its row, its event (type 0 at the login time) and its popup.
    Timers queueLogin(std::unique_ptr<_TLinkTSData> record);
    Timers queueEvent(TDAQServerEvent event);

    // Writes `text` as it is, once, to every connection in Clients that has an accepted login,
    // shown as a row yet or still queued; newest login first. A failed write does not stop the
    // walk.
    void writeToLoggedIn(std::string_view text);

    std::vector<std::unique_ptr<_TLinkTSData>> takeLogins();
    std::vector<const _TLinkTSData*> takeLogouts();
    std::vector<TDAQServerEvent> takeEvents();
    std::vector<PopupRequest> takePopups();
    void rowsCleared();

  private:
    struct ShownRow {
        const _TLinkTSData* record;  // the row's handle for the window; never read here
        std::uint64_t connectionId;
        std::string id;
    };

    // getClientIndex: the connection's index in Clients, or -1. Traced.
    int32_t clientIndex(const tcp::TcpConnection& connection) const;
    tcp::ConnectionPtr findClient(std::uint64_t connectionId) const;
    void removeClient(const tcp::TcpConnection& connection);

    mutable std::mutex lock_;
    std::vector<tcp::ConnectionPtr> clients_;
    std::vector<std::unique_ptr<_TLinkTSData>> logins_;
    std::vector<const _TLinkTSData*> logouts_;
    std::vector<TDAQServerEvent> events_;
    std::vector<PopupRequest> popups_;
    std::vector<ShownRow> shown_;
};

}  // namespace daq
