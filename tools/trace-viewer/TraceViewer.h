// Receives trace messages on a datagram socket and prints them until SIGINT or SIGTERM.
#pragma once

#include <asio/io_context.hpp>
#include <asio/local/datagram_protocol.hpp>
#include <asio/signal_set.hpp>
#include <memory>
#include <string>

#include "trace/Trace.h"

namespace traceviewer {

struct ViewerOptions {
    std::string socketPath;
    int minimumLevel = daq::kTraceInfo;  // messages of lower levels are not shown
    bool raw = false;                    // print the bytes as received
    bool colour = false;
};

class TraceViewer {
  public:
    // Binds the socket, removing a stale socket file first, then announces itself in the viewer
    // generation file beside it. Throws std::runtime_error when the directory is not private to
    // this user (see TraceTransport.h; the default one is made), the path holds something else
    // than a socket or another viewer listens there.
    explicit TraceViewer(ViewerOptions options);
    // Removes the socket file.
    ~TraceViewer();
    TraceViewer(const TraceViewer&) = delete;
    TraceViewer& operator=(const TraceViewer&) = delete;

    // Prints messages until a termination signal arrives.
    void run();

    // False if the generation file could not be updated (see ViewerGeneration.h): senders that
    // wait on a file this viewer cannot write do not notice it.
    bool announced() const { return announced_; }

  private:
    void waitForMessages();
    void printArrived();
    void print(std::size_t size);

    ViewerOptions options_;
    bool announced_ = false;
    asio::io_context io_;
    asio::local::datagram_protocol::socket socket_{io_};
    asio::signal_set signals_{io_, SIGINT, SIGTERM};
    // One message and its terminating zero.
    std::unique_ptr<char[]> buffer_ =
        std::make_unique_for_overwrite<char[]>(daq::kTraceMessageLimit + 1);
};

}  // namespace traceviewer
