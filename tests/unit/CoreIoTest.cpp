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

namespace core_test {
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

TEST_F(CoreIo, ListCountIsAText) {
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQLISTCOUNT"})"),
              R"({"PS_ID":true,"COUNT":"7"})");
    harness.ioMap().clear();
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQLISTCOUNT"})"),
              R"({"PS_ID":true,"COUNT":"0"})");
}

TEST_F(CoreIo, ListPageFromStringsOrNumbersWithStatusWhileNotRunning) {
    const std::string expected =
        R"({"PS_ID":true,"STATUS":true,"LIST":[)"
        R"({"INDEX":"2","TAGNAME":"T2","SIG_TYPE":"0","RW":"1","UNIT":"bar","GUID":"","DESCRIPTION":"Pressure T2","LISTCOUNT":"0"},)"
        R"({"INDEX":"3","TAGNAME":"T3","SIG_TYPE":"0","RW":"1","UNIT":"bar","GUID":"","DESCRIPTION":"Pressure T3","LISTCOUNT":"0"},)"
        R"({"INDEX":"4","TAGNAME":"T4","SIG_TYPE":"0","RW":"1","UNIT":"bar","GUID":"","DESCRIPTION":"Pressure T4","LISTCOUNT":"0"}]})";
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQLIST","START_INDEX":"2","LIST_SIZE":"3"})"),
              expected);
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQLIST","START_INDEX":2,"LIST_SIZE":3})"),
              expected);
    harness.setDaqRunning(true);
    const auto running =
        harness.request(client, R"({"PS_ID":"DAQLIST","START_INDEX":2,"LIST_SIZE":3})");
    ASSERT_TRUE(running);
    EXPECT_EQ(running->rfind(R"({"PS_ID":true,"LIST":[{"INDEX":"2")", 0), 0u);
}

TEST_F(CoreIo, ListEntryWithNamedValuesAndGuid) {
    EXPECT_EQ(
        harness.request(client, R"({"PS_ID":"DAQLIST","START_INDEX":"5","LIST_SIZE":"1"})"),
        R"({"PS_ID":true,"STATUS":true,"LIST":[{"INDEX":"5","TAGNAME":"MODE","SIG_TYPE":"1","RW":"1","UNIT":"bar","GUID":"","DESCRIPTION":"Pressure MODE","LISTCOUNT":"3","LISTVALUE":[)"
        R"({"VALUENAME":"Off","VALUE":0},{"VALUENAME":"Manual","VALUE":1},{"VALUENAME":"Auto","VALUE":2}]}]})");
    const auto first =
        harness.request(client, R"({"PS_ID":"DAQLIST","START_INDEX":"0","LIST_SIZE":"1"})");
    ASSERT_TRUE(first);
    EXPECT_NE(first->find(R"("GUID":"{1234ABCD-0102-A0B0-DEAD-BEEF00112233}")"), std::string::npos);
}

TEST_F(CoreIo, RangePastTheCountGivesIndexOnlyEntriesWithTraces) {
    TraceCapture traces;
    EXPECT_EQ(
        harness.request(client, R"({"PS_ID":"DAQLIST","START_INDEX":"6","LIST_SIZE":"3"})"),
        R"({"PS_ID":true,"STATUS":true,"LIST":[{"INDEX":"6","TAGNAME":"MSG","SIG_TYPE":"2","RW":"1","UNIT":"bar","GUID":"","DESCRIPTION":"Pressure MSG","LISTCOUNT":"0"},{"INDEX":"7"},{"INDEX":"8"}]})");
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQLIST","START_INDEX":"-1","LIST_SIZE":"1"})"),
              R"({"PS_ID":true,"STATUS":true,"LIST":[{"INDEX":"-1"}]})");
    const auto lines = traces.take();
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "7/9 DAQList error : "));
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "8/9 DAQList error : "));
    EXPECT_TRUE(TraceCapture::contains(lines, 2, "-1/0 DAQList error : "));
    EXPECT_TRUE(TraceCapture::contains(lines, 0, "DAQList : 7, DAQRun : 0"));
}

TEST_F(CoreIo, EmptySizesAndStartsThatAreNoIntegerGiveAnEmptyList) {
    // A start that is no decimal integer within 32 bits names no record: nothing, not record 0.
    for (const char* members :
         {R"("LIST_SIZE":"0")", R"("LIST_SIZE":"-5")", R"("LIST_SIZE":"abc")",
          R"("START_INDEX":"0.0","LIST_SIZE":2)", R"("START_INDEX":0.0,"LIST_SIZE":2)",
          R"("START_INDEX":" 0","LIST_SIZE":2)", R"("START_INDEX":4294967296,"LIST_SIZE":2)",
          R"("START_INDEX":"1e400","LIST_SIZE":2)", R"("START_INDEX":null,"LIST_SIZE":2)",
          R"("START_INDEX":"","LIST_SIZE":2)"}) {
        EXPECT_EQ(harness.request(client, std::string(R"({"PS_ID":"DAQLIST",)") + members + "}"),
                  R"({"PS_ID":true,"STATUS":true,"LIST":[]})")
            << members;
    }
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

TEST_F(CoreIo, DataEntriesInRequestOrderWithinTheMap) {
    setValue(record(5), 2.9, {}, daq::encodeDateTime({2026, 12, 5, 0, 41, 7, 123}));
    setValue(record(2), 3.14159);
    const auto answer =
        harness.request(client, R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[5,"2",5,7,-1]})");
    EXPECT_EQ(
        answer,
        R"({"PS_ID":true,"LIST":[)"
        R"({"INDEX":"5","GUID":"","DATA":"Auto","UNIT":"bar","TYPE":4,"TIME":"2026.12.05 00:41:07:123"},)"
        R"({"INDEX":"2","GUID":"","DATA":"3.14","UNIT":"bar","TYPE":4,"TIME":"1899.12.30 00:00:00:000"},)"
        R"({"INDEX":"5","GUID":"","DATA":"Auto","UNIT":"bar","TYPE":4,"TIME":"2026.12.05 00:41:07:123"}]})");
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQ_DATA"})"), R"({"PS_ID":true,"LIST":[]})");
    // Elements that are not decimal integers within 32 bits name no record, not record 0.
    EXPECT_EQ(
        harness.request(
            client,
            R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":["x",true,null,"",0.0,"0.0"," 0","1e0",4294967296,"+0"]})"),
        R"({"PS_ID":true,"LIST":[{"INDEX":"0","GUID":"{1234ABCD-0102-A0B0-DEAD-BEEF00112233}","DATA":"0.00","UNIT":"bar","TYPE":4,"TIME":"1899.12.30 00:00:00:000"}]})");
}

TEST_F(CoreIo, DataFromAnEmptiedMapIsEmpty) {
    harness.ioMap().clear();
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[0,1]})"),
              R"({"PS_ID":true,"LIST":[]})");
}

TEST_F(CoreIo, DataEntriesFollowTheMapAndTheDaqRun) {
    const std::string request = R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[0]})";
    ASSERT_NE(harness.request(client, request)->find(R"("UNIT":"bar")"), std::string::npos);

    // Another map with other records at the same index.
    std::vector<host::IoNode> otherTree{tagNode("OTHER")};
    otherTree[0].tag->unit = "mbar";
    host::IoRecords other(otherTree);
    harness.ioMap().clear();
    harness.ioMap().add(other.tags()[0].record);
    EXPECT_NE(harness.request(client, request)->find(R"("GUID":"","DATA":"0.00","UNIT":"mbar")"),
              std::string::npos);

    // The same record with a new unit text in a new DAQ run.
    const std::u16string unit = u"kPa \"g\"";
    other.tags()[0].record->Unit = unit.c_str();
    harness.setDaqRunning(true);
    EXPECT_NE(harness.request(client, request)->find(R"("UNIT":"kPa \"g\"")"), std::string::npos);
}

TEST_F(CoreIo, DataEntryShowsEachChangeOfItsValueAtTheNextPoll) {
    const std::string request = R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[1,6,1]})";
    auto entries = [&] { return harness.request(client, request).value_or(""); };
    auto entry = [](std::string_view index, std::string_view data, std::string_view time) {
        return R"({"INDEX":")" + std::string(index) + R"(","GUID":"","DATA":)" + std::string(data) +
               R"(,"UNIT":"bar","TYPE":4,"TIME":")" + std::string(time) + R"("})";
    };
    auto answer = [&](std::string_view data1, std::string_view data6, std::string_view time) {
        const std::string first = entry("1", data1, time);
        return R"({"PS_ID":true,"LIST":[)" + first + "," + entry("6", data6, time) + "," + first +
               "]}";
    };
    const double morning = daq::encodeDateTime({2026, 12, 6, 9, 0, 0, 0});
    setValue(record(1), 1.5, {}, morning);
    setValue(record(6), 0, u"first", morning);
    EXPECT_EQ(entries(), answer(R"("1.50")", R"("first")", "2026.12.06 09:00:00:000"));
    EXPECT_EQ(entries(), answer(R"("1.50")", R"("first")", "2026.12.06 09:00:00:000"));

    // The value, its decimals, its text and its time each change what the entry shows.
    record(1).Current.Value = 1.75;
    EXPECT_EQ(entries(), answer(R"("1.75")", R"("first")", "2026.12.06 09:00:00:000"));
    record(1).Current.Decimals = 3;
    EXPECT_EQ(entries(), answer(R"("1.750")", R"("first")", "2026.12.06 09:00:00:000"));
    kelvane::StoreText(record(6).Current.ValueText, u"line \"2\"\n");
    EXPECT_EQ(entries(), answer(R"("1.750")", R"("line \"2\"\n")", "2026.12.06 09:00:00:000"));
    const double later = daq::encodeDateTime({2026, 12, 6, 9, 0, 0, 1});
    record(1).Current.TimeStamp = later;
    record(6).Current.TimeStamp = later;
    EXPECT_EQ(entries(), answer(R"("1.750")", R"("line \"2\"\n")", "2026.12.06 09:00:00:001"));
    // A shorter text after a longer one leaves nothing of the longer behind.
    setValue(record(6), 0, u"", later);
    EXPECT_EQ(entries(), answer(R"("1.750")", R"("")", "2026.12.06 09:00:00:001"));
}

TEST_F(CoreIo, DataEntriesAreRenderedAfreshForARebuiltMapWithinTheRun) {
    const std::string request = R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[0]})";
    ASSERT_NE(harness.request(client, request)->find(R"("UNIT":"bar")"), std::string::npos);

    // The same record, its unit changed, in a map built again with the DAQ run going on.
    const std::u16string unit = u"mbar";
    record(0).Unit = unit.c_str();
    harness.ioMap().clear();
    harness.ioMap().add(&record(0));
    EXPECT_NE(harness.request(client, request)->find(R"("UNIT":"mbar")"), std::string::npos);
}

TEST(CoreValueText, TableOfSignalTypes) {
    using daq::protocol::appendIOValueText;
    kelvane::TIOList record{};
    kelvane::TCurrentValue value{};
    value.Value = 3.14159;
    value.Decimals = 2;
    kelvane::StoreText(value.ValueText, u"12 \u00b0C");
    auto text = [&] {
        std::string out;
        appendIOValueText(record, value, out);
        return out;
    };
    record.SigType = kelvane::stNumeric;
    EXPECT_EQ(text(), "3.14");
    value.Decimals = -1;
    EXPECT_EQ(text(),
              "12 \xC2\xB0"
              "C");
    value.Decimals = -2;
    EXPECT_EQ(text(),
              "12 \xC2\xB0"
              "C");

    // A value list without entries: the data type can ask for the text as well.
    kelvane::TValueList empty{};
    record.ValueList = &empty;
    value.Decimals = 1;
    EXPECT_EQ(text(), "3.1");
    record.DataType = -2;
    EXPECT_EQ(text(),
              "12 \xC2\xB0"
              "C");

    const std::u16string low = u"Low", high = u"High";
    kelvane::TValueListEntry entries[2] = {};
    entries[0].Name = low.c_str();
    entries[0].Value = 2;
    entries[1].Name = high.c_str();
    entries[1].Value = -3;
    kelvane::TValueList named{};
    named.Count = 2;
    named.Entries = entries;
    record.ValueList = &named;
    value.Value = 2.9;  // truncated toward zero
    EXPECT_EQ(text(), "Low");
    value.Value = -3.7;
    EXPECT_EQ(text(), "High");
    value.Value = 5;
    EXPECT_EQ(text(), "");

    record.SigType = kelvane::stList;
    value.Value = 2.2;
    EXPECT_EQ(text(), "Low");
    record.ValueList = &empty;
    EXPECT_EQ(text(), "");
    record.ValueList = nullptr;
    EXPECT_EQ(text(), "");

    record.SigType = kelvane::stText;
    EXPECT_EQ(text(),
              "12 \xC2\xB0"
              "C");
    record.SigType = 7;
    EXPECT_EQ(text(), "");
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
        {"DAQLIST", R"(DAQServer Rx : {"PS_ID":"DAQLIST",??"PAD":"xxx)", "io_requests.cpp"},
        {"DAQ_DATA", R"(DAQServer Rx : {"PS_ID":"DAQ_DATA",??"PAD":"xxx)", "io_requests.cpp"},
        {"PARAMETERDETAIL", R"(DAQServer Rx : {"PS_ID":"PARAMETERDETAIL",??"PAD":"xxx)",
         "parameter_requests.cpp"},
        {"PARAMETERWRITE", R"(DAQServer Rx : {"PS_ID":"PARAMETERWRITE",??"PAD":"xxx)",
         "parameter_write.cpp"},
        {"DEVICELIST", "[TCP_SERVER:FormTray]ps_id : DEVICELIST", "device_requests.cpp"},
        {"LOGIN", "LOGIN FAIL : ", "login_requests.cpp"},
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
}  // namespace core_test
