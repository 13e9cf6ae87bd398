// A connection as the listener hands it to the server core, minus the socket: what the core
// writes is kept for the caller to look at. For tests and fuzz targets that drive the real core
// in memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "server/tcp/TcpConnection.h"

namespace daq::test {

class MemoryConnection final : public tcp::TcpConnection {
  public:
    MemoryConnection(std::uint64_t id, std::string peer) : id_(id), peer_(std::move(peer)) {}

    std::uint64_t id() const override { return id_; }
    const std::string& peerAddress() const override { return peer_; }
    std::uint16_t peerPort() const override { return 40000; }
    // Kept while connected; dropped afterwards, as a closed socket drops it.
    void write(std::string_view bytes) override;
    void close() override { connected_ = false; }
    bool connected() const override { return connected_; }
    void setUserData(std::shared_ptr<void> data) override;
    std::shared_ptr<void> userData() const override;

    // Everything written since the last call, one entry per write.
    std::vector<std::string> takeWrites();

  private:
    const std::uint64_t id_;
    const std::string peer_;
    std::atomic<bool> connected_{true};
    mutable std::mutex mutex_;
    std::vector<std::string> writes_;
    std::shared_ptr<void> userData_;
};

// Hands bytes to a data event as the listener does: again with the rest, until all are taken.
template <class DataEvent>
void deliverAll(std::string_view bytes, DataEvent&& onData) {
    while (!bytes.empty()) {
        const std::size_t taken = onData(bytes);
        bytes.remove_prefix(taken == 0 || taken > bytes.size() ? bytes.size() : taken);
    }
}

}  // namespace daq::test
