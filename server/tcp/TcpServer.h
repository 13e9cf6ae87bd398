// A TCP listener with per-connection contexts, event-driven on a small pool of IO threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/tcp/SocketError.h"
#include "server/tcp/TcpConnection.h"
#include "server/tcp/TlsContext.h"

namespace daq::tcp {

struct TcpServerSettings {
    // Port of the binding used when no binding is given.
    std::uint16_t defaultPort = 5050;
    // IO threads that run every event; never one per connection. At least 1.
    std::size_t ioThreads = 1;
    // Connections beyond this are closed as soon as they are accepted.
    std::size_t maxConnections = 1024;
    // Bytes queued for sending on one connection and not yet taken by its socket. While more
    // than a quarter of this is queued, the connection's next input is not handed to the data event
    // (back-pressure: a client that pipelines requests gets the next answer once it has read
    // the earlier ones); a write that would queue more than all of it closes the connection.
    std::size_t maxOutputBacklog = 16 * 1024 * 1024;
    // The largest sent buffer a connection keeps for its next write: answers up to this size
    // cost no allocation once a connection has sent one, for this much memory per connection.
    std::size_t keptWriteBufferBytes = 256 * 1024;
    // Bytes taken from a socket per read; the data event never carries more. At least 1.
    std::size_t readChunkBytes = 16 * 1024;
    // How long close(), or the end of a client's input, waits for a peer that takes none of the
    // queued output; every part the peer takes restarts the wait.
    std::chrono::milliseconds closeDrainTimeout{1000};
    // Pause before accepting again after the listener failed to accept (out of descriptors).
    std::chrono::milliseconds acceptRetryDelay{100};
    // A connection whose owner has reported input pending (TcpConnection::setInputPending)
    // for this long is closed; 0: never.
    std::chrono::seconds unfinishedInputTimeout{0};
    // A connection that has received nothing for this long is closed; 0: never.
    std::chrono::seconds idleTimeout{0};
    // A connection that has received nothing and has had nothing left to send for this long
    // is reported idle (onIdle) once, and gives back the memory of its largest answers.
    std::chrono::milliseconds idleTrimDelay{1000};
    // Longest period of the sweep that looks for connections past a time-out or idle; the
    // sweep runs at the smaller of this and a quarter of the shortest time-out, so a
    // connection is closed at most that much after its time-out ran out.
    std::chrono::milliseconds timeoutSweepPeriod{1000};
    // A connection to a TLS binding that has not completed its handshake this long after it
    // was accepted is closed. It counts against maxConnections meanwhile. At least 1 s.
    std::chrono::seconds tlsHandshakeTimeout{10};
    // The time the time-outs and the idle report are measured in; tests advance their own.
    std::function<std::chrono::steady_clock::time_point()> clock = [] {
        return std::chrono::steady_clock::now();
    };
};

// Handlers run on the IO threads. The events of one connection never run at the same time and
// come in order: connect, data..., disconnect (exactly once). Events of different connections
// may run at the same time when there are several IO threads. An exception thrown by a
// connection's handler is reported through onException and closes that connection.
struct TcpServerEvents {
    std::function<void(const ConnectionPtr&)> onConnect{};
    // Received bytes, valid only during the call. Returns how many of them it took (at least
    // one; a handler may stop behind each message it answers). The rest comes again in the
    // next call, once the connection's queued output allows (see maxOutputBacklog); answers
    // queued by calls for the same read go out together.
    std::function<std::size_t(const ConnectionPtr&, std::string_view bytes)> onData{};
    std::function<void(const ConnectionPtr&)> onDisconnect{};
    // The connection has been idle for idleTrimDelay: a chance to give back per-connection
    // memory. Runs between its data events, never at the same time as them.
    std::function<void(const ConnectionPtr&)> onIdle{};
    // Listener status lines ("listening on 127.0.0.1:5050", "stopped listening on ...").
    std::function<void(std::string_view text)> onStatus{};
    // Socket errors (SocketError) and exceptions of the handlers above. The connection is null
    // for faults of the listener: a failed accept, or a connection refused over the cap. A
    // connection closed by a time-out is reported here (kConnectionTimedOut) before its close.
    // A failed TLS handshake comes with a null connection (the owner never saw it), as
    // SocketError kTlsHandshakeFailed naming the peer and OpenSSL's reason.
    std::function<void(const ConnectionPtr&, const std::exception& error)> onException{};
    // SIGHUP arrived while the server is active: the owner may reload its certificates
    // (setTlsContext). Without this event, SIGHUP keeps its default action.
    std::function<void()> onReloadSignal{};
};

struct TcpBinding {
    std::string address;     // dotted IPv4 text; empty: every local IPv4 address
    std::uint16_t port = 0;  // 0: any free port (see localPort())
    // Connections complete a TLS handshake (with the context of setTlsContext) before their
    // connect event; their bytes are then the same as a plain binding's.
    bool tls = false;
};

// Makes the next accept or the next write of the running server fail, so that tests reach the
// failure paths: a failed accept is reported (SocketError 10053) and the listener goes on; a
// failed write is reported (SocketError 10054) and closes its connection.
enum class TcpFault { NextAccept, NextWrite };

// Control members (settings, bindings, activate, deactivate) belong to one controlling thread,
// the owner's; active(), localPort(), connections(), connectionCount() and injectFault() may be
// called from any thread.
class TcpServer {
  public:
    explicit TcpServer(TcpServerSettings settings = {});
    ~TcpServer();  // deactivates
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Takes effect at the next activation.
    void setEvents(TcpServerEvents events);
    const TcpServerSettings& settings() const { return settings_; }
    std::uint16_t defaultPort() const { return settings_.defaultPort; }
    void setDefaultPort(std::uint16_t port) { settings_.defaultPort = port; }

    const std::vector<TcpBinding>& bindings() const { return bindings_; }
    void clearBindings() { bindings_.clear(); }
    void addBinding(std::string address, std::uint16_t port, bool tls = false);
    // The context of the TLS bindings' next handshakes; connections keep the one they began
    // with. Needed before activating with a TLS binding. Callable from any thread.
    void setTlsContext(TlsContextPtr context);

    // Binds and listens on every binding (or on all local IPv4 addresses at the default port
    // when there is none) and starts the IO threads. Throws SocketError when an address is not
    // valid (10022) or not on this machine (10049), or a port is taken (10048); nothing is left
    // open then. Does nothing when already active.
    void activate();

    // Stops listening, closes every connection and returns when no handler runs any more and
    // none will. Does nothing when inactive. Must not be called from an IO thread (throws
    // std::logic_error): it waits for them.
    void deactivate();

    bool active() const;
    // The port the first binding listens on (useful after binding port 0); 0 when inactive.
    std::uint16_t localPort() const;
    // The port the first TLS binding listens on; 0 when inactive or without one.
    std::uint16_t tlsPort() const;

    // The live connections, in order of acceptance.
    std::vector<ConnectionPtr> connections() const;
    std::size_t connectionCount() const;

    // Ignored while inactive.
    void injectFault(TcpFault fault);

  private:
    struct Impl;

    TcpServerSettings settings_;
    std::vector<TcpBinding> bindings_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace daq::tcp
