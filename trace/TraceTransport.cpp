#include "trace/TraceTransport.h"

#include "trace/DirectoryWatch.h"
#include "trace/ViewerGeneration.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/local/datagram_protocol.hpp>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

namespace daq {

namespace {

using Datagram = asio::local::datagram_protocol;

std::string defaultDirectory() {
    return "/tmp/kelvane-trace-" + std::to_string(geteuid());
}

std::string directoryOf(const std::string& socketPath) {
    const std::filesystem::path parent = std::filesystem::path(socketPath).parent_path();
    return parent.empty() ? "." : parent.string();
}

TraceDirectory checkDirectory(const std::string& directory) {
    struct stat status {};
    if (lstat(directory.c_str(), &status) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? TraceDirectory::Missing
                                                   : TraceDirectory::Unsafe;
    }
    const bool onlyOurs = S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
                          (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    return onlyOurs ? TraceDirectory::Private : TraceDirectory::Unsafe;
}

bool isOwnSocket(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) &&
           status.st_uid == geteuid();
}

// The viewer's socket, as far as the channel knows it. Replaced as a whole by a reload.
//
// While nobody listens, the channel learns of a new viewer in one of two ways: from the viewer
// generation file, created here when there is none (a memory load per message), else, when the
// file can be neither created nor used, from a watch on the socket's directory (a system call
// per message). After either says a viewer may have come, the directory and the socket are
// checked (TraceTransport.h) and the next message is sent; a send that finds nobody, or nobody
// of ours, makes the channel wait again.
struct ViewerLink {
    explicit ViewerLink(const std::string& path);

    bool mayListen();
    void send(const char* data, std::size_t size);

    // Maps the generation file (creating it if absent) if it is valid now, in a private
    // directory, and stops watching the directory; false if not.
    bool useGenerationFile();
    void watchDirectory();
    // Counts a message without a viewer; true once per kTraceGenerationFileCheckInterval.
    bool fileCheckDue();

    asio::io_context io;
    Datagram::socket socket{io};
    std::optional<Datagram::endpoint> viewer;  // empty: nothing is sent to the path
    std::string socketPath;
    std::string directory;
    std::string socketName;
    std::string generationPath;
    std::unique_ptr<ViewerGeneration> generation;  // set while a valid generation file is mapped
    std::unique_ptr<DirectoryWatch> watch;         // set otherwise
    std::uint32_t seenGeneration = 0;
    unsigned messagesSinceFileCheck = 0;
    bool absent = false;   // the last send found nobody listening
    bool checked = false;  // the directory and the socket were found fit since a viewer came
};

ViewerLink::ViewerLink(const std::string& path)
    : socketPath(path), directory(directoryOf(path)), generationPath(viewerGenerationPath(path)) {
    asio::error_code error;
    socket.open(Datagram(), error);
    if (!error) {
        socket.non_blocking(true, error);
    }
    if (error || path.size() >= sizeof(sockaddr_un::sun_path) ||
        prepareTraceDirectory(path) == TraceDirectory::Unsafe) {
        return;
    }
    viewer.emplace(path);
    socketName = std::filesystem::path(path).filename().string();
    if (!useGenerationFile()) {
        watchDirectory();
    }
}

bool ViewerLink::useGenerationFile() {
    if (checkDirectory(directory) != TraceDirectory::Private) {
        return false;
    }
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
            checked = false;
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
    if (!checked) {
        const TraceDirectory state = checkDirectory(directory);
        if (state == TraceDirectory::Unsafe) {
            viewer.reset();  // made by someone else since: nothing goes there any more
            return;
        }
        checked = state == TraceDirectory::Private && isOwnSocket(socketPath);
    }
    asio::error_code error;
    if (checked) {
        socket.send_to(asio::buffer(data, size), *viewer, MSG_DONTWAIT, error);
    }
    // A full viewer is still there: only this message is lost. Anything else means no viewer of
    // ours at the path (none bound, a stale file, not a datagram socket, a socket of another
    // user): wait for one to appear.
    if (!checked || (error && error != asio::error::would_block &&
                     error != asio::error::try_again && error != asio::error::no_buffer_space)) {
        absent = true;
        checked = false;
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
    return defaultDirectory() + "/trace.sock";
}

TraceDirectory prepareTraceDirectory(const std::string& socketPath) {
    const std::string directory = directoryOf(socketPath);
    if (directory == defaultDirectory()) {
        // Fails when it exists, which the check then judges.
        mkdir(directory.c_str(), 0700);
    }
    return checkDirectory(directory);
}

void traceReloadSocketPath() {
    Transport& state = transport();
    auto fresh = std::make_unique<ViewerLink>(traceSocketPath());
    const std::lock_guard lock(state.mutex);
    state.link = std::move(fresh);
}

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

}  // namespace daq
