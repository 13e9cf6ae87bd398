#include "tools/trace-viewer/TraceViewer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tools/trace-viewer/TraceLine.h"
#include "tools/trace-viewer/TraceMessage.h"
#include "trace/TraceTransport.h"
#include "trace/ViewerGeneration.h"

namespace traceviewer {

namespace {

using Datagram = asio::local::datagram_protocol;

// Messages printed between two looks at the signals. The kernel queues only a few datagrams for a
// socket (net.unix.max_dgram_qlen, 10 by default) and senders drop the rest, so the socket is
// emptied as fast as it can be read and the output flushed once per batch.
constexpr std::size_t kBatchLimit = 256;

// A socket file that nobody is bound to any more (a viewer that was killed) is removed; a live
// viewer or anything that is not a socket is left alone.
void removeStaleSocket(asio::io_context& io, const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return;
    }
    if (!S_ISSOCK(status.st_mode)) {
        throw std::runtime_error(path + " exists and is not a socket");
    }
    Datagram::socket probe(io);
    asio::error_code error;
    probe.open(Datagram(), error);
    if (!error) {
        probe.connect(Datagram::endpoint(path), error);
        if (!error) {
            throw std::runtime_error("another trace viewer listens on " + path);
        }
    }
    unlink(path.c_str());
}

}  // namespace

TraceViewer::TraceViewer(ViewerOptions options) : options_(std::move(options)) {
    if (daq::prepareTraceDirectory(options_.socketPath) != daq::TraceDirectory::Private) {
        throw std::runtime_error(
            std::filesystem::path(options_.socketPath).parent_path().string() +
            " is not a directory of this user that only it can write; senders send no traces "
            "there");
    }
    removeStaleSocket(io_, options_.socketPath);
    socket_.open(Datagram());
    socket_.bind(Datagram::endpoint(options_.socketPath));
    socket_.non_blocking(true);
    announced_ = daq::announceViewer(options_.socketPath);
}

// The generation file stays: senders keep it mapped.
TraceViewer::~TraceViewer() {
    unlink(options_.socketPath.c_str());
}

void TraceViewer::run() {
    signals_.async_wait([this](const asio::error_code&, int) {
        socket_.close();
        io_.stop();
    });
    waitForMessages();
    io_.run();
}

void TraceViewer::waitForMessages() {
    socket_.async_wait(Datagram::socket::wait_read, [this](const asio::error_code& error) {
        if (error) {
            if (error != asio::error::operation_aborted) {
                std::fprintf(stderr, "trace-viewer: %s\n", error.message().c_str());
                io_.stop();
            }
            return;
        }
        printArrived();
        waitForMessages();
    });
}

void TraceViewer::printArrived() {
    for (std::size_t i = 0; i < kBatchLimit; ++i) {
        asio::error_code error;
        const std::size_t size =
            socket_.receive(asio::buffer(buffer_.get(), daq::kTraceMessageLimit + 1), 0, error);
        if (error) {
            break;  // would block: everything that arrived is printed
        }
        print(size);
    }
    std::fflush(stdout);
}

void TraceViewer::print(std::size_t size) {
    const std::string_view datagram(buffer_.get(), size);
    const TraceMessage message = parseTraceMessage(datagram);
    if (message.level < options_.minimumLevel) {
        return;
    }
    if (options_.raw) {
        std::fwrite(datagram.data(), 1, datagram.size(), stdout);
        std::fputc('\n', stdout);
    } else {
        const std::string line = formatTraceLine(
            message, formatReceiveTime(std::chrono::system_clock::now()), options_.colour);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
}

}  // namespace traceviewer
