// The trace channel against a real datagram socket standing in for the viewer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <barrier>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/TraceReceiver.h"
#include "trace/Trace.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A message as the viewer receives it: with its terminating zero.
std::string datagram(const std::string& message) {
    return message + '\0';
}

class TraceChannelTest : public ::testing::Test {
  protected:
    TraceSocketDirectory directory;
};

// What the viewer receives for what is traced: the location goes with the next message only,
// names are cut to their fields, and a long text is cut on a character boundary, the suffix
// overwriting its end.
TEST_F(TraceChannelTest, MessagesCarryTheirLocationAndAreCutToTheLimits) {
    const std::string longName(300, 'f');
    const std::string full(daq::kTraceMessageLimit, 'a');
    // "é" is two bytes; after the odd first byte the limit falls inside one.
    std::string accented = "x";
    for (std::size_t i = 0; i < daq::kTraceMessageLimit / 2 + 10; ++i) {
        accented += "\xc3\xa9";
    }
    const std::string shortSuffix = locationSuffix(0, 4, "f", "g");
    const int macroLine = __LINE__ + 17;  // the DAQ_TRACE line below
    struct Row {
        const char* what;
        std::function<void()> send;
        std::vector<std::string> received;
    };
    const Row rows[] = {
        {"location once",
         [] {
             daq::setTraceLocation(522, "SetDAQRun", "FormTray");
             daq::trace(daq::kTraceError, "ReadMap fail! : IONum=%d", 0);
             daq::trace(daq::kTraceInfo, "%s", "no location | bars kept");
         },
         {"ReadMap fail! : IONum=0" + locationSuffix(2, 522, "SetDAQRun", "FormTray"),
          "no location | bars kept"}},
        {"macro",
         [] {
             DAQ_TRACE(daq::kTraceError, "open_Server", "FormTray", "active error [%s]", "busy");
         },
         {"active error [busy]" + locationSuffix(2, macroLine, "open_Server", "FormTray")}},
        {"line 0 is no location",
         [] {
             daq::setTraceLocation(0, "ignored", "ignored");
             daq::trace(daq::kTraceInfo, "bare");
         },
         {"bare"}},
        {"long names",
         [&] {
             daq::setTraceLocation(7, longName.c_str(), std::string(250, 'F').c_str());
             daq::trace(daq::kTraceInfo, "x");
         },
         {"x" + locationSuffix(0, 7, std::string(daq::kTraceNameLimit, 'f'),
                               std::string(daq::kTraceNameLimit, 'F'))}},
        {"long texts",
         [&] {
             daq::trace(daq::kTraceInfo, "%s", (full + std::string(5000, 'a')).c_str());
             daq::trace(daq::kTraceInfo, "%s", accented.c_str());
             daq::setTraceLocation(4, "f", "g");
             daq::trace(daq::kTraceInfo, "%s", accented.c_str());
         },
         // 1 + 2n bytes of text before the suffix, as many as fit.
         {full, accented.substr(0, daq::kTraceMessageLimit - 1),
          accented.substr(0, (daq::kTraceMessageLimit - shortSuffix.size() - 1) / 2 * 2 + 1) +
              shortSuffix}},
    };
    TraceReceiver viewer(directory.socketPath());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.send();
        for (const std::string& message : row.received) {
            EXPECT_EQ(viewer.next(), datagram(message));
        }
    }
}

// A viewer that cannot keep up loses messages, but the caller neither waits nor sees errno
// change, and the viewer is kept.
TEST_F(TraceChannelTest, FullViewerNeitherBlocksCallersNorChangesTheirErrno) {
    errno = EILSEQ;
    daq::trace(daq::kTraceInfo, "no viewer");
    EXPECT_EQ(errno, EILSEQ);
    TraceReceiver viewer(directory.socketPath());
    viewer.setReceiveBuffer(1);
    constexpr int kMessages = 1000;
    auto sending = std::async(std::launch::async, [] {
        int changed = 0;
        for (int i = 0; i < kMessages; ++i) {
            errno = EILSEQ;
            daq::setTraceLocation(i + 1, "f", "g");
            daq::trace(daq::kTraceInfo, "flood %d", i);
            changed += errno == EILSEQ ? 0 : 1;
        }
        return changed;
    });
    ASSERT_EQ(sending.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(sending.get(), 0);
    // Once the viewer reads again the channel goes on (what it could not take is counted by the
    // sender, see TraceSenderTest).
    daq::trace(daq::kTraceInfo, "after the flood");
    std::optional<std::string> last;
    while (auto message = viewer.next(500ms)) {
        last = std::move(message);
        if (last->starts_with("after the flood")) {
            break;
        }
    }
    EXPECT_EQ(last, datagram("after the flood"));
}

// Threads that set their locations at the same time and then trace: each message arrives whole
// with its own thread's location.
TEST_F(TraceChannelTest, ConcurrentTracesArriveWholeWithTheirThreadsLocation) {
    TraceReceiver viewer(directory.socketPath());
    constexpr int kThreads = 4;
    constexpr int kPerThread = 50;
    std::barrier located(kThreads);
    std::vector<std::thread> tracers;
    for (int t = 0; t < kThreads; ++t) {
        tracers.emplace_back([t, &located] {
            const std::string name = "op" + std::to_string(t);
            for (int i = 0; i < kPerThread; ++i) {
                daq::setTraceLocation(t + 1, name.c_str(), "FormTray");
                located.arrive_and_wait();
                daq::trace(daq::kTraceInfo, "%d:%d", t, i);
            }
        });
    }
    for (std::thread& tracer : tracers) {
        tracer.join();
    }
    int received = 0;
    for (; const std::optional<std::string> message = viewer.next(200ms); ++received) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(message->c_str(), "%d:%d", &t, &i), 2) << *message;
        EXPECT_EQ(*message,
                  datagram(std::to_string(t) + ":" + std::to_string(i) +
                           locationSuffix(0, t + 1, "op" + std::to_string(t), "FormTray")));
    }
    EXPECT_GT(received, 0);
}

constexpr uid_t kNobody = 65534;

std::string giveAway(const std::string& path) {
    if (geteuid() == kNobody || chown(path.c_str(), kNobody, kNobody) != 0) {
        return {};
    }
    return path;
}

// Places another user could have bound before the viewer, or could bind in: the channel sends
// nothing there, though a socket listens.
TEST(TraceChannelRefusedPlace, GetsNoMessage) {
    const struct {
        const char* name;
        // Turns a fresh private directory into the place; gives the socket path to trace to, or
        // nothing when the place cannot be made here.
        std::function<std::string(const std::string& directory)> make;
        bool foreignSocket = false;  // the socket, once bound, is given to another user
    } places[] = {
        {"directory anyone can write (as /tmp is)",
         [](const std::string& directory) {
             fs::permissions(directory, fs::perms::all | fs::perms::sticky_bit);
             return directory + "/viewer.sock";
         }},
        {"directory the group can write",
         [](const std::string& directory) {
             fs::permissions(directory, fs::perms::owner_all | fs::perms::group_all);
             return directory + "/viewer.sock";
         }},
        {"symbolic link to a directory",
         [](const std::string& directory) {
             fs::create_directory_symlink(directory, directory + "/link");
             return directory + "/link/viewer.sock";
         }},
        {"directory of another user",
         [](const std::string& directory) {
             return giveAway(directory).empty() ? "" : directory + "/viewer.sock";
         }},
        {"socket of another user",
         [](const std::string& directory) { return directory + "/viewer.sock"; }, true},
    };
    std::string skipped;
    for (const auto& place : places) {
        SCOPED_TRACE(place.name);
        const TraceSocketDirectory directory;
        const std::string socketPath =
            place.make(fs::path(directory.socketPath()).parent_path().string());
        setenv("KELVANE_TRACE_SOCKET", socketPath.c_str(), 1);
        daq::traceReloadSocketPath();
        TraceReceiver viewer(socketPath.empty() ? directory.socketPath() : socketPath);
        if (socketPath.empty() || (place.foreignSocket && giveAway(socketPath).empty())) {
            skipped += std::string(" ") + place.name;
            continue;
        }
        daq::trace(daq::kTraceInfo, "refused");
        EXPECT_EQ(viewer.next(20ms), std::nullopt);
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << "cannot give a file to another user here:" << skipped;
    }
}

TEST(TraceChannelDefault, SocketIsInADirectoryOnlyThisUserCanWrite) {
    const std::string directory = "/tmp/kelvane-trace-" + std::to_string(geteuid());
    unsetenv("KELVANE_TRACE_SOCKET");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = runtime != nullptr ? runtime : "";
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(daq::traceSocketPath(), directory + "/trace.sock");
    daq::traceReloadSocketPath();
    daq::trace(daq::kTraceInfo, "makes the directory");
    if (!savedRuntime.empty()) {
        setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    }

    struct stat status {};
    ASSERT_EQ(lstat(directory.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_uid, geteuid());
    EXPECT_EQ(status.st_mode & 07777, 0700u);
}

}  // namespace
