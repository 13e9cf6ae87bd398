#include "trace/ViewerGeneration.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace daq {

namespace {

// The counter is shared between processes through their mappings, so it must not need a lock
// (lock-free atomics are also address-free).
using SharedWord = std::atomic_ref<std::uint32_t>;
static_assert(SharedWord::is_always_lock_free);
static_assert(kViewerGenerationFileSize == 2 * sizeof(std::uint32_t));

constexpr mode_t kFileMode = 0600;

// O_NONBLOCK: a FIFO put at the path must not hold the caller in open().
int openExisting(const std::string& path, int access) {
    return open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

bool isGenerationFile(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 07777) == kFileMode &&
           status.st_size == static_cast<off_t>(kViewerGenerationFileSize);
}

// Maps the file behind `fd` if it is a valid, marked generation file; null otherwise.
std::uint32_t* mapGenerationFile(int fd, int protection, struct stat& status) {
    if (fstat(fd, &status) != 0 || !isGenerationFile(status)) {
        return nullptr;
    }
    void* mapping = mmap(nullptr, kViewerGenerationFileSize, protection, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        return nullptr;
    }
    auto* words = static_cast<std::uint32_t*>(mapping);
    if (SharedWord(words[0]).load(std::memory_order_relaxed) != kViewerGenerationMark) {
        munmap(mapping, kViewerGenerationFileSize);
        return nullptr;
    }
    return words;
}

// Writes a new file under a temporary name and links it into place, so that nobody sees it half
// written and whoever races to do the same (a sender or a viewer) either wins or uses the
// winner's file. link() never follows a link at the path: it fails there as on any other file.
bool createGenerationFile(const std::string& path) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const std::uint32_t initial[2] = {kViewerGenerationMark, 0};
    const bool written = fchmod(fd, kFileMode) == 0 &&
                         write(fd, initial, sizeof initial) == static_cast<ssize_t>(sizeof initial);
    close(fd);
    const bool linked = written && (link(temporary.c_str(), path.c_str()) == 0 || errno == EEXIST);
    unlink(temporary.c_str());
    return linked;
}

// Opens the generation file, making it first when there is none; whoever comes first beside the
// socket, sender or viewer, makes it.
int openOrCreate(const std::string& path, int access) {
    int fd = openExisting(path, access);
    if (fd < 0 && errno == ENOENT && createGenerationFile(path)) {
        fd = openExisting(path, access);
    }
    return fd;
}

}  // namespace

std::string viewerGenerationPath(const std::string& socketPath) {
    return socketPath + ".gen";
}

ViewerGeneration::ViewerGeneration(const std::string& path) {
    const int fd = openOrCreate(path, O_RDONLY);
    if (fd < 0) {
        return;
    }
    struct stat status {};
    words_ = mapGenerationFile(fd, PROT_READ, status);
    close(fd);
    device_ = status.st_dev;
    inode_ = status.st_ino;
}

ViewerGeneration::~ViewerGeneration() {
    if (words_ != nullptr) {
        munmap(words_, kViewerGenerationFileSize);
    }
}

std::uint32_t ViewerGeneration::counter() const {
    // Acquire: what the viewer did before counting (binding its socket) is done when seen.
    return SharedWord(words_[1]).load(std::memory_order_acquire);
}

bool ViewerGeneration::stillAt(const std::string& path) const {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_;
}

bool announceViewer(const std::string& socketPath) {
    const int fd = openOrCreate(viewerGenerationPath(socketPath), O_RDWR);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    std::uint32_t* words = mapGenerationFile(fd, PROT_READ | PROT_WRITE, status);
    close(fd);
    if (words == nullptr) {
        return false;
    }
    SharedWord(words[1]).fetch_add(1, std::memory_order_release);
    munmap(words, kViewerGenerationFileSize);
    return true;
}

}  // namespace daq
