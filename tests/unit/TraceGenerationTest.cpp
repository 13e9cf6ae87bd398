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
#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/TraceReceiver.h"
#include "trace/Trace.h"
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

TEST_F(TraceGenerationTest, ChannelCreatesAPrivateFileAndWaitsOnItsCounter) {
    daq::trace(daq::kTraceInfo, "nobody listens");

    EXPECT_EQ(fs::symlink_status(generationPath).type(), fs::file_type::regular);
    EXPECT_EQ(fs::status(generationPath).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readFile(generationPath), generationBytes(daq::kViewerGenerationMark, 0));
    // No temporary file is left beside it.
    EXPECT_EQ(entriesBesideTheSocket(), 1u);

    TraceReceiver viewer(directory.socketPath(), TraceReceiver::Announce::Never);
    // Waiting on the counter costs no system call, so a bound socket alone goes unnoticed.
    daq::trace(daq::kTraceInfo, "bound, not announced");
    ASSERT_TRUE(daq::announceViewer(directory.socketPath()));
    EXPECT_EQ(readFile(generationPath), generationBytes(daq::kViewerGenerationMark, 1));
    daq::trace(daq::kTraceInfo, "found");

    EXPECT_EQ(viewer.next(), datagram("found"));
    EXPECT_EQ(viewer.next(20ms), std::nullopt);
}

TEST_F(TraceGenerationTest, EachRestartedViewerGetsTheNextMessage) {
    for (const std::string round : {"first", "second"}) {
        daq::trace(daq::kTraceInfo, "lost before the %s start", round.c_str());
        TraceReceiver viewer(directory.socketPath());
        daq::trace(daq::kTraceInfo, "%s", round.c_str());
        EXPECT_EQ(viewer.next(), datagram(round));
        EXPECT_EQ(viewer.next(20ms), std::nullopt);
    }
    EXPECT_EQ(readFile(generationPath), generationBytes(daq::kViewerGenerationMark, 2));
}

TEST_F(TraceGenerationTest, ViewerCreatesAPrivateFileAndCountsEachViewer) {
    // A socket the channel does not send to, so that the viewer finds no file.
    const std::string socketPath = directory.socketPath() + "-other";
    const std::string path = daq::viewerGenerationPath(socketPath);
    ASSERT_FALSE(fs::exists(path));

    ASSERT_TRUE(daq::announceViewer(socketPath));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readFile(path), generationBytes(daq::kViewerGenerationMark, 1));

    ASSERT_TRUE(daq::announceViewer(socketPath));
    EXPECT_EQ(readFile(path), generationBytes(daq::kViewerGenerationMark, 2));
    // The channel's file and this one; no temporary file.
    EXPECT_EQ(entriesBesideTheSocket(), 2u);
}

TEST_F(TraceGenerationTest, RemovedFileIsMadeAnewOrFoundWithinTheCheckInterval) {
    daq::trace(daq::kTraceInfo, "nobody listens");
    // Removed (by a cleaner of old files, say) while nobody comes: the channel makes it again.
    fs::remove(generationPath);
    for (unsigned i = 0; i < daq::kTraceGenerationFileCheckInterval; ++i) {
        daq::trace(daq::kTraceInfo, "nobody yet");
    }
    EXPECT_EQ(readFile(generationPath), generationBytes(daq::kViewerGenerationMark, 0));

    // Removed, and created anew by the next viewer.
    fs::remove(generationPath);
    TraceReceiver viewer(directory.socketPath());
    ASSERT_TRUE(viewer.announced());
    for (unsigned i = 0; i < daq::kTraceGenerationFileCheckInterval; ++i) {
        daq::trace(daq::kTraceInfo, "probe");
    }
    EXPECT_EQ(viewer.next(), datagram("probe"));
}

// The channel cannot write the file, and neither can the viewer: it watches the directory.
TEST_F(TraceGenerationTest, ViewerIsFoundThroughTheDirectoryWhenNoFileCanBeWritten) {
    fs::remove(generationPath);
    const FileWritesFail noWrites;
    daq::traceReloadSocketPath();
    daq::trace(daq::kTraceInfo, "nobody listens");
    EXPECT_EQ(entriesBesideTheSocket(), 0u);

    TraceReceiver viewer(directory.socketPath());
    EXPECT_FALSE(viewer.announced());
    daq::trace(daq::kTraceInfo, "found");
    EXPECT_EQ(viewer.next(), datagram("found"));
    EXPECT_FALSE(fs::exists(generationPath));
}

// The socket's directory does not exist yet: the channel can neither make the file nor watch the
// directory, so it tries each message until the directory comes; then it makes the file and
// waits on its counter.
TEST_F(TraceGenerationTest, DirectoryMadeLaterIsFoundAndItsFileUsed) {
    const fs::path later = fs::path(directory.socketPath()).parent_path() / "later";
    const std::string socketPath = (later / "viewer.sock").string();
    setenv("KELVANE_TRACE_SOCKET", socketPath.c_str(), 1);
    daq::traceReloadSocketPath();
    daq::trace(daq::kTraceInfo, "nobody listens");
    daq::trace(daq::kTraceInfo, "still nobody");

    fs::create_directory(later);
    {
        TraceReceiver viewer(socketPath, TraceReceiver::Announce::Never);
        daq::trace(daq::kTraceInfo, "found");
        EXPECT_EQ(viewer.next(), datagram("found"));
    }
    EXPECT_EQ(readFile(daq::viewerGenerationPath(socketPath)),
              generationBytes(daq::kViewerGenerationMark, 0));

    daq::trace(daq::kTraceInfo, "nobody again");
    TraceReceiver unannounced(socketPath, TraceReceiver::Announce::Never);
    daq::trace(daq::kTraceInfo, "waiting on the counter");
    ASSERT_TRUE(daq::announceViewer(socketPath));
    daq::trace(daq::kTraceInfo, "found again");
    EXPECT_EQ(unannounced.next(), datagram("found again"));
}

// A file at the generation path that the channel must not use: it keeps watching the directory,
// and a viewer cannot announce itself in it either.
struct UnusableFile {
    const char* name;
    // False when the file cannot be made here.
    std::function<bool(const std::string& path)> make;
};

void PrintTo(const UnusableFile& file, std::ostream* out) {
    *out << file.name;
}

class UnusableGenerationFileTest : public TraceGenerationTest,
                                   public ::testing::WithParamInterface<UnusableFile> {};

TEST_P(UnusableGenerationFileTest, ChannelWatchesTheDirectoryInstead) {
    // In place of the file that the channel made when pointed here.
    fs::remove(generationPath);
    if (!GetParam().make(generationPath)) {
        GTEST_SKIP() << "cannot make this file here";
    }
    daq::traceReloadSocketPath();
    const std::string before = fs::is_regular_file(generationPath) ? readFile(generationPath) : "";

    daq::trace(daq::kTraceInfo, "nobody listens");
    TraceReceiver viewer(directory.socketPath());
    daq::trace(daq::kTraceInfo, "found");
    EXPECT_EQ(viewer.next(), datagram("found"));

    EXPECT_FALSE(daq::announceViewer(directory.socketPath()));
    if (fs::is_regular_file(generationPath)) {
        EXPECT_EQ(readFile(generationPath), before);
    }
}

constexpr fs::perms kPrivate = fs::perms::owner_read | fs::perms::owner_write;

constexpr uid_t kNobody = 65534;

// A generation file with `bytes` and `permissions`, or, with `owner`, one given to that user.
std::function<bool(const std::string&)> file(std::string bytes, fs::perms permissions = kPrivate,
                                             uid_t owner = 0) {
    return [=](const std::string& path) {
        writeFile(path, bytes, permissions);
        return owner == 0 || (geteuid() != owner && chown(path.c_str(), owner, owner) == 0);
    };
}

const std::string kValid = generationBytes(daq::kViewerGenerationMark, 0);

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableGenerationFileTest,
    ::testing::Values(
        UnusableFile{"empty", file("")}, UnusableFile{"truncated", file(kValid.substr(0, 4))},
        UnusableFile{"garbage", file(std::string(daq::kViewerGenerationFileSize, '\xa5'))},
        UnusableFile{"oversized", file(kValid + "extra")},
        UnusableFile{"writable_by_others", file(kValid, kPrivate | fs::perms::others_write)},
        UnusableFile{"of_another_user", file(kValid, kPrivate, kNobody)},
        UnusableFile{"symbolic_link",
                     [](const std::string& path) {
                         writeFile(path + "-target", kValid, kPrivate);
                         fs::create_symlink(path + "-target", path);
                         return true;
                     }},
        UnusableFile{"FIFO",
                     [](const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }},
        UnusableFile{"directory",
                     [](const std::string& path) { return fs::create_directory(path); }}),
    [](const ::testing::TestParamInfo<UnusableFile>& info) { return info.param.name; });

}  // namespace
