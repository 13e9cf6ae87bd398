#include "trace/TraceTransport.h"

#include "trace/DirectoryWatch.h"
#include "trace/ViewerGeneration.h"

#include <sys/un.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/local/datagram_protocol.hpp>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

namespace {

using Datagram = asio::local::datagram_protocol;

// The viewer's socket, as far as the channel knows it. Replaced as a whole by a reload.
//
// While nobody listens, the channel learns of a new viewer in one of two ways: from the viewer
// generation file, created here when there is none (a memory load per message), else, when the
// file can be neither created nor used, from a watch on the socket's directory (a system call
// per message). After either says a viewer may have come,
// the next message is sent, and a send that finds nobody makes the channel wait again.
struct ViewerLink {
    explicit ViewerLink(const std::string& path);

    bool mayListen();
    void send(const char* data, std::size_t size);

    // Maps the generation file (creating it if absent) if it is valid now and stops watching the
    // directory; false if not.
    bool useGenerationFile();
    void watchDirectory();
    // Counts a message without a viewer; true once per kTraceGenerationFileCheckInterval.
    bool fileCheckDue();

    asio::io_context io;
    Datagram::socket socket{io};
    std::optional<Datagram::endpoint> viewer;  // empty: the path cannot name a socket
    std::string directory;
    std::string socketName;
    std::string generationPath;
    std::unique_ptr<ViewerGeneration> generation;  // set while a valid generation file is mapped
    std::unique_ptr<DirectoryWatch> watch;         // set otherwise
    std::uint32_t seenGeneration = 0;
    unsigned messagesSinceFileCheck = 0;
    bool absent = false;  // the last send found nobody listening
};

ViewerLink::ViewerLink(const std::string& path) : generationPath(viewerGenerationPath(path)) {
    asio::error_code error;
    socket.open(Datagram(), error);
    if (!error) {
        socket.non_blocking(true, error);
    }
    if (error || path.size() >= sizeof(sockaddr_un::sun_path)) {
        return;
    }
    viewer.emplace(path);
    const std::filesystem::path socketPath(path);
    directory = socketPath.parent_path().empty() ? "." : socketPath.parent_path().string();
    socketName = socketPath.filename().string();
    if (!useGenerationFile()) {
        watchDirectory();
    }
}

bool ViewerLink::useGenerationFile() {
    auto file = std::make_unique<ViewerGeneration>(generationPath);
    if (!file->mapped()) {
        return false;
    }
    seenGeneration = file->counter();
    generation = std::move(file);
    watch.reset();
    messagesSinceFileCheck = 0;
    return true;
}

void ViewerLink::watchDirectory() {
    generation.reset();
    watch = std::make_unique<DirectoryWatch>(directory, socketName);
}

bool ViewerLink::fileCheckDue() {
    if (++messagesSinceFileCheck < kTraceGenerationFileCheckInterval) {
        return false;
    }
    messagesSinceFileCheck = 0;
    return true;
}

// Whenever the way of waiting changes, the next message is sent: a viewer may have come before
// the counter was read or the watch was set up.
bool ViewerLink::mayListen() {
    if (!viewer) {
        return false;
    }
    if (generation) {
        const std::uint32_t current = generation->counter();
        if (current != seenGeneration) {
            seenGeneration = current;
            absent = false;
        } else if (absent && fileCheckDue() && !generation->stillAt(generationPath)) {
            // Removed or replaced: later viewers count in another file (made anew here if
            // nobody has yet), or in none.
            if (!useGenerationFile()) {
                watchDirectory();
            }
            absent = false;
        }
    } else if (absent && watch->nameMayHaveAppeared()) {
        useGenerationFile();
        absent = false;
    }
    return !absent;
}

void ViewerLink::send(const char* data, std::size_t size) {
    asio::error_code error;
    socket.send_to(asio::buffer(data, size), *viewer, MSG_DONTWAIT, error);
    // A full viewer is still there: only this message is lost. Any other failure means no viewer
    // at the path (none bound, a stale file, not a datagram socket): wait for one to appear.
    if (error && error != asio::error::would_block && error != asio::error::try_again &&
        error != asio::error::no_buffer_space) {
        absent = true;
        // The file may be usable now (made by that viewer, or the directory became writable):
        // wait on it from now on.
        if (!generation && useGenerationFile()) {
            absent = false;
        }
    }
}

struct Transport {
    std::mutex mutex;
    std::unique_ptr<ViewerLink> link;  // created at the first message
};

Transport& transport() {
    static Transport instance;
    return instance;
}

// Called with the transport's mutex held.
ViewerLink& link(Transport& state) {
    if (!state.link) {
        state.link = std::make_unique<ViewerLink>(traceSocketPath());
    }
    return *state.link;
}

}  // namespace

std::string traceSocketPath() {
    if (const char* path = std::getenv("KELVANE_TRACE_SOCKET"); path != nullptr && *path != 0) {
        return path;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != 0) {
        return std::string(runtime) + "/kelvane-trace.sock";
    }
    return "/tmp/kelvane-trace-" + std::to_string(getuid()) + ".sock";
}

void traceReloadSocketPath() {
    Transport& state = transport();
    auto fresh = std::make_unique<ViewerLink>(traceSocketPath());
    const std::lock_guard lock(state.mutex);
    state.link = std::move(fresh);
}

namespace trace_detail {

bool viewerMayListen() {
    Transport& state = transport();
    const std::lock_guard lock(state.mutex);
    return link(state).mayListen();
}

void sendToViewer(const char* data, std::size_t size) {
    Transport& state = transport();
    const std::lock_guard lock(state.mutex);
    ViewerLink& viewer = link(state);
    if (viewer.mayListen()) {
        viewer.send(data, size);
    }
}

}  // namespace trace_detail
