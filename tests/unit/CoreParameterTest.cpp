// Parameter requests: selection per connection, paging, details with ranges and items, the
// DAQ status, and every answer of a parameter write.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/core/SystemRecords.h"
#include "kelvane/Text.h"
#include "tests/unit/CoreFixture.h"

namespace daq::test {
namespace {

std::string selectRequest(const std::string& station) {
    return R"({"PS_ID":"PARAMETERLISTCOUNT","INTERFACE":"Ethernet","DEVICENAME":"PLC","STATION":")" +
           station + "\"}";
}

std::string writeRequest(int index, const std::string& value, int group = 9) {
    return R"({"PS_ID":"PARAMETERWRITE","GROUPINDEX":")" + std::to_string(group) +
           R"(","PARAMINDEX":")" + std::to_string(index) + R"(","VALUE":")" + value + "\"}";
}

// A write with its members as JSON text.
std::string rawWrite(const std::string& members) {
    return R"({"PS_ID":"PARAMETERWRITE",)" + members + "}";
}

std::string detailRequest(const std::string& index) {
    return R"({"PS_ID":"PARAMETERDETAIL","PARAMINDEX":)" + index + "}";
}

const std::string kOk = R"({"PS_ID":true,"RESULT":"OK","RESULT":"0"})";
const std::string kFailed = R"({"PS_ID":true,"RESULT":"FAILED","RESULT":"-1"})";
const std::string kDenied = R"({"PS_ID":true,"RESULT":"FAILED","RESULT":"-2"})";

// Parameters of unit "ST1", by index.
std::vector<host::ParameterSpec> parameters() {
    std::vector<host::ParameterSpec> list;
    list.push_back(parameter("Setpoint", 0, "12.5"));  // 0
    list.back().unitText = "bar";
    list.push_back(parameter("Hidden", 1, "h"));                         // 1
    list.push_back(parameter("Mode", 2, "", {"Off", "On", "Auto"}, 1));  // 2: its own group
    list.push_back(parameter("Limit", 3, "5"));                          // 3
    list.back().range = host::ParamRangeSpec{true, 2.5, 10, 3};
    list.back().enabled = false;
    list.push_back(parameter("Secret", 6, "s"));  // 4
    list.push_back(parameter("Odd", 20, "o"));    // 5
    list.push_back(parameter("Speed", 11, "7"));  // 6: range not valid
    list.back().range = host::ParamRangeSpec{false, 0, 1, 1};
    list.push_back(parameter("Ramp", 9, "", {"Slow", "Fast"}, 0));  // 7: grouped under 0
    list.back().group = {host::GroupAnswer::Given, 0};
    list.back().range = host::ParamRangeSpec{true, -1, 1, 0};
    list.push_back(parameter("Free", 0, "f"));  // 8: the unit ignores the group query
    list.back().group = {host::GroupAnswer::Ignore, 0};
    list.push_back(parameter("Loose", 0, "l"));  // 9: no group
    list.back().group = {host::GroupAnswer::Given, -1};
    list.push_back(parameter("Fragile", 13, "x"));  // 10: its writer raises
    list.back().writer = host::WriterMode::Raises;
    list.push_back(parameter("Fixed", 14, "y"));  // 11: no writer
    list.back().writer = host::WriterMode::None;
    list.push_back(parameter("Empty", 4, ""));  // 12: no items to choose
    list.back().items.emplace();
    return list;
}

std::vector<host::UnitSpec> systemTree() {
    host::UnitSpec ethernet;
    ethernet.kind = host::UnitKind::Interface;
    ethernet.pinKind = 1;
    ethernet.info = "Ethernet";
    ethernet.children = {stationUnit("ST1", parameters()),
                         stationUnit("ST2", {parameter("Other", 0, "o")})};
    return {ethernet};
}

class CoreParameters : public ::testing::Test {
  protected:
    CoreParameters() : tree(systemTree()), system(tree) {
        harness.installLogin();
        harness.core().setSystemTree(&system.tree());
        harness.core().rebuildDeviceList();
        client = harness.connect();
    }

    host::UnitPinz& unit(const char* station) { return *system.find(station)->pinz; }
    // Selects "ST1" and logs in as `user` (nullptr: no login).
    std::shared_ptr<MemoryConnection> selected(const char* user = "admin") {
        auto connection = harness.connect();
        EXPECT_TRUE(harness.request(connection, selectRequest("ST1")));
        if (user != nullptr) {
            harness.request(connection, loginRequest(user, user));
        }
        return connection;
    }

    CoreHarness harness;
    std::vector<host::UnitSpec> tree;
    host::SystemRecords system;
    std::shared_ptr<MemoryConnection> client;
};

TEST_F(CoreParameters, ListCountSelectsAUnitForThisConnectionOnly) {
    const std::string st1 = R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"COUNT":13})";
    const Exchange exchanges[] = {
        {selectRequest("NONE"), std::nullopt},
        {selectRequest("ST1"), st1},
        {selectRequest("NONE"), st1},  // no match keeps the unit selected before
        {selectRequest("st2"), st1},   // texts compare exactly
    };
    expectExchanges(harness, client, exchanges);
    EXPECT_EQ(unit("ST1").calls().selects, 1);  // once, however often it is asked for
    EXPECT_EQ(harness.request(harness.connect(), selectRequest("ST2")),
              R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"COUNT":1})");
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"PARAMETERLISTCOUNT"})"), st1);
    // A connection that has selected nothing gets nothing.
    auto unselected = harness.connect();
    for (const std::string& request : {std::string(R"({"PS_ID":"PARAMETERLIST","LIST_SIZE":"5"})"),
                                       detailRequest("0"), writeRequest(0, "1")}) {
        EXPECT_FALSE(harness.request(unselected, request)) << request;
    }
}

TEST_F(CoreParameters, ListAndDetailAnswers) {
    ASSERT_TRUE(harness.request(client, selectRequest("ST1")));
    const std::string empty = R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"LIST":[]})";
    const Exchange exchanges[] = {
        // Hidden types (1, 6, 11 and higher than 20) are left out; indexes keep their places.
        {R"({"PS_ID":"PARAMETERLIST","START_INDEX":"0","LIST_SIZE":"6"})",
         R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"LIST":[)"
         R"({"PARAMNAME":true,"PROPTYPE":0,"VALUE":"12.5bar","ENABLE":true,"PARAMETERTYPE":true,"PARAMINDEX":"0"},)"
         R"({"PARAMNAME":true,"PROPTYPE":2,"VALUE":"On","ENABLE":true,"PARAMETERTYPE":true,"PARAMINDEX":"2"},)"
         R"({"PARAMNAME":true,"PROPTYPE":3,"VALUE":"5","ENABLE":true,"PARAMINDEX":"3"},)"
         R"({"PARAMNAME":true,"PROPTYPE":20,"ENABLE":true,"PARAMETERTYPE":true,"PARAMINDEX":"5"}]})"},
        // A window starting below 0 is cut at 0, one past the count at the count.
        {R"({"PS_ID":"PARAMETERLIST","START_INDEX":-3,"LIST_SIZE":4})",
         R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"LIST":[)"
         R"({"PARAMNAME":true,"PROPTYPE":0,"VALUE":"12.5bar","ENABLE":true,"PARAMETERTYPE":true,"PARAMINDEX":"0"}]})"},
        {R"({"PS_ID":"PARAMETERLIST","START_INDEX":12,"LIST_SIZE":100})",
         R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"LIST":[)"
         R"({"PARAMNAME":true,"PROPTYPE":4,"VALUE":"","ENABLE":true,"PARAMETERTYPE":true,"PARAMINDEX":"12"}]})"},
        {R"({"PS_ID":"PARAMETERLIST","START_INDEX":"2147483647","LIST_SIZE":"2147483647"})", empty},
        // A start that is no integer names no parameter, not parameter 0.
        {R"({"PS_ID":"PARAMETERLIST","START_INDEX":"0.0","LIST_SIZE":"5"})", empty},
        // Ranges for types 3, 9 and 11 when valid; items for item types.
        {detailRequest("\"3\""),
         R"({"PS_ID":true,"PARAMNAME":true,"PROPTYPE":3,"ISGROUP":true,"MINRANGE":"2.500","MAXRANGE":"10.000","VALUE":true})"},
        {detailRequest("6"),
         R"({"PS_ID":true,"PARAMNAME":true,"PROPTYPE":11,"ISGROUP":true,"VALUE":true})"},
        {detailRequest("7"),
         R"({"PS_ID":true,"PARAMNAME":true,"PROPTYPE":9,"ISGROUP":true,"MINRANGE":"-1","MAXRANGE":"1",)"
         R"("VALUE":0,"PARAMITEM":[{"VALUE":"0","TEXT":"Slow"},{"VALUE":"1","TEXT":"Fast"}]})"},
        {detailRequest("12"),
         R"({"PS_ID":true,"PARAMNAME":true,"PROPTYPE":4,"ISGROUP":true,"VALUE":0,"PARAMITEM":[]})"},
        // No decimal integer within 32 bits: no parameter, not parameter 0.
        {detailRequest("-1"), std::nullopt},
        {detailRequest(R"("0.0")"), std::nullopt},
        {detailRequest("4294967296"), std::nullopt},
        {R"({"PS_ID":"PARAMETERDETAIL"})", std::nullopt},
        {R"({"PS_ID":"DAQPERMISSION"})", std::nullopt},
    };
    expectExchanges(harness, client, exchanges);
    const host::UnitCalls calls = unit("ST1").calls();
    EXPECT_EQ(calls.rangeQueries, 3);
    EXPECT_EQ(calls.groupQueries, 4);
    TraceCapture traces;
    EXPECT_FALSE(harness.request(client, detailRequest("13")));
    EXPECT_TRUE(TraceCapture::contains(traces.take(), 2,
                                       "PARAMETERDETAIL : no parameter 13 among the unit's 13"));
}

TEST_F(CoreParameters, UnitThatIsNotConnectedListsNothingAndTakesNoWrite) {
    client = selected();
    *system.find("ST1")->connectState = 0;
    const Exchange exchanges[] = {
        {R"({"PS_ID":"PARAMETERLIST","LIST_SIZE":"5"})",
         R"({"PS_ID":true,"STATE":0,"PARAMREAD":true})"},
        {writeRequest(0, "5"), kFailed},
        {writeRequest(2, "2"), kFailed},
    };
    expectExchanges(harness, client, exchanges);
    EXPECT_EQ(unit("ST1").calls().writes + unit("ST1").calls().propertyChanges, 0);
}

TEST_F(CoreParameters, DaqStatusTexts) {
    const std::pair<int, const char*> cases[] = {
        {0, "RUNNING"}, {1, "CONNECTED"}, {2, "RUNNING"}, {3, ""}};
    for (const auto& [status, text] : cases) {
        harness.core().setDaqStatus(status);
        EXPECT_EQ(harness.request(client, R"({"PS_ID":"DAQSTATUS"})"),
                  std::string(R"({"PS_ID":true,"STATUS":")") + text + "\"}");
    }
}

// The permission of the last accepted login on the connection; a refused login changes nothing.
// A write without it reaches no unit.
TEST_F(CoreParameters, WritePermissionBelongsToTheConnectionThatLoggedIn) {
    auto admin = selected("admin");
    for (const auto& connection : {selected(nullptr), selected("viewer")}) {
        EXPECT_EQ(harness.request(connection, writeRequest(0, "42")), kDenied);
    }
    const host::UnitCalls denied = unit("ST1").calls();
    EXPECT_EQ(denied.groupQueries + denied.writerQueries + denied.writes, 0);
    harness.request(admin, loginRequest("admin", "bad"));
    EXPECT_EQ(harness.request(admin, writeRequest(0, "7")), kOk);
    harness.request(admin, loginRequest("viewer", "viewer"));
    EXPECT_EQ(harness.request(admin, writeRequest(0, "7")), kDenied);
}

TEST_F(CoreParameters, WritesReachTheWriterWithTheirGroupAndItem) {
    client = selected();
    host::UnitPinz& st1 = unit("ST1");
    const struct {
        std::string request;
        int32_t index;
        int32_t group;
        int32_t item;
        std::u16string stored;
    } cases[] = {
        // A text parameter that is its own group: the request's group, item index -1.
        {writeRequest(0, "13.5", 4), 0, 4, -1, u"13.5"},
        // A unit that ignores the group query answers the index itself.
        {writeRequest(8, "v", 6), 8, 6, -1, u"v"},
        // A negative group answer: the writer gets -1 whatever the request says.
        {writeRequest(9, "v", 6), 9, -1, -1, u"v"},
        // Indexes and values as JSON numbers, "+" signs included.
        {rawWrite(R"("GROUPINDEX":3,"PARAMINDEX":"+6","VALUE":-2.5)"), 6, 3, -1, u"-2.5"},
        // The bounds of a range are values the parameter holds.
        {writeRequest(3, "10"), 3, 9, -1, u"10"},
        {writeRequest(3, "2.5"), 3, 9, -1, u"2.5"},
        // An item parameter grouped under another one: the writer gets its item number.
        {writeRequest(7, "1", 2), 7, 2, 1, u"1"},
    };
    st1.parameter(3)->Enabled = 1;
    for (const auto& each : cases) {
        EXPECT_EQ(harness.request(client, each.request), kOk) << each.request;
        EXPECT_EQ(st1.calls().lastWriteGroup, each.group) << each.request;
        EXPECT_EQ(st1.calls().lastWriteItem, each.item) << each.request;
        EXPECT_EQ(st1.calls().lastWriteValue, each.stored) << each.request;
    }
    EXPECT_EQ(kelvane::FieldText(st1.parameter(0)->ValueText), u"13.5");
    EXPECT_EQ(st1.parameter(7)->ItemIndex, 1);
}

// Whatever the parameter cannot hold as it was sent, and every write that would not reach the
// unit, answers "FAILED", traces its reason and leaves the unit's records as they were.
TEST_F(CoreParameters, WritesOfWhatCannotBeHeldFailAndChangeNothing) {
    TraceCapture traces;
    client = selected();
    host::UnitPinz& st1 = unit("ST1");
    st1.parameter(3)->Enabled = 1;                    // "Limit", 2.500 to 10.000
    using Row = std::pair<const char*, const char*>;  // the members, the reason traced
    // No parameter index that is a decimal integer within 32 bits among the unit's 13: these
    // reach no unit at all.
    const Row badIndexes[] = {{R"("VALUE":"1")", ""},
                              {R"("PARAMINDEX":"2.0","VALUE":"1")", "PARAMINDEX is not an integer"},
                              {R"("PARAMINDEX":13,"VALUE":"1")", "parameter 13"},
                              {R"("PARAMINDEX":-1,"VALUE":"1")", ""}};
    const Row refused[] = {
        {R"("PARAMINDEX":0,"GROUPINDEX":"x","VALUE":"1")", ""},
        {R"("PARAMINDEX":0,"VALUE":null)", ""},
        // "Mode": items 0 to 2, by number.
        {R"("PARAMINDEX":2,"VALUE":"Off")", R"(parameter 2 has no item "Off" among its 3 items)"},
        {R"("PARAMINDEX":2,"VALUE":3)", ""},
        {R"("PARAMINDEX":2,"VALUE":"-1")", ""},
        // "Ramp", through the writer: items 0 and 1; "Empty": no items at all.
        {R"("PARAMINDEX":7,"VALUE":"2")", ""},
        {R"("PARAMINDEX":12,"VALUE":"0")", ""},
        // Texts end at no zero.
        {R"("PARAMINDEX":0,"VALUE":"1\u00002")", ""},
        // Numbers within "Limit"'s range; "Speed" (type 11) has no valid range but takes numbers.
        {R"("PARAMINDEX":3,"VALUE":"10.5")", ""},
        {R"("PARAMINDEX":3,"VALUE":2.4)", ""},
        {R"("PARAMINDEX":3,"VALUE":"1e400")", ""},
        {R"("PARAMINDEX":6,"VALUE":"fast")", R"(parameter 6 takes a number, not "fast")"},
        // Hidden and other types, a parameter the unit gives no writer for, a writer that raises.
        {R"("PARAMINDEX":1,"VALUE":"x")", ""},
        {R"("PARAMINDEX":5,"VALUE":"x")", ""},
        {R"("PARAMINDEX":11,"VALUE":"x")",
         "parameter 11 cannot be written: its unit gives no writer"},
        {R"("PARAMINDEX":10,"VALUE":"x")", "the unit refused"}};
    const auto expectRefused = [&](const Row& row) {
        EXPECT_EQ(harness.request(client, rawWrite(row.first)), kFailed) << row.first;
        EXPECT_TRUE(TraceCapture::contains(
            traces.take(), 2,
            std::string("TCP/IP DAQ Server Parameter Write error : ") + row.second))
            << row.first;
    };
    std::vector<std::pair<std::u16string, int32_t>> held;
    for (int32_t i = 0; i < st1.parameterCount(); ++i) {
        held.emplace_back(kelvane::FieldText(st1.parameter(i)->ValueText),
                          st1.parameter(i)->ItemIndex);
    }
    std::ranges::for_each(badIndexes, expectRefused);
    EXPECT_EQ(st1.calls().groupQueries + st1.calls().writerQueries, 0);
    std::ranges::for_each(refused, expectRefused);
    st1.parameter(3)->Enabled = 0;  // a disabled parameter takes nothing either
    EXPECT_EQ(harness.request(client, writeRequest(3, "5")), kFailed);

    EXPECT_EQ(st1.calls().writes, 1);  // the writer that raised
    EXPECT_EQ(st1.calls().propertyChanges, 0);
    for (int32_t i = 0; i < st1.parameterCount(); ++i) {
        EXPECT_EQ(kelvane::FieldText(st1.parameter(i)->ValueText), held[i].first) << i;
        EXPECT_EQ(st1.parameter(i)->ItemIndex, held[i].second) << i;
    }
}

// An item parameter that is its own group changes its record and tells the unit; its current
// item number again goes through the writer.
TEST_F(CoreParameters, ItemShortcutChangesTheRecordAndTellsTheUnit) {
    client = selected();
    host::UnitPinz& st1 = unit("ST1");
    EXPECT_EQ(harness.request(client, writeRequest(2, "2")), kOk);
    EXPECT_EQ(st1.parameter(2)->ItemIndex, 2);
    host::UnitCalls calls = st1.calls();
    EXPECT_EQ(calls.propertyChanges, 1);
    EXPECT_EQ(calls.lastChangeIndex, 2);
    EXPECT_EQ(calls.lastChangeType, kelvane::pcValueChanged);
    EXPECT_EQ(calls.lastChangeRecord, st1.parameter(2));
    EXPECT_EQ(calls.writerQueries, 0);
    EXPECT_EQ(harness.request(client, writeRequest(2, "2", 5)), kOk);
    calls = st1.calls();
    EXPECT_EQ(calls.propertyChanges + calls.writerQueries, 2);
    EXPECT_EQ(calls.lastWriteItem, 2);
    EXPECT_EQ(calls.lastWriteGroup, 5);
}

// A unit plug-in that keeps no parameter list (its Properties field stays null) and counts
// what it is sent; the host's own unit plug-ins always have one.
class BareUnit final : public kelvane::TPinzBase {
  public:
    BareUnit() { FPinKind = 2; }
    int commands = 0;

    const char16_t* GetName() override { return u"bare"; }
    QImage* GetIcon() override { return nullptr; }
    void SetDynamicID(int32_t) override {}
    void SetParent(kelvane::TPinzBase*) override {}
    void InitInformForm(QWidget*) override {}
    void ShowInformForm(bool) override {}
    void SetPropChangeResult(kelvane::TPropChangeEvent) override {}
    void SetActive(kelvane::TActivateEvent) override {}
    void SetAddChildPinz(kelvane::TPinzBase*) override {}
    bool SetDelChildPinz(kelvane::TPinzBase*) override { return false; }
    void SetCopyPinz(kelvane::TPinzBase*) override {}
    void ReadConfig(kelvane::IXMLNode*, kelvane::TPinReadType) override {}
    void WriteConfig(kelvane::IXMLNode*) override {}
    void LocalLanguage(kelvane::IXMLNode*) override {}
    kelvane::TPropChangeResult PropertyChange(kelvane::TPropValue*, int32_t,
                                              kelvane::TPropChangeType, void*) override {
        return kelvane::pcrNone;
    }
    bool CheckSupportPinz(kelvane::TPinzBase*, kelvane::TTreeNodeType) override { return false; }
    int32_t GetMaxChild(kelvane::TPinzBase*) override { return 0; }
    int32_t Connect(void*) override { return 0; }
    void Disconnect() override {}
    void SendParam(const kelvane::_TPinzSendParam*) override { ++commands; }
    void ReadParam(kelvane::TPinzReadParam*) override {}
    int32_t SendData(const void*, int32_t) override { return 0; }
    int32_t ReadData(void*, int32_t) override { return 0; }
    void SetAddReadEvent(kelvane::TPinzBase*, kelvane::TReadEvent) override {}
    void SetDelReadEvent(kelvane::TPinzBase*, kelvane::TReadEvent) override {}
    bool DAQRun(kelvane::TDaqRunType) override { return false; }
    void DAQStop(kelvane::TDaqRunType) override {}
};

TEST_F(CoreParameters, UnitWithoutParameterListCountsNone) {
    BareUnit bare;
    system.find("ST2")->data->Pinz = &bare;
    harness.core().rebuildDeviceList();
    harness.request(client, loginRequest("admin", "admin"));
    EXPECT_EQ(harness.request(client, selectRequest("ST2")),
              R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"COUNT":0})");
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"PARAMETERLIST","LIST_SIZE":"5"})"),
              R"({"PS_ID":true,"STATE":1,"PARAMREAD":true,"LIST":[]})");
    EXPECT_FALSE(harness.request(client, detailRequest("0")));
    EXPECT_EQ(harness.request(client, writeRequest(0, "1")), kFailed);
    EXPECT_EQ(bare.commands, 1);  // the selection only
}

}  // namespace
}  // namespace daq::test
