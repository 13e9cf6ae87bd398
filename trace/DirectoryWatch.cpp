#include "trace/DirectoryWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <utility>

namespace daq {

namespace {

// Room for a burst of events with long names; the rest is read on the next pass of the loop.
constexpr std::size_t kEventBufferSize = 4096;

}  // namespace

DirectoryWatch::DirectoryWatch(const std::string& directory, std::string name)
    : name_(std::move(name)) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    if (inotify_add_watch(fd_, directory.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) < 0) {
        close(fd_);
        fd_ = -1;
    }
}

DirectoryWatch::~DirectoryWatch() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool DirectoryWatch::nameMayHaveAppeared() {
    if (fd_ < 0) {
        return true;
    }
    bool appeared = false;
    alignas(inotify_event) char buffer[kEventBufferSize];
    for (;;) {
        const ssize_t length = read(fd_, buffer, sizeof buffer);
        if (length <= 0) {
            // EAGAIN: all events consumed.
            return appeared;
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            // An overflowed queue may have lost the event; a removed watch sees no more.
            if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED)) != 0 ||
                (event->len > 0 && name_ == event->name)) {
                appeared = true;
            }
            if ((event->mask & IN_IGNORED) != 0) {
                close(fd_);
                fd_ = -1;
                return true;
            }
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace daq
