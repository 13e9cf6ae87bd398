// State shared by the listeners and connections of one activation of a TcpServer. Connections
// keep it alive, so a connection object the owner still holds outlives the server safely.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string_view>

#include <asio/io_context.hpp>

#include "server/tcp/ConnectionRegistry.h"
#include "server/tcp/TcpServer.h"
#include "server/tcp/TlsContext.h"

namespace daq::tcp {

struct TcpActivation {
    TcpActivation(const TcpServerSettings& serverSettings, const TcpServerEvents& serverEvents,
                  std::uint64_t lastId)
        : settings(serverSettings),
          events(serverEvents),
          registry(serverSettings.maxConnections),
          nextId(lastId + 1) {}

    // Reports never throw: a failing report handler is ignored.
    void reportStatus(std::string_view text) const noexcept {
        try {
            if (events.onStatus) {
                events.onStatus(text);
            }
        } catch (...) {
        }
    }
    void reportException(const ConnectionPtr& connection,
                         const std::exception& error) const noexcept {
        try {
            if (events.onException) {
                events.onException(connection, error);
            }
        } catch (...) {
        }
    }

    TlsContextPtr tlsContext() const { return tls.load(); }

    asio::io_context io;
    const TcpServerSettings settings;
    const TcpServerEvents events;
    ConnectionRegistry registry;
    std::atomic<std::uint64_t> nextId;
    std::atomic<bool> failNextAccept{false};
    std::atomic<bool> failNextWrite{false};
    // The context of the next TLS handshakes (TcpServer::setTlsContext).
    std::atomic<TlsContextPtr> tls;
};

}  // namespace daq::tcp
