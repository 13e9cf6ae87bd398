// "DAQLISTCOUNT", "DAQLIST", "DAQ_DATA" and the value texts of IO records.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "host/core/IoRecords.h"
#include "kelvane/Text.h"
#include "server/protocol/IoValueText.h"
#include "tests/unit/CoreFixture.h"

namespace daq::test {
namespace {

host::IoNode tagNode(std::string name, int32_t sigType = kelvane::stNumeric, int32_t decimals = 2) {
    host::TagSpec tag;
    tag.name = name;
    tag.sigType = sigType;
    tag.decimals = decimals;
    tag.unit = "bar";
    tag.description = "Pressure " + name;
    tag.rw = 1;
    tag.dataType = 4;
    return {name, tag, {}};
}

void setValue(kelvane::TIOList& record, double value, std::u16string_view text = {},
              double time = 0) {
    record.Current.Value = value;
    kelvane::StoreText(record.Current.ValueText, text);
    record.Current.TimeStamp = time;
}

class CoreIo : public ::testing::Test {
  protected:
    // Seven tags: 0..4 numeric, 5 from a list of named values, 6 a text.
    CoreIo() {
        for (int i = 0; i < 5; ++i) {
            tree.push_back(tagNode("T" + std::to_string(i)));
        }
        host::IoNode list = tagNode("MODE", kelvane::stList);
        list.tag->values = {{"Off", 0}, {"Manual", 1}, {"Auto", 2}};
        tree.push_back(list);
        tree.push_back(tagNode("MSG", kelvane::stText));
        tree.front().tag->guid = kelvane::TGuid{
            0x1234ABCD, 0x0102, 0xA0B0, {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11, 0x22, 0x33}};
        records = std::make_unique<host::IoRecords>(tree);
        for (const auto& tag : records->tags()) {
            harness.ioMap().add(tag.record);
        }
        client = harness.connect();
    }

    kelvane::TIOList& record(int i) { return *records->tags()[i].record; }

    CoreHarness harness;
    std::vector<host::IoNode> tree;
    std::unique_ptr<host::IoRecords> records;
    std::shared_ptr<MemoryConnection> client;
};

std::string listEntry(int index, const char* tag, int sigType, const char* rest = "") {
    return R"({"INDEX":")" + std::to_string(index) + R"(","TAGNAME":")" + tag +
           R"(","SIG_TYPE":")" + std::to_string(sigType) +
           R"(","RW":"1","UNIT":"bar","GUID":"","DESCRIPTION":"Pressure )" + tag +
           R"(","LISTCOUNT":")" + rest + "}";
}

TEST_F(CoreIo, ListAnswers) {
    const std::string empty = R"({"PS_ID":true,"STATUS":true,"LIST":[]})";
    const Exchange exchanges[] = {
        {R"({"PS_ID":"DAQLISTCOUNT"})", R"({"PS_ID":true,"COUNT":"7"})"},
        {R"({"PS_ID":"DAQLIST","START_INDEX":"4","LIST_SIZE":"2"})",
         R"({"PS_ID":true,"STATUS":true,"LIST":[)" + listEntry(4, "T4", 0, "0\"") + "," +
             listEntry(5, "MODE", 1,
                       R"(3","LISTVALUE":[{"VALUENAME":"Off","VALUE":0},)"
                       R"({"VALUENAME":"Manual","VALUE":1},{"VALUENAME":"Auto","VALUE":2}])") +
             "]}"},
        // A start that is no decimal integer within 32 bits names no record, not record 0.
        {R"({"PS_ID":"DAQLIST","LIST_SIZE":"-5"})", empty},
        {R"({"PS_ID":"DAQLIST","START_INDEX":"0.0","LIST_SIZE":2})", empty},
        {R"({"PS_ID":"DAQLIST","START_INDEX":4294967296,"LIST_SIZE":2})", empty},
    };
    expectExchanges(harness, client, exchanges);
    // Indexes past the count have entries of their index only, each with a trace. Taken after
    // these alone: the viewer's queue holds only a few messages.
    TraceCapture traces;
    const Exchange pastTheCount[] = {
        {R"({"PS_ID":"DAQLIST","START_INDEX":"6","LIST_SIZE":"3"})",
         R"({"PS_ID":true,"STATUS":true,"LIST":[)" + listEntry(6, "MSG", 2, "0\"") +
             R"(,{"INDEX":"7"},{"INDEX":"8"}]})"},
        {R"({"PS_ID":"DAQLIST","START_INDEX":"-1","LIST_SIZE":"1"})",
         R"({"PS_ID":true,"STATUS":true,"LIST":[{"INDEX":"-1"}]})"},
    };
    expectExchanges(harness, client, pastTheCount);
    const auto lines = traces.take();
    for (const char* text :
         {"7/9 DAQList error : ", "8/9 DAQList error : ", "-1/0 DAQList error : "}) {
        EXPECT_TRUE(TraceCapture::contains(lines, 2, text)) << text;
    }
    EXPECT_TRUE(TraceCapture::contains(lines, 0, "DAQList : 7, DAQRun : 0"));
    // During a run the page has no "STATUS".
    harness.setDaqRunning(true);
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQLIST","START_INDEX":0,"LIST_SIZE":0})"),
              R"({"PS_ID":true,"LIST":[]})");
}

TEST_F(CoreIo, PagesAreCutToTheBoundAndCountInSixtyFourBits) {
    TraceCapture traces;
    daq::ServerLimits limits;
    limits.maxPageEntries = 4;
    CoreHarness bounded(limits);
    auto other = bounded.connect();
    const auto page = bounded.request(
        other, R"({"PS_ID":"DAQLIST","START_INDEX":"2147483646","LIST_SIZE":"2147483647"})");
    ASSERT_TRUE(page);
    EXPECT_EQ(
        *page,
        R"({"PS_ID":true,"STATUS":true,"LIST":[{"INDEX":"2147483646"},{"INDEX":"2147483647"},{"INDEX":"2147483648"},{"INDEX":"2147483649"}]})");
    EXPECT_TRUE(TraceCapture::contains(traces.take(), 2, "cut to the page bound of 4"));
}

// Entries of a list answer: from `answer`, the text of each element of its "LIST".
std::vector<std::string> listEntries(const std::string& answer) {
    std::vector<std::string> entries;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = answer.find('[') + 1; i < answer.size() && depth >= 0; ++i) {
        if (answer[i] == '{' && depth++ == 0) {
            start = i;
        } else if (answer[i] == '}' && --depth == 0) {
            entries.push_back(answer.substr(start, i + 1 - start));
        }
    }
    return entries;
}

// An answer never grows past half the output bound (its first entry always comes), and a
// "DAQ_DATA" answers no more indexes than its bound; each cut is traced. Every entry is the one
// an uncut answer holds at the same place.
TEST_F(CoreIo, AnswersAreCutToTheirBounds) {
    const struct {
        std::size_t maxOutputBacklog;
        int32_t maxDaqDataIndexes;
        std::string request;
        std::size_t fewestEntries;
        std::size_t mostEntries;
        std::string trace;
    } cases[] = {
        {600, 100, R"({"PS_ID":"DAQLIST","START_INDEX":0,"LIST_SIZE":7})", 1, 6,
         "DAQList page cut to "},
        {4, 100, R"({"PS_ID":"DAQLIST","START_INDEX":0,"LIST_SIZE":7})", 1, 1,
         "DAQList page cut to 1 entries"},
        {1 << 20, 2, R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[0,1,2,3]})", 2, 2,
         "DAQ_DATA of 4 indexes : only the first 2 are answered"},
        {700, 100, R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[0,1,2,3,4,5,6,0,1,2,3,4,5,6]})", 1, 13,
         "DAQ_DATA cut : the answer reached "},
    };
    for (const auto& each : cases) {
        TraceCapture traces;
        daq::ServerLimits limits;
        limits.maxOutputBacklog = each.maxOutputBacklog;
        limits.maxDaqDataIndexes = each.maxDaqDataIndexes;
        CoreHarness bounded(limits);
        for (const auto& tag : records->tags()) {
            bounded.ioMap().add(tag.record);
        }
        const auto cut = bounded.request(bounded.connect(), each.request);
        const auto whole = harness.request(client, each.request);
        ASSERT_TRUE(cut && whole) << each.request;
        const auto entries = listEntries(*cut);
        const auto allEntries = listEntries(*whole);
        EXPECT_GE(entries.size(), each.fewestEntries) << *cut;
        EXPECT_LE(entries.size(), each.mostEntries) << *cut;
        ASSERT_LE(entries.size(), allEntries.size());
        EXPECT_TRUE(std::equal(entries.begin(), entries.end(), allEntries.begin())) << *cut;
        EXPECT_TRUE(TraceCapture::contains(traces.take(), 2, each.trace)) << each.request;
    }
}

// Indexes in request order, repeats included; elements that are not decimal integers within 32
// bits, or past the map, name no record (not record 0).
TEST_F(CoreIo, DataEntriesInRequestOrderWithinTheMap) {
    setValue(record(5), 2.9, {}, daq::encodeDateTime({2026, 12, 5, 0, 41, 7, 123}));
    setValue(record(2), 3.14159);
    const std::string mode =
        R"({"INDEX":"5","GUID":"","DATA":"Auto","UNIT":"bar","TYPE":4,"TIME":"2026.12.05 00:41:07:123"})";
    const Exchange exchanges[] = {
        {R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[5,"2",5,7,-1,"x",null,"0.0",4294967296]})",
         R"({"PS_ID":true,"LIST":[)" + mode +
             R"(,{"INDEX":"2","GUID":"","DATA":"3.14","UNIT":"bar","TYPE":4,"TIME":"1899.12.30 00:00:00:000"},)" +
             mode + "]}"},
        {R"({"PS_ID":"DAQ_DATA"})", R"({"PS_ID":true,"LIST":[]})"},
        {R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":["+0"]})",
         R"({"PS_ID":true,"LIST":[{"INDEX":"0","GUID":"{1234ABCD-0102-A0B0-DEAD-BEEF00112233}","DATA":"0.00","UNIT":"bar","TYPE":4,"TIME":"1899.12.30 00:00:00:000"}]})"},
    };
    expectExchanges(harness, client, exchanges);
}

// Rendered entries are kept between polls: each change of the value, its decimals, its text or
// its time shows at the next one (a shorter text leaves nothing of a longer one behind), as do
// the record's unit in a map built again, another record at the index and a new DAQ run.
TEST_F(CoreIo, DataEntryShowsEachChangeAtTheNextPoll) {
    const std::string request = R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[1,6,1,0]})";
    const auto shows = [&](std::string_view part) {
        return harness.request(client, request).value_or("").find(part) != std::string::npos;
    };
    setValue(record(1), 1.5);
    setValue(record(6), 0, u"first");
    EXPECT_TRUE(shows(R"("DATA":"1.50")"));
    record(1).Current.Value = 1.75;
    EXPECT_TRUE(shows(R"("DATA":"1.75")"));
    record(1).Current.Decimals = 3;
    EXPECT_TRUE(shows(R"("DATA":"1.750")"));
    kelvane::StoreText(record(6).Current.ValueText, u"line \"2\"\n");
    EXPECT_TRUE(shows(R"("DATA":"line \"2\"\n")"));
    record(6).Current.TimeStamp = daq::encodeDateTime({2026, 12, 6, 9, 0, 0, 1});
    EXPECT_TRUE(
        shows(R"("DATA":"line \"2\"\n","UNIT":"bar","TYPE":4,"TIME":"2026.12.06 09:00:00:001")"));
    kelvane::StoreText(record(6).Current.ValueText, u"");
    EXPECT_TRUE(shows(R"("DATA":"")"));

    const std::u16string mbar = u"mbar";
    record(0).Unit = mbar.c_str();
    harness.ioMap().clear();
    harness.ioMap().add(&record(0));
    EXPECT_TRUE(shows(R"("UNIT":"mbar")"));
    std::vector<host::IoNode> otherTree{tagNode("OTHER")};
    otherTree[0].tag->unit = "kPa";
    host::IoRecords other(otherTree);
    harness.ioMap().clear();
    harness.ioMap().add(other.tags()[0].record);
    EXPECT_TRUE(shows(R"("UNIT":"kPa")"));
    const std::u16string quoted = u"kPa \"g\"";
    other.tags()[0].record->Unit = quoted.c_str();
    harness.setDaqRunning(true);
    EXPECT_TRUE(shows(R"("UNIT":"kPa \"g\"")"));
    harness.ioMap().clear();
    EXPECT_EQ(harness.request(client, request), R"({"PS_ID":true,"LIST":[]})");
}

// The value text of each signal type: numbers with their decimals (or the value's own text when
// the decimals or the data type ask for it), names from the value list, texts.
TEST(CoreValueText, TableOfSignalTypes) {
    const std::u16string low = u"Low", high = u"High";
    kelvane::TValueListEntry entries[2] = {};
    entries[0].Name = low.c_str();
    entries[0].Value = 2;
    entries[1].Name = high.c_str();
    entries[1].Value = -3;
    kelvane::TValueList named{};
    named.Count = 2;
    named.Entries = entries;
    kelvane::TValueList empty{};
    const std::string text =
        "12 \xC2\xB0"
        "C";
    const struct {
        int32_t sigType;
        kelvane::TValueList* list;
        int32_t dataType;
        double value;
        int32_t decimals;
        std::string shown;
    } cases[] = {
        {kelvane::stNumeric, nullptr, 0, 3.14159, 2, "3.14"},
        {kelvane::stNumeric, nullptr, 0, 3.14159, -1, text},
        {kelvane::stNumeric, &empty, 0, 3.14159, 1, "3.1"},
        {kelvane::stNumeric, &empty, -2, 3.14159, 1, text},
        {kelvane::stNumeric, &named, 0, 2.9, 1, "Low"},  // truncated toward zero
        {kelvane::stNumeric, &named, 0, -3.7, 1, "High"},
        {kelvane::stNumeric, &named, 0, 5, 1, ""},
        {kelvane::stList, &named, 0, 2.2, 1, "Low"},
        {kelvane::stList, nullptr, 0, 2.2, 1, ""},
        {kelvane::stText, nullptr, 0, 2.2, 1, text},
        {7, nullptr, 0, 2.2, 1, ""},
    };
    for (const auto& each : cases) {
        kelvane::TIOList record{};
        record.SigType = each.sigType;
        record.ValueList = each.list;
        record.DataType = each.dataType;
        kelvane::TCurrentValue value{};
        value.Value = each.value;
        value.Decimals = each.decimals;
        kelvane::StoreText(value.ValueText, u"12 \u00b0C");
        std::string out;
        daq::protocol::appendIOValueText(record, value, out);
        EXPECT_EQ(out, each.shown) << each.sigType << " " << each.value << " " << each.decimals;
    }
}

// What each handler traces names its own source file; a quoted request is one line, cut, with
// the client's line breaks replaced, like every client text in a trace.
TEST(CoreHandlerTraces, NameTheirFileAndQuoteTheRequestOnOneCutLine) {
    TraceCapture traces;
    CoreHarness harness;
    auto client = harness.connect();
    const std::string rest = ",\r\n\"PAD\":\"" + std::string(3000, 'x') + "\"}";
    const struct {
        std::string id;
        std::string traced;  // the start of the handler's trace line
        const char* file;
    } kHandlers[] = {
        {"DAQLIST", R"(DAQServer Rx : {"PS_ID":"DAQLIST",??"PAD":"xxx)", "IoRequests.cpp"},
        {"DAQ_DATA", R"(DAQServer Rx : {"PS_ID":"DAQ_DATA",??"PAD":"xxx)", "IoRequests.cpp"},
        {"PARAMETERDETAIL", R"(DAQServer Rx : {"PS_ID":"PARAMETERDETAIL",??"PAD":"xxx)",
         "ParameterRequests.cpp"},
        {"PARAMETERWRITE", R"(DAQServer Rx : {"PS_ID":"PARAMETERWRITE",??"PAD":"xxx)",
         "ParameterWrite.cpp"},
        {"DEVICELIST", "[TCP_SERVER:FormTray]ps_id : DEVICELIST", "DeviceRequests.cpp"},
        {"LOGIN", "LOGIN FAIL : ", "LoginRequests.cpp"},
    };
    // "DAQServer Rx : ", 256 bytes of the request, "...", ", start=0, end=0".
    constexpr std::size_t kLongestLine = 15 + 256 + 3 + 16;
    for (const auto& handler : kHandlers) {
        harness.request(client, R"({"PS_ID":")" + handler.id + "\"" + rest);
        // Taken after each request: the viewer's queue holds only a few messages.
        const auto lines = traces.take();
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const TraceLine& each) {
            return each.text.starts_with(handler.traced);
        });
        ASSERT_NE(line, lines.end()) << handler.id;
        EXPECT_EQ(line->file, handler.file) << handler.id;
        EXPECT_LE(line->text.size(), kLongestLine) << line->text;
        EXPECT_EQ(std::count_if(line->text.begin(), line->text.end(),
                                [](unsigned char c) { return c < 0x20 || c == 0x7F; }),
                  0)
            << line->text;
    }
}

}  // namespace
}  // namespace daq::test
