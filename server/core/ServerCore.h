// The server without its window: the state requests read, the receive pass of every
// connection, and the hand-over of logins, logouts, events and popups to the window. Qt-free.
//
// Threads and locks
// - Window thread: the host objects (set...), the device-list rebuild, the stop steps and the
//   take... drains that the window's timers run.
// - IO threads (the listener's): onConnect, onData, onDisconnect. A connection's events never
//   overlap; those of different connections may.
// - requestLock serialises request handling and the queueing of its answer across all
//   connections: handlers run one at a time, except those of the routes that only read the IO
//   map (dispatcher.h), which hold the map's lock for short batches instead. Lock order:
//   requestLock -> IO map lock or device-list lock -> window-queue lock. No lock is held while the
//   window thread is waited for (the window only gets posts, WindowSink::startTimer).
//
// What the window calls, and when
//   FormCreate              ServerCore core(ioMap, DaqRunning, sink, limits)
//   SendParam 0 / 83 / 111  setSystemTree, setProject, setLoginCallback
//   Connect                 setDaqStatus(1); rebuildDeviceList()
//   Disconnect              setDaqStatus(0)
//   SetDAQRun               setStopping(false); on start startDaqRun(), then DaqRunning
//                           raised, setDaqStatus(2)
//   listener events         onConnect / onData / onDisconnect (TcpServerEvents)
//   close_Server            setStopping(true) before the connections are closed (so their
//                           disconnects book nothing); notifyServerStop(); clearClients();
//                           empty the "Login Users" list, then rowsCleared(); deactivate
//   FormDestroy             setDestroying() first
//   TimerUserUpdate         takeLogins(): append one row per record, in order
//   TimerLogoutUser         takeLogouts(): delete the row of each record
//   TimerEventMsg           takeEvents(); TimerPopupMsg: takePopups()
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "kelvane/HostTree.h"
#include "kelvane/SystemRecords.h"
#include "server/core/DeviceList.h"
#include "server/core/ServerLimits.h"
#include "server/core/WindowQueues.h"
#include "server/core/WindowRecords.h"
#include "server/core/WindowSink.h"
#include "server/protocol/Answer.h"
#include "server/protocol/IoRecordSource.h"
#include "server/protocol/LoginCallback.h"
#include "server/protocol/ServerState.h"
#include "server/tcp/TcpConnection.h"

namespace daq {

struct Session;

class ServerCore final : private protocol::ServerState {
  public:
    // `daqRunning` is the run's flag (DaqRunning), kept by the owner of the DAQ run.
    ServerCore(const protocol::IoRecordSource& map, const std::atomic<bool>& daqRunning,
               WindowSink& sink, ServerLimits limits = {});
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;
    ~ServerCore();

    const ServerLimits& limits() const { return limits_; }

    // ---- Host objects and run state (window thread) ----
    // The host's project record (command 83); null: "PROJECTINFO" is not answered.
    void setProject(const kelvane::TProjectRecord* project);
    // The host's login check (command 111).
    void setLoginCallback(protocol::TLoginEvent callback);
    // setMySystemVst: the host's system tree (command 0); traced.
    void setSystemTree(kelvane::IHostTree* tree);
    // The connect step: walks the system tree (getMySystemNode) into a new device list that
    // replaces the old one; requests reading the old one finish with it.
    void rebuildDeviceList();
    // A DAQ run starts: "DAQ_DATA" entries are rendered afresh from the records.
    void startDaqRun();
    void setDaqStatus(int32_t status);

    // ---- Listener events (IO threads) ----
    // Books the connection in Clients and gives it its Session (the connection's user slot).
    void onConnect(const tcp::ConnectionPtr& connection);
    // The receive pass: takes the bytes up to and with the first complete frame, parses and
    // handles it, and returns how many bytes it took (all of them when they complete no
    // frame); the listener hands over the rest in the next call. Then tells the connection
    // whether an unfinished frame (or stray bytes) remains; a completed message restarts the
    // connection's unfinished-input clock.
    std::size_t onData(const tcp::ConnectionPtr& connection, std::string_view bytes);
    // The connection is idle: its session gives back the memory of its largest answer and
    // request.
    void onIdle(const tcp::ConnectionPtr& connection);
    // Books the logout of every row of the connection, shown or still queued (unless stopping
    // or destroying), and removes the connection from Clients.
    void onDisconnect(const tcp::ConnectionPtr& connection);

    // ---- Stopping (window thread) ----
    // While raised, disconnects book no logout, event or popup.
    void setStopping(bool stopping);
    // Raised once at the start of the window's destruction; never lowered.
    void setDestroying();
    // The stop notice: {"PS_ID":true}, unframed, once to every connection with an accepted
    // login (shown as a row yet or not), newest login first. Queued on the connections; never
    // waits for them.
    void notifyServerStop();
    // Empties Clients (close_Server).
    void clearClients();

    // ---- Window drains (window thread) ----
    // Accepted logins in order. Each record becomes a shown row as this call returns; the
    // window appends the rows in this order and owns the records from now on.
    std::vector<std::unique_ptr<_TLinkTSData>> takeLogins();
    // Records whose rows the window must delete now (each once, in this order); they are no
    // longer counted as shown.
    std::vector<const _TLinkTSData*> takeLogouts();
    std::vector<TDAQServerEvent> takeEvents();
    std::vector<PopupRequest> takePopups();
    // The window emptied its "Login Users" list (close_Server, destruction).
    void rowsCleared();

    // Connections booked in Clients.
    std::size_t clientCount() const;

  private:
    // protocol::ServerState, read by the handlers under requestLock_.
    const protocol::IoRecordSource& ioMap() const override { return map_; }
    bool daqRunning() const override { return daqRunning_.load(); }
    int32_t daqStatus() const override { return daqStatus_.load(); }
    const kelvane::TProjectRecord* project() const override;
    protocol::TLoginEvent loginCallback() const override;
    std::shared_ptr<const protocol::DeviceEntries> devices() const override;
    protocol::ValueEntries& valueEntries() override { return valueEntries_; }
    int32_t maxPageEntries() const override { return limits_.maxPageEntries; }
    int32_t maxDaqDataIndexes() const override { return limits_.maxDaqDataIndexes; }
    std::size_t maxAnswerBytes() const override { return limits_.maxAnswerBytes(); }
    void loginAccepted(const protocol::ClientState& client,
                       const protocol::LoginDetails& details) override;
    void loginRefused(const protocol::ClientState& client, std::string_view id) override;

    void handleMessage(tcp::TcpConnection& connection, Session& session, std::string_view text);
    void sendData(tcp::TcpConnection& connection, protocol::Answer& answer);
    void startTimers(const WindowQueues::Timers& timers);

    const protocol::IoRecordSource& map_;
    const std::atomic<bool>& daqRunning_;
    WindowSink& sink_;
    const ServerLimits limits_;

    std::mutex requestLock_;
    // Emptied at every DAQ start: the entries rendered in an earlier run are dropped.
    protocol::ValueEntries valueEntries_;
    std::atomic<int32_t> daqStatus_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> destroying_{false};

    mutable std::mutex hostLock_;  // guards the two host objects below
    const kelvane::TProjectRecord* project_ = nullptr;
    protocol::TLoginEvent loginCallback_;

    DeviceList devices_;
    WindowQueues window_;
};

}  // namespace daq
