// The trace channel waiting on the viewer generation file, against real datagram sockets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/TraceCapture.h"
#include "trace/Trace.h"
#include "trace/TraceSender.h"
#include "trace/TraceTransport.h"
#include "trace/ViewerGeneration.h"

namespace {

namespace fs = std::filesystem;
using daq::test::TraceCapture;
using Texts = std::vector<std::string>;

std::string generationBytes(std::uint32_t counter) {
    std::string bytes(daq::kViewerGenerationFileSize, '\0');
    std::memcpy(bytes.data(), &daq::kViewerGenerationMark, sizeof daq::kViewerGenerationMark);
    std::memcpy(bytes.data() + sizeof counter, &counter, sizeof counter);
    return bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

constexpr fs::perms kPrivate = fs::perms::owner_read | fs::perms::owner_write;

// The texts that a viewer heard, leaving out those sent while nobody listened: they are lost or,
// when the viewer came before they left, delivered.
Texts heard(TraceCapture& viewer) {
    Texts texts;
    for (const auto& line : viewer.take()) {
        if (!line.text.starts_with("nobody")) {
            texts.push_back(line.text);
        }
    }
    return texts;
}

class TraceGenerationTest : public ::testing::Test {
  protected:
    void SetUp() override { daq::test::pointTraceChannelAt(socketPath); }

    daq::test::TempDir directory;
    const std::string socketPath = directory.file("viewer.sock");
    const std::string generationPath = daq::viewerGenerationPath(socketPath);
};

// Files of this process may not grow while it lives, so neither the channel nor a viewer here
// can write a generation file, while sockets can still be bound.
struct FileWritesFail {
    FileWritesFail() {
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit none{0, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~FileWritesFail() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
    rlimit saved{};
    // Exceeding the limit raises this signal, which would end the test program.
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
};

// The channel makes a private file and waits on its counter, which a viewer increments; a
// removed file is made anew, or found when the next viewer made it, within the check interval.
TEST_F(TraceGenerationTest, ChannelWaitsOnTheCounterOfAPrivateFile) {
    daq::trace(daq::kTraceInfo, "nobody listens");
    EXPECT_EQ(fs::status(generationPath).permissions(), kPrivate);
    EXPECT_EQ(readFile(generationPath), generationBytes(0));

    // Removed (by a cleaner of old files, say) while nobody comes: the channel makes it again.
    daq::flushTraceQueue();  // the sender is done with what was traced before
    fs::remove(generationPath);
    // The first message finds nobody; the check interval counts from there.
    for (unsigned i = 0; i <= daq::kTraceGenerationFileCheckInterval; ++i) {
        daq::trace(daq::kTraceInfo, "nobody yet");
        daq::flushTraceQueue();  // each message handled before the next, as the count assumes
    }
    EXPECT_EQ(readFile(generationPath), generationBytes(0));

    // Removed, and made by the next viewer.
    fs::remove(generationPath);
    TraceCapture viewer(socketPath);
    EXPECT_EQ(readFile(generationPath), generationBytes(1));
    for (unsigned i = 0; i < daq::kTraceGenerationFileCheckInterval; ++i) {
        daq::flushTraceQueue();
        daq::trace(daq::kTraceInfo, "probe");
    }
    EXPECT_FALSE(heard(viewer).empty());
}

// Without a file the channel finds the viewer through the directory, and callers keep their
// errno; a directory made later is tried at each message until it comes, and then its file is
// used.
TEST_F(TraceGenerationTest, ViewerIsFoundWithoutAFileAndInADirectoryMadeLater) {
    fs::remove(generationPath);
    {
        const FileWritesFail noWrites;
        daq::traceReloadSocketPath();
        daq::trace(daq::kTraceInfo, "nobody listens");
        daq::flushTraceQueue();
        errno = EILSEQ;
        daq::trace(daq::kTraceInfo, "nobody still");
        EXPECT_EQ(errno, EILSEQ);
        EXPECT_TRUE(fs::is_empty(directory.path()));  // no temporary file is left either
        TraceCapture viewer(socketPath);
        EXPECT_FALSE(daq::announceViewer(socketPath));
        daq::trace(daq::kTraceInfo, "found");
        EXPECT_EQ(heard(viewer), Texts{"found"});
    }

    const fs::path later = directory.path() / "later";
    const std::string laterSocket = (later / "viewer.sock").string();
    daq::test::pointTraceChannelAt(laterSocket);
    daq::trace(daq::kTraceInfo, "nobody listens");
    daq::flushTraceQueue();  // it went nowhere before the directory is made
    fs::create_directory(later);
    {
        TraceCapture viewer(laterSocket);
        // As if the viewer had not counted itself: only the directory tells of it.
        fs::remove(daq::viewerGenerationPath(laterSocket));
        daq::trace(daq::kTraceInfo, "found");
        EXPECT_EQ(heard(viewer), Texts{"found"});
    }
    EXPECT_EQ(readFile(daq::viewerGenerationPath(laterSocket)), generationBytes(0));
    daq::trace(daq::kTraceInfo, "nobody again");
    daq::flushTraceQueue();  // found nobody: only the counter tells of the next viewer
    TraceCapture viewer(laterSocket);
    daq::trace(daq::kTraceInfo, "found again");
    EXPECT_EQ(heard(viewer), Texts{"found again"});
}

constexpr uid_t kNobody = 65534;

// A generation file with `bytes` and `permissions`, or, with `owner`, one given to that user.
std::function<bool(const std::string&)> file(std::string bytes, fs::perms permissions = kPrivate,
                                             uid_t owner = 0) {
    return [=](const std::string& path) {
        std::ofstream(path, std::ios::binary) << bytes;
        fs::permissions(path, permissions);
        return owner == 0 || (geteuid() != owner && chown(path.c_str(), owner, owner) == 0);
    };
}

// A file at the generation path that the channel must not use: it keeps watching the directory,
// and a viewer cannot announce itself in it either.
TEST(TraceGenerationUnusableFile, ChannelWatchesTheDirectoryInstead) {
    const std::string valid = generationBytes(0);
    const struct {
        const char* name;
        std::function<bool(const std::string& path)> make;  // false: cannot be made here
    } files[] = {
        {"truncated", file(valid.substr(0, 4))},
        {"garbage", file(std::string(daq::kViewerGenerationFileSize, '\xa5'))},
        {"oversized", file(valid + "extra")},
        {"writable by others", file(valid, kPrivate | fs::perms::others_write)},
        {"of another user", file(valid, kPrivate, kNobody)},
        {"symbolic link",
         [&](const std::string& path) {
             file(valid)(path + "-target");
             fs::create_symlink(path + "-target", path);
             return true;
         }},
        {"FIFO", [](const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }},
        {"directory", [](const std::string& path) { return fs::create_directory(path); }},
    };
    for (const auto& row : files) {
        SCOPED_TRACE(row.name);
        const daq::test::TempDir directory;
        const std::string socketPath = directory.file("viewer.sock");
        const std::string path = daq::viewerGenerationPath(socketPath);
        if (!row.make(path)) {
            continue;  // only root can give a file away
        }
        daq::test::pointTraceChannelAt(socketPath);
        const std::string before = fs::is_regular_file(path) ? readFile(path) : "";
        daq::trace(daq::kTraceInfo, "nobody listens");
        daq::flushTraceQueue();  // found nobody: only the directory tells of the viewer
        TraceCapture viewer(socketPath);
        daq::trace(daq::kTraceInfo, "found");
        EXPECT_EQ(heard(viewer), Texts{"found"});
        EXPECT_FALSE(daq::announceViewer(socketPath));
        EXPECT_EQ(fs::is_regular_file(path) ? readFile(path) : "", before);
    }
}

}  // namespace
