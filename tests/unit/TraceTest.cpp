// The trace channel against a real datagram socket standing in for the viewer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <latch>
#include <ostream>
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

TEST_F(TraceChannelTest, LocationIsSentOnceWithTheNextMessage) {
    TraceReceiver viewer(directory.socketPath());

    daq::setTraceLocation(522, "SetDAQRun", "FormTray");
    daq::trace(daq::kTraceError, "TCPIP Server ReadMap fail! : IONum=%d", 0);
    daq::trace(daq::kTraceInfo, "daqlist map : %d", 3);
    daq::setTraceLocation(0, "ignored", "ignored");
    daq::trace(daq::kTraceInfo, "%s", "no location | bars kept");

    EXPECT_EQ(viewer.next(), datagram("TCPIP Server ReadMap fail! : IONum=0" +
                                      locationSuffix(2, 522, "SetDAQRun", "FormTray")));
    EXPECT_EQ(viewer.next(), datagram("daqlist map : 3"));
    EXPECT_EQ(viewer.next(), datagram("no location | bars kept"));
}

TEST_F(TraceChannelTest, MacroReportsItsOwnLine) {
    TraceReceiver viewer(directory.socketPath());

    const int line = __LINE__ + 1;
    DAQ_TRACE(daq::kTraceError, "open_Server", "FormTray", "TCP/IP Server : active error [%s]",
              "busy");

    EXPECT_EQ(viewer.next(), datagram("TCP/IP Server : active error [busy]" +
                                      locationSuffix(2, line, "open_Server", "FormTray")));
}

TEST_F(TraceChannelTest, LongNamesAreCutToTheirFields) {
    TraceReceiver viewer(directory.socketPath());
    const std::string function(300, 'f');
    const std::string file(250, 'F');

    daq::setTraceLocation(7, function.c_str(), file.c_str());
    daq::trace(daq::kTraceInfo, "x");

    EXPECT_EQ(viewer.next(),
              datagram("x" + locationSuffix(0, 7, std::string(daq::kTraceNameLimit, 'f'),
                                            std::string(daq::kTraceNameLimit, 'F'))));
}

TEST_F(TraceChannelTest, SuffixOverwritesTheEndOfATextAtTheLimit) {
    TraceReceiver viewer(directory.socketPath());
    const std::string text(daq::kTraceMessageLimit, 'a');
    const std::string location = locationSuffix(2, 9, "IdTCPServer1Execute", "FormTray");

    daq::setTraceLocation(9, "IdTCPServer1Execute", "FormTray");
    daq::trace(daq::kTraceError, "%s", text.c_str());

    const std::string expected(daq::kTraceMessageLimit - location.size(), 'a');
    EXPECT_EQ(viewer.next(), datagram(expected + location));
}

TEST_F(TraceChannelTest, LongTextsAreCutOnACharacterBoundary) {
    TraceReceiver viewer(directory.socketPath());
    const std::string ascii(daq::kTraceMessageLimit + 5000, 'b');
    // "é" is two bytes; after the odd first byte the limit falls inside one.
    std::string accented = "x";
    for (std::size_t i = 0; i < daq::kTraceMessageLimit / 2 + 10; ++i) {
        accented += "\xc3\xa9";
    }

    daq::trace(daq::kTraceInfo, "%s", ascii.c_str());
    daq::trace(daq::kTraceInfo, "%s", accented.c_str());
    daq::setTraceLocation(4, "f", "g");
    daq::trace(daq::kTraceInfo, "%s", accented.c_str());

    EXPECT_EQ(viewer.next(), datagram(std::string(daq::kTraceMessageLimit, 'b')));
    EXPECT_EQ(viewer.next(), datagram(accented.substr(0, daq::kTraceMessageLimit - 1)));
    const std::string location = locationSuffix(0, 4, "f", "g");
    // 1 + 2n bytes of text before the suffix, as many as fit.
    const std::size_t textBytes = (daq::kTraceMessageLimit - location.size() - 1) / 2 * 2 + 1;
    EXPECT_EQ(viewer.next(), datagram(accented.substr(0, textBytes) + location));
}

TEST_F(TraceChannelTest, ViewerStartedLaterGetsTheNextMessage) {
    daq::trace(daq::kTraceInfo, "nobody listens");
    daq::trace(daq::kTraceInfo, "still nobody");

    TraceReceiver viewer(directory.socketPath());
    daq::trace(daq::kTraceInfo, "found");

    EXPECT_EQ(viewer.next(), datagram("found"));
    EXPECT_EQ(viewer.next(100ms), std::nullopt);
}

TEST_F(TraceChannelTest, RestartedViewerGetsTheNextMessage) {
    auto first = std::make_unique<TraceReceiver>(directory.socketPath());
    daq::trace(daq::kTraceInfo, "one");
    ASSERT_EQ(first->next(), datagram("one"));

    // Restarted at once: the next message reaches the new viewer.
    first.reset();
    TraceReceiver second(directory.socketPath());
    daq::trace(daq::kTraceInfo, "two");
    ASSERT_EQ(second.next(), datagram("two"));

    // Killed, leaving its socket file; the replacement removes the file and binds again.
    second.close(false);
    daq::trace(daq::kTraceInfo, "lost");
    unlink(directory.socketPath().c_str());
    TraceReceiver third(directory.socketPath());
    daq::trace(daq::kTraceInfo, "three");
    EXPECT_EQ(third.next(), datagram("three"));
    EXPECT_EQ(third.next(100ms), std::nullopt);
}

TEST_F(TraceChannelTest, FullViewerDropsMessagesWithoutBlockingAndIsKept) {
    TraceReceiver viewer(directory.socketPath());
    viewer.setReceiveBuffer(1);
    constexpr int kMessages = 1000;

    auto sending = std::async(std::launch::async, [] {
        for (int i = 0; i < kMessages; ++i) {
            daq::trace(daq::kTraceInfo, "flood %d", i);
        }
    });
    ASSERT_EQ(sending.wait_for(10s), std::future_status::ready);

    int received = 0;
    while (received <= kMessages && viewer.next(100ms)) {
        ++received;
    }
    EXPECT_GT(received, 0);
    EXPECT_LT(received, kMessages);

    daq::trace(daq::kTraceInfo, "after the flood");
    EXPECT_EQ(viewer.next(), datagram("after the flood"));
}

TEST_F(TraceChannelTest, CallerErrnoIsKept) {
    errno = EILSEQ;
    daq::trace(daq::kTraceInfo, "no viewer");
    EXPECT_EQ(errno, EILSEQ);

    TraceReceiver viewer(directory.socketPath());
    viewer.setReceiveBuffer(1);
    // Enough to fill the viewer's queue, so the last sends fail with EAGAIN.
    for (int i = 0; i < 100; ++i) {
        errno = EILSEQ;
        daq::setTraceLocation(i + 1, "f", "g");
        daq::trace(daq::kTraceInfo, "message %d", i);
        ASSERT_EQ(errno, EILSEQ) << "message " << i;
    }
    EXPECT_TRUE(viewer.next().has_value());
}

TEST_F(TraceChannelTest, EachThreadSendsItsOwnLocation) {
    TraceReceiver viewer(directory.socketPath());
    std::latch bothLocated(2);
    auto tracer = [&](int id) {
        const std::string name = "op" + std::to_string(id);
        daq::setTraceLocation(100 + id, name.c_str(), "FormTray");
        bothLocated.arrive_and_wait();
        daq::trace(daq::kTraceInfo, "thread %d", id);
    };
    std::thread first(tracer, 1);
    std::thread second(tracer, 2);
    first.join();
    second.join();

    std::vector<std::string> messages;
    for (int i = 0; i < 2; ++i) {
        messages.push_back(viewer.next().value_or(""));
    }
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages[0], datagram("thread 1" + locationSuffix(0, 101, "op1", "FormTray")));
    EXPECT_EQ(messages[1], datagram("thread 2" + locationSuffix(0, 102, "op2", "FormTray")));
}

TEST_F(TraceChannelTest, ConcurrentTracesArriveWhole) {
    TraceReceiver viewer(directory.socketPath());
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    std::vector<std::thread> tracers;
    for (int t = 0; t < kThreads; ++t) {
        tracers.emplace_back([t] {
            const std::string name = "op" + std::to_string(t);
            for (int i = 0; i < kPerThread; ++i) {
                daq::setTraceLocation(t + 1, name.c_str(), "FormTray");
                daq::trace(daq::kTraceInfo, "%d:%d", t, i);
            }
        });
    }

    int received = 0;
    while (received < kThreads * kPerThread) {
        const std::optional<std::string> message = viewer.next(200ms);
        if (!message) {
            break;
        }
        ++received;
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(message->c_str(), "%d:%d", &t, &i), 2) << *message;
        EXPECT_EQ(*message,
                  datagram(std::to_string(t) + ":" + std::to_string(i) +
                           locationSuffix(0, t + 1, "op" + std::to_string(t), "FormTray")));
    }
    for (std::thread& tracer : tracers) {
        tracer.join();
    }
    EXPECT_GT(received, 0);
}

}  // namespace

// Places another user could have bound before the viewer, or could bind in: the channel sends
// nothing there, though a socket listens.
struct RefusedPlace {
    const char* name;
    // Turns a fresh private directory into the place; gives the socket path to trace to.
    std::function<std::string(const std::string& directory)> make;
    bool foreignSocket = false;  // the socket, once bound, is given to another user
};

void PrintTo(const RefusedPlace& place, std::ostream* out) {
    *out << place.name;
}

constexpr uid_t kNobody = 65534;

std::string giveAway(const std::string& path) {
    if (geteuid() == kNobody || chown(path.c_str(), kNobody, kNobody) != 0) {
        return {};
    }
    return path;
}

class RefusedPlaceTest : public TraceChannelTest,
                         public ::testing::WithParamInterface<RefusedPlace> {};

TEST_P(RefusedPlaceTest, GetsNoMessage) {
    const std::string directoryPath = fs::path(directory.socketPath()).parent_path();
    const std::string socketPath = GetParam().make(directoryPath);
    if (socketPath.empty()) {
        GTEST_SKIP() << "cannot give a file to another user here";
    }
    setenv("KELVANE_TRACE_SOCKET", socketPath.c_str(), 1);
    daq::traceReloadSocketPath();
    TraceReceiver viewer(socketPath);
    if (GetParam().foreignSocket && giveAway(socketPath).empty()) {
        GTEST_SKIP() << "cannot give a file to another user here";
    }

    daq::trace(daq::kTraceInfo, "refused");
    EXPECT_EQ(viewer.next(100ms), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Places, RefusedPlaceTest,
    ::testing::Values(
        // As /tmp is.
        RefusedPlace{"directory_anyone_can_write",
                     [](const std::string& directory) {
                         fs::permissions(directory, fs::perms::all | fs::perms::sticky_bit);
                         return directory + "/viewer.sock";
                     }},
        RefusedPlace{"directory_the_group_can_write",
                     [](const std::string& directory) {
                         fs::permissions(directory, fs::perms::owner_all | fs::perms::group_all);
                         return directory + "/viewer.sock";
                     }},
        RefusedPlace{"symbolic_link_to_a_directory",
                     [](const std::string& directory) {
                         fs::create_directory_symlink(directory, directory + "/link");
                         return directory + "/link/viewer.sock";
                     }},
        RefusedPlace{"directory_of_another_user",
                     [](const std::string& directory) {
                         return giveAway(directory).empty() ? "" : directory + "/viewer.sock";
                     }},
        RefusedPlace{"socket_of_another_user",
                     [](const std::string& directory) { return directory + "/viewer.sock"; },
                     true}),
    [](const ::testing::TestParamInfo<RefusedPlace>& info) { return info.param.name; });

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
