// Cost of one trace call (location and message) with and without a viewer listening.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/local/datagram_protocol.hpp>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "trace/Trace.h"
#include "trace/TraceTransport.h"
#include "trace/ViewerGeneration.h"

namespace daq::bench {

namespace {

using Datagram = asio::local::datagram_protocol;

// Points the channel at a socket path in a fresh directory for one benchmark.
class SocketDirectory {
  public:
    SocketDirectory() {
        char pattern[] = "/tmp/trace-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("cannot create a directory for the trace socket");
        }
        directory_ = pattern;
        setenv("KELVANE_TRACE_SOCKET", socketPath().c_str(), 1);
        daq::traceReloadSocketPath();
    }
    ~SocketDirectory() { std::filesystem::remove_all(directory_); }

    std::string socketPath() const { return directory_ + "/viewer.sock"; }

  private:
    std::string directory_;
};

// A viewer that reads and discards every message on its own thread.
class DrainingViewer {
  public:
    explicit DrainingViewer(const std::string& path) {
        socket_.open(Datagram());
        socket_.bind(Datagram::endpoint(path));
        receive();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~DrainingViewer() {
        io_.stop();
        thread_.join();
    }
    long received() const { return received_.load(); }

  private:
    void receive() {
        socket_.async_receive(asio::buffer(buffer_),
                              [this](const asio::error_code& error, std::size_t) {
                                  if (!error) {
                                      received_.fetch_add(1, std::memory_order_relaxed);
                                      receive();
                                  }
                              });
    }

    asio::io_context io_;
    Datagram::socket socket_{io_};
    std::vector<char> buffer_ = std::vector<char>(daq::kTraceMessageLimit + 1);
    std::atomic<long> received_{0};
    std::thread thread_;
};

void traceOnce(benchmark::State& state) {
    for (auto _ : state) {
        daq::setTraceLocation(__LINE__, "IdTCPServer1Execute", "FormTray");
        daq::trace(daq::kTraceError, "TCP Server Error : %s, %s", "DAQ_DATA",
                   "Connection reset by peer");
    }
    state.SetItemsProcessed(state.iterations());
}

// No viewer has run here yet: the channel creates the generation file and waits on its counter.
void BM_TraceNoViewer(benchmark::State& state) {
    const SocketDirectory directory;
    traceOnce(state);
}
BENCHMARK(BM_TraceNoViewer);

// A viewer ran here and left: the channel waits on the counter of its generation file.
void BM_TraceNoViewerSinceOneLeft(benchmark::State& state) {
    const SocketDirectory directory;
    {
        asio::io_context io;
        Datagram::socket viewer(io, Datagram::endpoint(directory.socketPath()));
        if (!daq::announceViewer(directory.socketPath())) {
            state.SkipWithError("cannot create the generation file");
            return;
        }
    }
    std::filesystem::remove(directory.socketPath());
    traceOnce(state);
}
BENCHMARK(BM_TraceNoViewerSinceOneLeft);

// A viewer that was killed left its socket file behind without announcing itself.
void BM_TraceStaleSocketFile(benchmark::State& state) {
    const SocketDirectory directory;
    {
        asio::io_context io;
        Datagram::socket killed(io, Datagram::endpoint(directory.socketPath()));
    }
    traceOnce(state);
}
BENCHMARK(BM_TraceStaleSocketFile);

void BM_TraceWithViewer(benchmark::State& state) {
    const SocketDirectory directory;
    long delivered = 0;
    {
        DrainingViewer viewer(directory.socketPath());
        traceOnce(state);
        // Let the viewer take what is still queued before counting.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        delivered = viewer.received();
    }
    state.counters["delivered"] = benchmark::Counter(static_cast<double>(delivered) /
                                                     static_cast<double>(state.iterations()));
}
BENCHMARK(BM_TraceWithViewer);

// The price of entering the kernel once on this machine, for comparison: the trace without a
// viewer makes one such call only when it cannot use a generation file and watches the directory
// instead (a non-blocking read of the watch).
void BM_OneSystemCall(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(getppid());
    }
}
BENCHMARK(BM_OneSystemCall);

}  // namespace

}  // namespace daq::bench
