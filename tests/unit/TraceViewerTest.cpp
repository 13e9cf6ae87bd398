// The trace viewer: its reading of messages into fields and the line it prints, and the program
// on a private socket, fed by the real trace channel.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/support/ProgramRun.h"
#include "tests/support/TraceCapture.h"
#include "tools/trace-viewer/TraceLine.h"
#include "tools/trace-viewer/TraceMessage.h"
#include "trace/Trace.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
namespace fs = std::filesystem;
using daq::test::locationSuffix;
using daq::test::Program;
using daq::test::runProgram;

TEST(TraceViewerTest, MessagesWithoutALocationAreAllText) {
    for (const std::string& datagram : {
             "plain text\0"s,
             "a|b|c"s,
             "too|few|fields|14|Kelvane 1a2b|0|2|-1|522|op"s,
             "x|15|Kelvane 1a2b|0|2|-1|522|op|file"s,
             "x|14|Sender 1a2b|0|2|-1|522|op|file"s,
             "x|14|Kelvane 1A2B|0|2|-1|522|op|file"s,
             "x|14|Kelvane 123456789|0|2|-1|522|op|file"s,
             "x|14|Kelvane 1a2b|1|2|-1|522|op|file"s,
             "x|14|Kelvane 1a2b|0|two|-1|522|op|file"s,
             "x|14|Kelvane 1a2b|0|2|-1|52x|op|file"s,
             "x|14|Kelvane 1a2b|0|2|1|522|op|file"s,
         }) {
        const traceviewer::TraceMessage message = traceviewer::parseTraceMessage(datagram);
        EXPECT_FALSE(message.located) << datagram;
        EXPECT_EQ(message.text, datagram.substr(0, datagram.find('\0'))) << datagram;
        EXPECT_EQ(message.level, daq::kTraceInfo);
    }
}

// Located and bare lines, levels coloured only when asked, control characters escaped.
TEST(TraceViewerTest, PrintsOneLinePerMessage) {
    const struct {
        const char* datagram;
        bool colour;
        const char* line;
    } rows[] = {
        {"Prev Item Val : 1|14|Kelvane 1a2b|0|0|-1|1487|setParamWrite|FormTray", false,
         "t  1a2b      info     setParamWrite  FormTray:1487  Prev Item Val : 1"},
        // The location is split from the end: the text keeps its bars, or is empty.
        {"Error : bad | value|14|Kelvane 1a2b|0|2|-1|522|IdTCPServer1Execute|FormTray", false,
         "t  1a2b      error    IdTCPServer1Execute  FormTray:522  Error : bad | value"},
        {"|14|Kelvane ff|0|0|-1|1|f|g", false, "t  ff        info     f  g:1  "},
        {"daqlist map : 3", true, "t  daqlist map : 3"},
        {"failed|14|Kelvane 1a2b|0|2|-1|9|open_Server|FormTray", true,
         "t  1a2b      \x1b[31merror  \x1b[0m  open_Server  FormTray:9  failed"},
        {"odd|14|Kelvane 1a2b|0|1|-1|9|open_Server|FormTray", true,
         "t  1a2b      \x1b[33mlevel 1\x1b[0m  open_Server  FormTray:9  odd"},
        {"a\x1b[2Jb\tc\x7f \xc2\x9b"
         "31m é",
         false, "t  a\\x1b[2Jb\\x09c\\x7f \\xc2\\x9b31m é"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(traceviewer::formatTraceLine(traceviewer::parseTraceMessage(row.datagram), "t",
                                               row.colour),
                  row.line);
    }
}

const std::string kViewer = DAQ_BIN_DIR "/trace-viewer";

// A viewer refuses a directory others can write, replaces a stale socket, keeps a second viewer
// off its own, shows the chosen level and above, and removes its socket when terminated; the
// next one, started in raw mode, is found through the generation file.
TEST(TraceViewerProgram, ShowsWhatTheChannelSendsAndHandsTheSocketOn) {
    const daq::test::TempDir folder;
    const std::string socket = folder.file("viewer.sock");
    daq::test::pointTraceChannelAt(socket);
    fs::permissions(folder.path(), fs::perms::all);
    const auto refused = runProgram({kViewer, "--socket", socket});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "trace-viewer: " + folder.path().string() +
                               " is not a directory of this user that only it can write; "
                               "senders send no traces there\n");
    fs::permissions(folder.path(), fs::perms::owner_all);

    ASSERT_EQ(mknod(socket.c_str(), S_IFSOCK | 0600, 0), 0);  // as a killed viewer leaves it
    Program viewer({kViewer, "--socket", socket, "--level", "2"});
    ASSERT_TRUE(viewer.waitForOutput("trace-viewer: listening on " + socket + "\n", 5s));
    const auto second = runProgram({kViewer, "--socket", socket});
    EXPECT_EQ(second.code, 1);
    EXPECT_EQ(second.err, "trace-viewer: another trace viewer listens on " + socket + "\n");

    DAQ_TRACE(daq::kTraceInfo, "getClientIndex", "FormTray", "below the level");
    daq::trace(daq::kTraceInfo, "bare text counts as information");
    const int line = __LINE__ + 1;
    DAQ_TRACE(daq::kTraceError, "open_Server", "FormTray", "active error [%s]", "busy");
    ASSERT_TRUE(viewer.waitForOutput("busy]\n", 5s));
    const std::regex located(
        R"(\d\d:\d\d:\d\d\.\d\d\d  [0-9a-f]+ +error    open_Server  FormTray:)" +
        std::to_string(line) + R"(  active error \[busy\]\n)");
    EXPECT_TRUE(std::regex_match(viewer.out(), located)) << viewer.out();
    EXPECT_EQ(viewer.stop(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(socket));

    // The channel now waits on the file's counter, which only a viewer that counts itself moves.
    daq::trace(daq::kTraceInfo, "nobody listens");
    Program raw({kViewer, "--socket", socket, "--raw"});
    ASSERT_TRUE(raw.waitForOutput("listening on", 5s));
    daq::setTraceLocation(12, "sendData", "FormTray");
    daq::trace(daq::kTraceError, "send error : %s", "Broken pipe | peer gone");
    EXPECT_TRUE(raw.waitForOutput("send error : Broken pipe | peer gone" +
                                      locationSuffix(2, 12, "sendData", "FormTray") + '\0' + '\n',
                                  5s))
        << raw.out();
    EXPECT_EQ(raw.stop(SIGINT), 0);
}

}  // namespace
