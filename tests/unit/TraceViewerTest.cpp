// The viewer's reading of messages into fields, and the line it prints.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tools/trace-viewer/TraceLine.h"
#include "tools/trace-viewer/TraceMessage.h"
#include "trace/Trace.h"

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

// Located and bare lines, levels coloured only when asked, control characters escaped.
TEST(TraceViewerTest, PrintsOneLinePerMessage) {
    const struct {
        const char* datagram;
        bool colour;
        const char* line;
    } rows[] = {
        {"Prev Item Val : 1|14|Kelvane 1a2b|0|0|-1|1487|setParamWrite|FormTray", false,
         "t  1a2b      info     setParamWrite  FormTray:1487  Prev Item Val : 1"},
        {"daqlist map : 3", true, "t  daqlist map : 3"},
        {"failed|14|Kelvane 1a2b|0|2|-1|9|open_Server|FormTray", true,
         "t  1a2b      \x1b[31merror  \x1b[0m  open_Server  FormTray:9  failed"},
        {"odd|14|Kelvane 1a2b|0|1|-1|9|open_Server|FormTray", true,
         "t  1a2b      \x1b[33mlevel 1\x1b[0m  open_Server  FormTray:9  odd"},
        {"failed|14|Kelvane 1a2b|0|2|-1|9|open_Server|FormTray", false,
         "t  1a2b      error    open_Server  FormTray:9  failed"},
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
