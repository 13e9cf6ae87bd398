// The trace channel waiting on the viewer generation file, against real datagram sockets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

#include "tests/unit/trace_receiver.h"
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
    std::string bytes(kViewerGenerationFileSize, '\0');
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
    // A viewer that ran here before and left its generation file; the channel starts afresh.
    void viewerRanBefore() {
        {
            TraceReceiver earlier(directory.socketPath());
            ASSERT_TRUE(announceViewer(directory.socketPath()));
        }
        traceReloadSocketPath();
    }

    TraceSocketDirectory directory;
    const std::string generationPath = viewerGenerationPath(directory.socketPath());
};

TEST_F(TraceGenerationTest, ViewerAnnouncedAfterTheFirstMessageGetsTheNext) {
    viewerRanBefore();
    trace(kTraceInfo, "nobody listens");

    TraceReceiver viewer(directory.socketPath());
    // Waiting on the counter costs no system call, so a bound socket alone goes unnoticed.
    trace(kTraceInfo, "bound, not announced");
    ASSERT_TRUE(announceViewer(directory.socketPath()));
    trace(kTraceInfo, "found");

    EXPECT_EQ(viewer.next(), datagram("found"));
    EXPECT_EQ(viewer.next(100ms), std::nullopt);
}

TEST_F(TraceGenerationTest, EachRestartedViewerGetsTheNextMessage) {
    viewerRanBefore();
    for (const std::string round : {"first", "second"}) {
        trace(kTraceInfo, "lost before the %s restart", round.c_str());
        TraceReceiver viewer(directory.socketPath());
        ASSERT_TRUE(announceViewer(directory.socketPath()));
        trace(kTraceInfo, "%s", round.c_str());
        EXPECT_EQ(viewer.next(), datagram(round));
        EXPECT_EQ(viewer.next(100ms), std::nullopt);
    }

    // Restarted between two messages: the next one reaches the new viewer.
    auto leaving = std::make_unique<TraceReceiver>(directory.socketPath());
    ASSERT_TRUE(announceViewer(directory.socketPath()));
    trace(kTraceInfo, "to the one leaving");
    ASSERT_EQ(leaving->next(), datagram("to the one leaving"));
    leaving.reset();
    TraceReceiver coming(directory.socketPath());
    ASSERT_TRUE(announceViewer(directory.socketPath()));
    trace(kTraceInfo, "to the one coming");
    EXPECT_EQ(coming.next(), datagram("to the one coming"));
}

// The first viewer made no file; the next one counts itself in a new file after a send has found
// nobody and before the channel first maps the file (emulated by counting before binding).
TEST_F(TraceGenerationTest, ViewerCountedBeforeTheFileIsMappedIsFound) {
    auto first = std::make_unique<TraceReceiver>(directory.socketPath());
    trace(kTraceInfo, "to the first");
    ASSERT_EQ(first->next(), datagram("to the first"));
    first.reset();

    ASSERT_TRUE(announceViewer(directory.socketPath()));
    trace(kTraceInfo, "nobody listens");
    TraceReceiver second(directory.socketPath());
    trace(kTraceInfo, "to the second");
    EXPECT_EQ(second.next(), datagram("to the second"));
}

TEST_F(TraceGenerationTest, ChannelCreatesNoFile) {
    for (int i = 0; i < 3; ++i) {
        trace(kTraceInfo, "nobody listens %d", i);
    }
    {
        TraceReceiver unannounced(directory.socketPath());
        trace(kTraceInfo, "to a viewer that does not announce itself");
        EXPECT_TRUE(unannounced.next().has_value());
    }
    trace(kTraceInfo, "nobody again");

    const fs::path folder = fs::path(directory.socketPath()).parent_path();
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(TraceGenerationTest, AnnouncingCreatesAPrivateFileAndCountsEachViewer) {
    ASSERT_TRUE(announceViewer(directory.socketPath()));
    EXPECT_EQ(fs::status(generationPath).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readFile(generationPath), generationBytes(kViewerGenerationMark, 1));

    ASSERT_TRUE(announceViewer(directory.socketPath()));
    EXPECT_EQ(readFile(generationPath), generationBytes(kViewerGenerationMark, 2));
    // No temporary file is left beside it.
    const fs::path folder = fs::path(directory.socketPath()).parent_path();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(TraceGenerationTest, ReplacedFileIsFoundWithinTheCheckInterval) {
    viewerRanBefore();
    trace(kTraceInfo, "nobody listens");
    // Removed (by a cleaner of old files, say) and created anew by the next viewer.
    fs::remove(generationPath);
    TraceReceiver viewer(directory.socketPath());
    ASSERT_TRUE(announceViewer(directory.socketPath()));

    for (unsigned i = 0; i < kTraceGenerationFileCheckInterval; ++i) {
        trace(kTraceInfo, "probe");
    }
    EXPECT_EQ(viewer.next(), datagram("probe"));
}

// A file at the generation path that the channel must not use: it keeps watching the directory,
// and a viewer cannot announce itself in it either.
struct UnusableFile {
    const char* name;
    std::function<void(const std::string& path)> make;
};

void PrintTo(const UnusableFile& file, std::ostream* out) {
    *out << file.name;
}

class UnusableGenerationFileTest : public TraceGenerationTest,
                                   public ::testing::WithParamInterface<UnusableFile> {};

TEST_P(UnusableGenerationFileTest, ChannelWatchesTheDirectoryInstead) {
    GetParam().make(generationPath);
    traceReloadSocketPath();
    const std::string before = fs::is_regular_file(generationPath) ? readFile(generationPath) : "";

    trace(kTraceInfo, "nobody listens");
    TraceReceiver viewer(directory.socketPath());
    trace(kTraceInfo, "found");
    EXPECT_EQ(viewer.next(), datagram("found"));

    EXPECT_FALSE(announceViewer(directory.socketPath()));
    if (fs::is_regular_file(generationPath)) {
        EXPECT_EQ(readFile(generationPath), before);
    }
}

constexpr fs::perms kPrivate = fs::perms::owner_read | fs::perms::owner_write;

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableGenerationFileTest,
    ::testing::Values(
        UnusableFile{"empty", [](const std::string& path) { writeFile(path, "", kPrivate); }},
        UnusableFile{"truncated",
                     [](const std::string& path) {
                         writeFile(path, generationBytes(kViewerGenerationMark, 0).substr(0, 4),
                                   kPrivate);
                     }},
        UnusableFile{"garbage",
                     [](const std::string& path) {
                         writeFile(path, std::string(kViewerGenerationFileSize, '\xa5'), kPrivate);
                     }},
        UnusableFile{"oversized",
                     [](const std::string& path) {
                         writeFile(path, generationBytes(kViewerGenerationMark, 0) + "extra",
                                   kPrivate);
                     }},
        UnusableFile{"writable by others",
                     [](const std::string& path) {
                         writeFile(path, generationBytes(kViewerGenerationMark, 0),
                                   kPrivate | fs::perms::others_write);
                     }},
        UnusableFile{"symbolic link",
                     [](const std::string& path) {
                         writeFile(path + "-target", generationBytes(kViewerGenerationMark, 0),
                                   kPrivate);
                         fs::create_symlink(path + "-target", path);
                     }},
        UnusableFile{"FIFO",
                     [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
        UnusableFile{"directory", [](const std::string& path) { fs::create_directory(path); }}),
    [](const ::testing::TestParamInfo<UnusableFile>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(TraceGenerationTest, FileOfAnotherUserIsNotUsed) {
    writeFile(generationPath, generationBytes(kViewerGenerationMark, 0), kPrivate);
    constexpr uid_t kNobody = 65534;
    if (geteuid() == kNobody || chown(generationPath.c_str(), kNobody, kNobody) != 0) {
        GTEST_SKIP() << "cannot give the file to another user here";
    }
    traceReloadSocketPath();

    trace(kTraceInfo, "nobody listens");
    TraceReceiver viewer(directory.socketPath());
    trace(kTraceInfo, "found");
    EXPECT_EQ(viewer.next(), datagram("found"));
    EXPECT_FALSE(announceViewer(directory.socketPath()));
}

}  // namespace
