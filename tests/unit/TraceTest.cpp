// The trace channel against a real datagram socket standing in for the viewer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/TraceCapture.h"
#include "trace/Trace.h"
#include "trace/TraceTransport.h"

namespace {

namespace fs = std::filesystem;
using daq::test::locationSuffix;
using daq::test::TraceCapture;

// The messages as the viewer received them, without their terminating zeros (checked here).
std::vector<std::string> received(TraceCapture& viewer) {
    std::vector<std::string> messages;
    for (const auto& line : viewer.take()) {
        EXPECT_EQ(line.datagram.find('\0'), line.datagram.size() - 1) << line.datagram;
        messages.push_back(line.datagram.substr(0, line.datagram.size() - 1));
    }
    return messages;
}

// What the viewer receives for what is traced: the location goes with the next message only,
// names are cut to their fields, and a long text is cut on a character boundary, the suffix
// overwriting its end.
TEST(TraceChannel, MessagesCarryTheirLocationAndAreCutToTheLimits) {
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
    TraceCapture viewer;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.send();
        EXPECT_EQ(received(viewer), row.received);
    }
}

// Gives the file to another user; false when that cannot be done here.
bool giveAway(const fs::path& path) {
    constexpr uid_t kNobody = 65534;
    return geteuid() != kNobody && chown(path.c_str(), kNobody, kNobody) == 0;
}

// Places another user could have bound before the viewer, or could bind in: the channel sends
// nothing there, though a socket listens.
TEST(TraceChannelRefusedPlace, GetsNoMessage) {
    constexpr fs::perms kPrivate = fs::perms::owner_all;
    const struct {
        const char* name;
        fs::perms directory;
        bool link = false;              // the socket path goes through a link to the directory
        bool foreignDirectory = false;  // the directory is given to another user
        bool foreignSocket = false;     // the socket, once bound, is given to another user
    } places[] = {
        {"directory anyone can write (as /tmp is)", fs::perms::all | fs::perms::sticky_bit},
        {"directory the group can write", kPrivate | fs::perms::group_all},
        {"symbolic link to a directory", kPrivate, true},
        {"directory of another user", kPrivate, false, true},
        {"socket of another user", kPrivate, false, false, true},
    };
    std::string skipped;
    for (const auto& place : places) {
        SCOPED_TRACE(place.name);
        const daq::test::TempDir directory;
        fs::permissions(directory.path(), place.directory);
        if (place.link) {
            fs::create_directory_symlink(directory.path(), directory.file("link"));
        }
        const std::string socketPath = directory.file(place.link ? "link/t.sock" : "t.sock");
        const bool given = !place.foreignDirectory || giveAway(directory.path());
        daq::test::pointTraceChannelAt(socketPath);
        TraceCapture viewer(socketPath);
        if (!given || (place.foreignSocket && !giveAway(socketPath))) {
            skipped += std::string(" ") + place.name;
            continue;
        }
        daq::trace(daq::kTraceInfo, "refused");
        EXPECT_TRUE(viewer.take().empty());
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << "cannot give a file to another user here:" << skipped;
    }
}

// Each test case runs in a process of its own: the environment it leaves is nobody else's.
TEST(TraceChannelDefault, SocketIsInADirectoryOnlyThisUserCanWrite) {
    const std::string directory = "/tmp/kelvane-trace-" + std::to_string(geteuid());
    unsetenv("KELVANE_TRACE_SOCKET");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(daq::traceSocketPath(), directory + "/trace.sock");
    daq::traceReloadSocketPath();
    daq::trace(daq::kTraceInfo, "makes the directory");
    struct stat status {};
    ASSERT_EQ(lstat(directory.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, geteuid());
    EXPECT_EQ(status.st_mode & 07777, 0700u);
}

}  // namespace
