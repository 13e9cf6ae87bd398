// The viewer's reading of messages into fields, and the line it prints.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/unit/TraceReceiver.h"
#include "tools/trace-viewer/TraceLine.h"
#include "tools/trace-viewer/TraceMessage.h"

namespace {

using namespace std::string_literals;

TEST(TraceViewerTest, SplitsTheLocationFromTheEnd) {
    const std::string datagram =
        "TCP Server Error : PARAMETERWRITE, bad | value|14|Kelvane 1a2b|0|2|-1|522|"
        "IdTCPServer1Execute|FormTray\0"s;

    const traceviewer::TraceMessage message = traceviewer::parseTraceMessage(datagram);

    EXPECT_TRUE(message.located);
    EXPECT_EQ(message.text, "TCP Server Error : PARAMETERWRITE, bad | value");
    EXPECT_EQ(message.sender, "1a2b");
    EXPECT_EQ(message.level, 2);
    EXPECT_EQ(message.line, 522);
    EXPECT_EQ(message.operation, "IdTCPServer1Execute");
    EXPECT_EQ(message.file, "FormTray");

    const traceviewer::TraceMessage empty =
        traceviewer::parseTraceMessage("|14|Kelvane ff|0|0|-1|1|f|g");
    EXPECT_TRUE(empty.located);
    EXPECT_EQ(empty.text, "");
}

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

TEST(TraceViewerTest, ReadsWhatTheChannelSends) {
    TraceSocketDirectory directory;
    TraceReceiver viewer(directory.socketPath());

    const int line = __LINE__ + 1;
    DAQ_TRACE(daq::kTraceError, "SetDAQRun", "FormTray", "TCPIP Server ReadMap fail! : IONum=%d",
              0);
    const std::optional<std::string> datagram = viewer.next();
    ASSERT_TRUE(datagram.has_value());

    const traceviewer::TraceMessage message = traceviewer::parseTraceMessage(*datagram);
    EXPECT_TRUE(message.located);
    EXPECT_EQ(message.text, "TCPIP Server ReadMap fail! : IONum=0");
    EXPECT_EQ(message.sender, senderHex());
    EXPECT_EQ(message.level, daq::kTraceError);
    EXPECT_EQ(message.line, line);
    EXPECT_EQ(message.operation, "SetDAQRun");
    EXPECT_EQ(message.file, "FormTray");
}

TEST(TraceViewerTest, PrintsOneLinePerMessage) {
    const traceviewer::TraceMessage located = traceviewer::parseTraceMessage(
        "Prev Item Val : 1, Present Item Val : 3|14|Kelvane 1a2b|0|0|-1|1487|"
        "setParamWrite|FormTray");
    EXPECT_EQ(traceviewer::formatTraceLine(located, "12:00:00.250", false),
              "12:00:00.250  1a2b      info     setParamWrite  FormTray:1487  "
              "Prev Item Val : 1, Present Item Val : 3");

    const traceviewer::TraceMessage bare = traceviewer::parseTraceMessage("daqlist map : 3");
    EXPECT_EQ(traceviewer::formatTraceLine(bare, "12:00:00.250", true),
              "12:00:00.250  daqlist map : 3");
}

TEST(TraceViewerTest, ColoursLevelsOnlyWhenAsked) {
    const traceviewer::TraceMessage error =
        traceviewer::parseTraceMessage("failed|14|Kelvane 1a2b|0|2|-1|9|open_Server|FormTray");
    const traceviewer::TraceMessage warning =
        traceviewer::parseTraceMessage("odd|14|Kelvane 1a2b|0|1|-1|9|open_Server|FormTray");

    EXPECT_EQ(traceviewer::formatTraceLine(error, "t", true),
              "t  1a2b      \x1b[31merror  \x1b[0m  open_Server  FormTray:9  failed");
    EXPECT_EQ(traceviewer::formatTraceLine(warning, "t", true),
              "t  1a2b      \x1b[33mlevel 1\x1b[0m  open_Server  FormTray:9  odd");
    EXPECT_EQ(traceviewer::formatTraceLine(error, "t", false),
              "t  1a2b      error    open_Server  FormTray:9  failed");
}

TEST(TraceViewerTest, ControlCharactersCannotReachTheTerminal) {
    const traceviewer::TraceMessage message = traceviewer::parseTraceMessage(
        "a\x1b[2Jb\tc\x7f \xc2\x9b"
        "31m é");

    EXPECT_EQ(traceviewer::formatTraceLine(message, "t", false),
              "t  a\\x1b[2Jb\\x09c\\x7f \\xc2\\x9b31m é");
}

TEST(TraceViewerTest, ReceiveTimeShowsMilliseconds) {
    const auto received =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(86'400'123));

    const std::string time = traceviewer::formatReceiveTime(received);

    ASSERT_EQ(time.size(), 12u) << time;
    EXPECT_EQ(time.substr(8), ".123");
    EXPECT_EQ(time[2], ':');
    EXPECT_EQ(time[5], ':');
}

}  // namespace
