// The trace channel waiting on the viewer generation file, against real datagram sockets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/TraceReceiver.h"
#include "trace/Trace.h"
#include "trace/TraceSender.h"
#include "trace/TraceTransport.h"
#include "trace/ViewerGeneration.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string datagram(const std::string& message) {
    return message + '\0';
}

std::string generationBytes(std::uint32_t mark, std::uint32_t counter) {
    std::string bytes(daq::kViewerGenerationFileSize, '\0');
    std::memcpy(bytes.data(), &mark, sizeof mark);
    std::memcpy(bytes.data() + sizeof mark, &counter, sizeof counter);
    return bytes;
}

void writeFile(const std::string& path, const std::string& bytes, fs::perms permissions) {
    std::ofstream(path, std::ios::binary) << bytes;
    fs::permissions(path, permissions);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

constexpr fs::perms kPrivate = fs::perms::owner_read | fs::perms::owner_write;

class TraceGenerationTest : public ::testing::Test {
  protected:
    std::size_t entriesBesideTheSocket() const {
        const fs::path folder = fs::path(directory.socketPath()).parent_path();
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    TraceSocketDirectory directory;
    const std::string generationPath = daq::viewerGenerationPath(directory.socketPath());
};

// Files of this process may not grow while it lives, so neither the channel nor a viewer here
// can write a generation file, while sockets can still be bound.
class FileWritesFail {
  public:
    FileWritesFail() {
        getrlimit(RLIMIT_FSIZE, &saved_);
        const rlimit none{0, saved_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &none);
        // Exceeding the limit raises this signal, which would end the test program.
        savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileWritesFail() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedHandler_);
    }
    FileWritesFail(const FileWritesFail&) = delete;
    FileWritesFail& operator=(const FileWritesFail&) = delete;

  private:
    rlimit saved_{};
    void (*savedHandler_)(int) = SIG_DFL;
};

// The next message that a viewer hears, skipping those sent while nobody listened: they are
// lost or, when the viewer came before they left, delivered first.
std::optional<std::string> nextHeard(TraceReceiver& viewer) {
    std::optional<std::string> message = viewer.next();
    while (message && message->starts_with("nobody")) {
        message = viewer.next();
    }
    return message;
}

// The channel makes a private file and waits on its counter, which each viewer increments; a
// removed file is made anew, or found when the next viewer made it, within the check interval.
TEST_F(TraceGenerationTest, ChannelWaitsOnTheCounterOfAPrivateFile) {
    daq::trace(daq::kTraceInfo, "nobody listens");
    EXPECT_EQ(fs::symlink_status(generationPath).type(), fs::file_type::regular);
    EXPECT_EQ(fs::status(generationPath).permissions(), kPrivate);
    EXPECT_EQ(readFile(generationPath), generationBytes(daq::kViewerGenerationMark, 0));
    EXPECT_EQ(entriesBesideTheSocket(), 1u);  // no temporary file is left beside it

    for (const std::string round : {"first", "second"}) {
        daq::trace(daq::kTraceInfo, "nobody listens before the %s viewer", round.c_str());
        TraceReceiver viewer(directory.socketPath(), TraceReceiver::Announce::Never);
        ASSERT_TRUE(daq::announceViewer(directory.socketPath()));
        daq::trace(daq::kTraceInfo, "%s", round.c_str());
        EXPECT_EQ(nextHeard(viewer), datagram(round));
    }
    EXPECT_EQ(readFile(generationPath), generationBytes(daq::kViewerGenerationMark, 2));

    // Removed (by a cleaner of old files, say) while nobody comes: the channel makes it again.
    daq::flushTraceQueue();  // the sender is done with what was traced before
    fs::remove(generationPath);
    // The first message finds nobody; the check interval counts from there.
    for (unsigned i = 0; i <= daq::kTraceGenerationFileCheckInterval; ++i) {
        daq::trace(daq::kTraceInfo, "nobody yet");
        daq::flushTraceQueue();  // each message handled before the next, as the count assumes
    }
    EXPECT_EQ(readFile(generationPath), generationBytes(daq::kViewerGenerationMark, 0));

    // Removed, and made by the next viewer.
    fs::remove(generationPath);
    TraceReceiver viewer(directory.socketPath());
    ASSERT_TRUE(viewer.announced());
    EXPECT_EQ(fs::status(generationPath).permissions(), kPrivate);
    EXPECT_EQ(readFile(generationPath), generationBytes(daq::kViewerGenerationMark, 1));
    for (unsigned i = 0; i < daq::kTraceGenerationFileCheckInterval; ++i) {
        daq::flushTraceQueue();
        daq::trace(daq::kTraceInfo, "probe");
    }
    EXPECT_EQ(nextHeard(viewer), datagram("probe"));
}

// Without a file the channel finds the viewer through the directory; a directory made later is
// tried at each message until it comes, and then its file is used.
TEST_F(TraceGenerationTest, ViewerIsFoundWithoutAFileAndInADirectoryMadeLater) {
    fs::remove(generationPath);
    {
        const FileWritesFail noWrites;
        daq::traceReloadSocketPath();
        daq::trace(daq::kTraceInfo, "nobody listens");
        daq::flushTraceQueue();
        EXPECT_EQ(entriesBesideTheSocket(), 0u);
        TraceReceiver viewer(directory.socketPath());
        EXPECT_FALSE(viewer.announced());
        daq::trace(daq::kTraceInfo, "found");
        EXPECT_EQ(nextHeard(viewer), datagram("found"));
    }

    const fs::path later = fs::path(directory.socketPath()).parent_path() / "later";
    const std::string socketPath = (later / "viewer.sock").string();
    setenv("KELVANE_TRACE_SOCKET", socketPath.c_str(), 1);
    daq::traceReloadSocketPath();
    daq::trace(daq::kTraceInfo, "nobody listens");
    daq::trace(daq::kTraceInfo, "nobody still");
    daq::flushTraceQueue();  // both went nowhere before the directory is made
    fs::create_directory(later);
    {
        TraceReceiver viewer(socketPath, TraceReceiver::Announce::Never);
        daq::trace(daq::kTraceInfo, "found");
        EXPECT_EQ(nextHeard(viewer), datagram("found"));
    }
    daq::flushTraceQueue();
    EXPECT_EQ(readFile(daq::viewerGenerationPath(socketPath)),
              generationBytes(daq::kViewerGenerationMark, 0));
    daq::trace(daq::kTraceInfo, "nobody again");
    TraceReceiver viewer(socketPath);
    daq::trace(daq::kTraceInfo, "found again");
    EXPECT_EQ(nextHeard(viewer), datagram("found again"));
}

constexpr uid_t kNobody = 65534;

// A generation file with `bytes` and `permissions`, or, with `owner`, one given to that user.
std::function<bool(const std::string&)> file(std::string bytes, fs::perms permissions = kPrivate,
                                             uid_t owner = 0) {
    return [=](const std::string& path) {
        writeFile(path, bytes, permissions);
        return owner == 0 || (geteuid() != owner && chown(path.c_str(), owner, owner) == 0);
    };
}

// A file at the generation path that the channel must not use: it keeps watching the directory,
// and a viewer cannot announce itself in it either.
TEST(TraceGenerationUnusableFile, ChannelWatchesTheDirectoryInstead) {
    const std::string valid = generationBytes(daq::kViewerGenerationMark, 0);
    const struct {
        const char* name;
        std::function<bool(const std::string& path)> make;  // false: cannot be made here
    } files[] = {
        {"empty", file("")},
        {"truncated", file(valid.substr(0, 4))},
        {"garbage", file(std::string(daq::kViewerGenerationFileSize, '\xa5'))},
        {"oversized", file(valid + "extra")},
        {"writable by others", file(valid, kPrivate | fs::perms::others_write)},
        {"of another user", file(valid, kPrivate, kNobody)},
        {"symbolic link",
         [&](const std::string& path) {
             writeFile(path + "-target", valid, kPrivate);
             fs::create_symlink(path + "-target", path);
             return true;
         }},
        {"FIFO", [](const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }},
        {"directory", [](const std::string& path) { return fs::create_directory(path); }},
    };
    for (const auto& row : files) {
        SCOPED_TRACE(row.name);
        const TraceSocketDirectory directory;
        const std::string path = daq::viewerGenerationPath(directory.socketPath());
        fs::remove(path);  // in place of the file that the channel made when pointed here
        if (!row.make(path)) {
            continue;  // only root can give a file away
        }
        daq::traceReloadSocketPath();
        const std::string before = fs::is_regular_file(path) ? readFile(path) : "";
        daq::trace(daq::kTraceInfo, "nobody listens");
        TraceReceiver viewer(directory.socketPath());
        daq::trace(daq::kTraceInfo, "found");
        EXPECT_EQ(nextHeard(viewer), datagram("found"));
        EXPECT_FALSE(daq::announceViewer(directory.socketPath()));
        EXPECT_EQ(fs::is_regular_file(path) ? readFile(path) : "", before);
    }
}

}  // namespace
