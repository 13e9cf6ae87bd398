#include "trace/TraceTransport.h"

#include "trace/DirectoryWatch.h"

#include <sys/un.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/local/datagram_protocol.hpp>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

namespace {

using Datagram = asio::local::datagram_protocol;

// The viewer's socket, as far as the channel knows it. Replaced as a whole by a reload.
struct ViewerLink {
    explicit ViewerLink(const std::string& path);

    bool mayListen();
    void send(const char* data, std::size_t size);

    asio::io_context io;
    Datagram::socket socket{io};
    std::optional<Datagram::endpoint> viewer;  // empty: the path cannot name a socket
    std::unique_ptr<DirectoryWatch> watch;
    bool absent = false;  // the last send found nobody listening
};

ViewerLink::ViewerLink(const std::string& path) {
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
    const std::filesystem::path directory = socketPath.parent_path();
    watch = std::make_unique<DirectoryWatch>(directory.empty() ? "." : directory.string(),
                                             socketPath.filename().string());
}

bool ViewerLink::mayListen() {
    if (!viewer) {
        return false;
    }
    if (absent && watch->nameMayHaveAppeared()) {
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
