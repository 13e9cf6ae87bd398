// trace-viewer: prints the trace messages of the DAQ server and its host, one line each.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "tools/trace-viewer/TraceViewer.h"
#include "trace/TraceTransport.h"
#include "trace/ViewerGeneration.h"

namespace {

constexpr std::size_t kOutputBufferSize = 64 * 1024;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Prints the trace messages of the DAQ server and its host, one line each."};
    traceviewer::ViewerOptions options;
    options.socketPath = daq::traceSocketPath();
    app.add_option("--socket", options.socketPath,
                   "Socket to bind; default $KELVANE_TRACE_SOCKET, else "
                   "$XDG_RUNTIME_DIR/kelvane-trace.sock, else /tmp/kelvane-trace-<uid>/trace.sock "
                   "(made 0700). Its directory must be this user's and writable by no one else")
        ->capture_default_str();
    app.add_option("--level", options.minimumLevel,
                   "Show only messages of this level and above (0 information, 2 errors; "
                   "messages without a location count as 0)");
    app.add_flag("--raw", options.raw,
                 "Print each message's bytes as received, terminating zero included");
    app.footer(
        "Files: the socket, removed on exit, and beside it <socket>.gen (mode 0600, kept), whose "
        "counter the viewer increments once bound so that running senders notice it without a "
        "system call per message. Whoever comes first, viewer or sender, creates that file.");
    CLI11_PARSE(app, argc, argv);
    options.colour = isatty(STDOUT_FILENO) == 1;
    // Flushed once per batch of messages rather than once per line.
    std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);

    try {
        traceviewer::TraceViewer viewer(options);
        std::fprintf(stderr, "trace-viewer: listening on %s\n", options.socketPath.c_str());
        if (!viewer.announced()) {
            std::fprintf(stderr,
                         "trace-viewer: cannot update %s; senders waiting on that file may not "
                         "notice this viewer\n",
                         daq::viewerGenerationPath(options.socketPath).c_str());
        }
        viewer.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "trace-viewer: %s\n", error.what());
        return 1;
    }
    return 0;
}
