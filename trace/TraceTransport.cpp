#include "trace/TraceTransport.h"

#include "trace/DirectoryWatch.h"
#include "trace/TraceSender.h"
#include "trace/ViewerGeneration.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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
    std::size_t sendBatch(const TraceDatagram* messages, std::size_t count);

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

std::size_t ViewerLink::sendBatch(const TraceDatagram* messages, std::size_t count) {
    if (!checked) {
        const TraceDirectory state = checkDirectory(directory);
        if (state == TraceDirectory::Unsafe) {
            viewer.reset();  // made by someone else since: nothing goes there any more
            return count;
        }
        checked = state == TraceDirectory::Private && isOwnSocket(socketPath);
    }
    if (checked) {
        std::array<iovec, kTraceBatchMessages> parts{};
        std::array<mmsghdr, kTraceBatchMessages> headers{};
        const std::size_t batch = std::min(count, kTraceBatchMessages);
        for (std::size_t i = 0; i < batch; ++i) {
            parts[i] = {const_cast<char*>(messages[i].data), messages[i].size};
            msghdr& header = headers[i].msg_hdr;
            header.msg_name = viewer->data();
            header.msg_namelen = static_cast<socklen_t>(viewer->size());
            header.msg_iov = &parts[i];
            header.msg_iovlen = 1;
        }
        const int sent = sendmmsg(socket.native_handle(), headers.data(),
                                  static_cast<unsigned>(batch), MSG_DONTWAIT);
        if (sent > 0) {
            return static_cast<std::size_t>(sent);
        }
        // A full viewer is still there: the sender waits for it.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            return 0;
        }
    }
    // No viewer of ours at the path (none bound, a stale file, not a datagram socket, a socket of
    // another user): wait for one to appear; these messages go to nobody.
    absent = true;
    checked = false;
    // The file may be usable now (made by that viewer, or the directory became writable): wait
    // on it from now on.
    if (!generation && useGenerationFile()) {
        absent = false;
    }
    return count;
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
    // What was traced before goes where it was meant to.
    flushTraceQueue();
    reloadTraceQueueSettings();
    Transport& state = transport();
    auto fresh = std::make_unique<ViewerLink>(traceSocketPath());
    const std::lock_guard lock(state.mutex);
    state.link = std::move(fresh);
}

void prepareTraceTransport() {
    transport();
}

bool viewerMayListen() {
    Transport& state = transport();
    const std::unique_lock lock(state.mutex, std::try_to_lock);
    return !lock.owns_lock() || link(state).mayListen();
}

std::size_t sendBatchToViewer(const TraceDatagram* messages, std::size_t count) {
    Transport& state = transport();
    const std::lock_guard lock(state.mutex);
    ViewerLink& viewer = link(state);
    return viewer.mayListen() ? viewer.sendBatch(messages, count) : count;
}

}  // namespace daq
