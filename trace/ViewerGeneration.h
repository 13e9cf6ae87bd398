// The viewer generation file: how a viewer tells senders that it has bound the trace socket,
// without a sender having to make a system call per message to find out.
//
// The file is "<socket path>.gen", beside the socket: 8 bytes in the machine's byte order, a
// 32-bit mark (kViewerGenerationMark) and then a 32-bit counter that every viewer increments once
// its socket is bound. A sender maps the file read-only and compares the counter with the value it
// last saw: a memory load. Only a regular file of the sender's own user, mode 0600, of exactly
// that size and with the mark is used; anything else is ignored and senders watch the directory
// instead.
//
// Whoever finds no file first, sender or viewer, creates it (counter 0, under a temporary name
// linked into place, never through a link), so that senders can wait on the counter even before
// any viewer has run. Neither removes nor shortens it: senders keep it mapped, and a mapped file
// that shrinks faults the sender on its next look. Only the user who owns it (or root) can
// shorten it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace daq {

inline constexpr std::uint32_t kViewerGenerationMark = 0x3147564b;  // "KVG1" read little-endian
inline constexpr std::size_t kViewerGenerationFileSize = 8;

// "<socket path>.gen".
std::string viewerGenerationPath(const std::string& socketPath);

// A sender's read-only view of a generation file.
class ViewerGeneration {
  public:
    // Maps the file at `path`, creating it when there is none, if it is a valid generation file;
    // otherwise (it cannot be created, or the path holds something else) mapped() is false.
    explicit ViewerGeneration(const std::string& path);
    ~ViewerGeneration();
    ViewerGeneration(const ViewerGeneration&) = delete;
    ViewerGeneration& operator=(const ViewerGeneration&) = delete;

    bool mapped() const { return words_ != nullptr; }
    // The counter; only when mapped.
    std::uint32_t counter() const;
    // Whether `path` still names the mapped file (it may have been removed or replaced).
    bool stillAt(const std::string& path) const;

  private:
    std::uint32_t* words_ = nullptr;  // [0] the mark, [1] the counter
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// Called by a viewer once its socket is bound: creates the generation file beside the socket when
// there is none and increments its counter. False when that is impossible (the directory is not
// writable, or the path holds something else than a valid generation file); senders then notice
// the viewer by watching the directory.
bool announceViewer(const std::string& socketPath);

}  // namespace daq
