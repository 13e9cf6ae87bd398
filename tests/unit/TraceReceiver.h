// A stand-in trace viewer for tests: a datagram socket bound at a path, read with a time-out.
// Like the viewer, it announces itself in the generation file once bound, unless told not to.
#pragma once

#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/local/datagram_protocol.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "trace/Trace.h"
#include "trace/TraceTransport.h"
#include "trace/ViewerGeneration.h"

class TraceReceiver {
  public:
    enum class Announce { OnceBound, Never };

    explicit TraceReceiver(const std::string& path, Announce announce = Announce::OnceBound)
        : path_(path) {
        socket_.open(asio::local::datagram_protocol());
        socket_.bind(asio::local::datagram_protocol::endpoint(path));
        announced_ = announce == Announce::OnceBound && daq::announceViewer(path);
    }
    ~TraceReceiver() { close(); }

    // Whether the generation file counted this receiver.
    bool announced() const { return announced_; }

    void setReceiveBuffer(int bytes) {
        socket_.set_option(asio::socket_base::receive_buffer_size(bytes));
    }

    // The next datagram as received, or nothing within `timeout`.
    std::optional<std::string> next(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        std::optional<std::string> received;
        socket_.async_receive(asio::buffer(buffer_),
                              [&](const asio::error_code& error, std::size_t size) {
                                  if (!error) {
                                      received.emplace(buffer_.data(), size);
                                  }
                              });
        io_.run_for(timeout);
        if (!io_.stopped()) {
            socket_.cancel();
            io_.run();
        }
        io_.restart();
        return received;
    }

    // Closes the socket; `removeFile` false leaves a stale socket file behind, as a killed viewer
    // does.
    void close(bool removeFile = true) {
        if (socket_.is_open()) {
            socket_.close();
            if (removeFile) {
                unlink(path_.c_str());
            }
        }
    }

  private:
    std::string path_;
    bool announced_ = false;
    asio::io_context io_;
    asio::local::datagram_protocol::socket socket_{io_};
    // Room for one byte more than the largest message, so an oversized one would show.
    std::vector<char> buffer_ = std::vector<char>(daq::kTraceMessageLimit + 2);
};

// A private directory whose socket path the trace channel is pointed at for one test.
class TraceSocketDirectory {
  public:
    TraceSocketDirectory() : socketPath_(directory_.file("viewer.sock")) {
        setenv("KELVANE_TRACE_SOCKET", socketPath_.c_str(), 1);
        daq::traceReloadSocketPath();
    }

    const std::string& socketPath() const { return socketPath_; }

  private:
    daq::test::TempDir directory_;
    std::string socketPath_;
};

// This process's identifier as the channel writes it: lower-case hex.
inline std::string senderHex() {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(getpid()));
    return hex;
}

// The location suffix that the channel appends for this process.
inline std::string locationSuffix(int level, int line, const std::string& function,
                                  const std::string& file) {
    return "|14|Kelvane " + senderHex() + "|0|" + std::to_string(level) + "|-1|" +
           std::to_string(line) + "|" + function + "|" + file;
}
