// The live connections of one activation: bounded in number, closed all at once on shutdown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "server/tcp/TcpConnection.h"

namespace daq::tcp {

class TcpSession;

class ConnectionRegistry {
  public:
    enum class AddResult { Added, Full, Closed };

    explicit ConnectionRegistry(std::size_t maxConnections) : maxConnections_(maxConnections) {}

    AddResult add(const std::shared_ptr<TcpSession>& session, std::uint64_t id);
    void remove(std::uint64_t id);

    // Refuses every later add and returns the connections that were live.
    std::vector<std::shared_ptr<TcpSession>> closeAll();

    std::vector<ConnectionPtr> snapshot() const;
    // The live connections for which `wanted` is true; `wanted` runs under the registry's
    // lock, so it must only look.
    std::vector<std::shared_ptr<TcpSession>> select(
        const std::function<bool(const TcpSession&)>& wanted) const;
    std::size_t size() const;

  private:
    const std::size_t maxConnections_;
    mutable std::mutex mutex_;
    bool closed_ = false;
    std::map<std::uint64_t, std::shared_ptr<TcpSession>> sessions_;
};

}  // namespace daq::tcp
