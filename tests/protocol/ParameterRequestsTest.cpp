// "PARAMETERLISTCOUNT", "PARAMETERLIST", "PARAMETERDETAIL", "DAQSTATUS" and "DAQPERMISSION"
// over real sockets, against the plug-in loaded by the stand-in host with units whose
// parameters cover every type group.
#include <string>
#include <tuple>
#include <vector>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

constexpr const char* kInterface = "Field bus";
// Parameters of ST01, hidden ones included.
constexpr int kParameters = 11;

class ParameterRequests : public SharedHostTest<ParameterRequests> {
  public:
    static std::string project() {
        return projectFile(R"xml(<system-tree>
    <interface unit-id="100" description="Field bus">
      <station unit-id="101" name="ST01" device-name="Dosing PLC" model="KV-3200">
        <parameter name="Mode" type="2" item-index="1">
          <items><item>Automatic</item><item>Manual</item><item>Off</item></items>
        </parameter>
        <parameter name="Secret" type="1" value="hidden"/>
        <parameter name="Setpoint" type="3" value="2.75" unit=" bar">
          <range min="2.5" max="7.25" decimals="3"/>
        </parameter>
        <parameter name="Internal" type="6" value="hidden"/>
        <parameter name="Label" type="0" value="North" enabled="false"/>
        <parameter name="Custom" type="20" value="no group"/>
        <parameter name="Speed" type="11" value="50" unit="%">
          <range min="0" max="100" decimals="0" valid="false"/>
        </parameter>
        <parameter name="Gain" type="9" item-index="0">
          <items><item>Low</item><item>High</item></items>
          <range min="0.5" max="1.5" decimals="1"/>
        </parameter>
        <parameter name="Ratio" type="5" value="1.5">
          <range min="1" max="2" decimals="2"/>
        </parameter>
        <parameter name="Empty choice" type="4"><items/></parameter>
        <parameter name="Limit" type="11" value="80"/>
      </station>
      <station unit-id="102" name="ST02" device-name="Offline PLC" model="KV-3200"
               connect-state="0">
        <parameter name="Mode" type="2"><items><item>Only</item></items></parameter>
      </station>
      <station unit-id="103" name="ST03" device-name="Bare PLC" model="KV-1000"/>
    </interface>
  </system-tree>)xml");
    }

  protected:
    void SetUp() override {
        SharedHostTest::SetUp();
        client_ = host().connect();
    }

    // Selects ST01 on this test's connection; checks the answer.
    void selectFirstStation() {
        const auto answer = client_->parameterListCount(kInterface, "Dosing PLC", "ST01");
        ASSERT_TRUE(answer) << client_->lastError();
        ASSERT_TRUE(at(*answer, "COUNT").IsInt());
        ASSERT_EQ(at(*answer, "COUNT").GetInt(), kParameters);
    }

    // The "PARAMINDEX" texts of a "PARAMETERLIST" answer's list.
    static std::vector<std::string> listedIndexes(const Answer& answer) {
        std::vector<std::string> indexes;
        const auto& list = at(answer, "LIST");
        EXPECT_TRUE(list.IsArray());
        if (list.IsArray()) {
            for (const auto& entry : list.GetArray()) {
                indexes.push_back(text(at(entry, "PARAMINDEX")));
            }
        }
        return indexes;
    }

    std::unique_ptr<DaqClient> client_;
};

TEST_F(ParameterRequests, NothingIsAnsweredBeforeAUnitIsSelected) {
    EXPECT_TRUE(answersNothing(*client_, client::parameterListRequest(0, 10)));
    EXPECT_TRUE(answersNothing(*client_, client::parameterDetailRequest(0)));
    EXPECT_TRUE(answersNothing(*client_, client::parameterWriteRequest(0, 0, "1")));
    // A look-up that matches no unit selects nothing.
    EXPECT_TRUE(answersNothing(
        *client_, client::parameterListCountRequest(kInterface, "Dosing PLC", "st01")));
    EXPECT_TRUE(answersNothing(*client_, client::parameterListCountRequest("", "", "")));
}

TEST_F(ParameterRequests, ListCountSelectsTheUnitOfThisConnection) {
    const auto first = client_->parameterListCount(kInterface, "Dosing PLC", "ST01");
    ASSERT_TRUE(first) << client_->lastError();
    EXPECT_EQ(memberNames(*first),
              (std::vector<std::string>{"PS_ID", "STATE", "PARAMREAD", "COUNT"}));
    ASSERT_TRUE(at(*first, "STATE").IsInt());
    EXPECT_EQ(at(*first, "STATE").GetInt(), 1);
    EXPECT_TRUE(at(*first, "PARAMREAD").IsTrue());
    ASSERT_TRUE(at(*first, "COUNT").IsInt());
    EXPECT_EQ(at(*first, "COUNT").GetInt(), kParameters);

    // Another connection selects another unit; this one keeps its own.
    auto other = host().connect();
    const auto bare = other->parameterListCount(kInterface, "Bare PLC", "ST03");
    ASSERT_TRUE(bare) << other->lastError();
    EXPECT_EQ(at(*bare, "COUNT").GetInt(), 0);
    // Texts compare exactly: a request that matches nothing answers for the earlier selection.
    for (const auto& [interfaceName, device, station] :
         {std::tuple{kInterface, "Dosing PLC", "st01"},
          std::tuple{"field bus", "Dosing PLC", "ST01"},
          std::tuple{kInterface, "Dosing plc", "ST01"}}) {
        const auto kept = client_->parameterListCount(interfaceName, device, station);
        ASSERT_TRUE(kept) << client_->lastError();
        EXPECT_EQ(at(*kept, "COUNT").GetInt(), kParameters) << station;
        const auto otherKept = other->parameterListCount(interfaceName, device, station);
        ASSERT_TRUE(otherKept) << other->lastError();
        EXPECT_EQ(at(*otherKept, "COUNT").GetInt(), 0) << station;
    }

    const auto offline = client_->parameterListCount(kInterface, "Offline PLC", "ST02");
    ASSERT_TRUE(offline) << client_->lastError();
    EXPECT_EQ(at(*offline, "STATE").GetInt(), 0);
    EXPECT_EQ(at(*offline, "COUNT").GetInt(), 1);
}

TEST_F(ParameterRequests, ListPagesLeaveHiddenTypesOutAndKeepTheirIndexes) {
    selectFirstStation();
    const auto page = client_->parameterList(0, 4);
    ASSERT_TRUE(page) << client_->lastError();
    EXPECT_EQ(memberNames(*page),
              (std::vector<std::string>{"PS_ID", "STATE", "PARAMREAD", "LIST"}));
    EXPECT_EQ(at(*page, "STATE").GetInt(), 1);
    EXPECT_EQ(listedIndexes(*page), (std::vector<std::string>{"0", "2"}));

    const auto all = client_->parameterList(0, 100);
    ASSERT_TRUE(all) << client_->lastError();
    EXPECT_EQ(listedIndexes(*all),
              (std::vector<std::string>{"0", "2", "4", "5", "6", "7", "8", "9", "10"}));

    const auto beyond = client_->parameterList(kParameters, 5);
    ASSERT_TRUE(beyond);
    EXPECT_TRUE(listedIndexes(*beyond).empty());
    const auto withoutSize = client_->request(R"({"PS_ID":"PARAMETERLIST","START_INDEX":"0"})");
    ASSERT_TRUE(withoutSize);
    EXPECT_TRUE(listedIndexes(*withoutSize).empty());
    // A negative start reads from 0, up to start + size.
    const auto negative = client_->parameterList(-5, 7);
    ASSERT_TRUE(negative);
    EXPECT_EQ(listedIndexes(*negative), std::vector<std::string>{"0"});
}

TEST_F(ParameterRequests, ListEntriesShowValuesByTypeGroup) {
    selectFirstStation();
    const auto all = client_->parameterList(0, kParameters);
    ASSERT_TRUE(all) << client_->lastError();
    const auto& list = at(*all, "LIST");
    ASSERT_TRUE(list.IsArray());
    ASSERT_EQ(list.Size(), 9U);

    const auto& mode = list[0];
    EXPECT_EQ(memberNames(mode),
              (std::vector<std::string>{"PARAMNAME", "PROPTYPE", "VALUE", "ENABLE", "PARAMETERTYPE",
                                        "PARAMINDEX"}));
    EXPECT_TRUE(at(mode, "PARAMNAME").IsTrue());
    EXPECT_EQ(at(mode, "PROPTYPE").GetInt(), 2);
    EXPECT_EQ(text(at(mode, "VALUE")), "Manual");
    EXPECT_TRUE(at(mode, "ENABLE").IsTrue());
    EXPECT_TRUE(at(mode, "PARAMETERTYPE").IsTrue());

    EXPECT_EQ(text(at(list[1], "VALUE")), "2.75 bar");  // value text and unit text
    const auto& label = list[2];                        // not enabled, no unit text
    EXPECT_EQ(memberNames(label),
              (std::vector<std::string>{"PARAMNAME", "PROPTYPE", "VALUE", "ENABLE", "PARAMINDEX"}));
    EXPECT_EQ(text(at(label, "VALUE")), "North");
    const auto& custom = list[3];  // a type of no group: no "VALUE"
    EXPECT_EQ(memberNames(custom), (std::vector<std::string>{"PARAMNAME", "PROPTYPE", "ENABLE",
                                                             "PARAMETERTYPE", "PARAMINDEX"}));
    EXPECT_EQ(at(custom, "PROPTYPE").GetInt(), 20);
    EXPECT_EQ(text(at(list[4], "VALUE")), "50%");
    EXPECT_EQ(text(at(list[5], "VALUE")), "Low");
    EXPECT_TRUE(at(list[7], "VALUE").IsString());  // an item parameter with no items
    EXPECT_EQ(text(at(list[7], "VALUE")), "");
}

TEST_F(ParameterRequests, ListWithoutEntriesWhileTheUnitIsNotConnected) {
    const auto selected = client_->parameterListCount(kInterface, "Offline PLC", "ST02");
    ASSERT_TRUE(selected) << client_->lastError();
    const auto page = client_->parameterList(0, 10);
    ASSERT_TRUE(page) << client_->lastError();
    EXPECT_EQ(memberNames(*page), (std::vector<std::string>{"PS_ID", "STATE", "PARAMREAD"}));
    EXPECT_EQ(at(*page, "STATE").GetInt(), 0);
}

TEST_F(ParameterRequests, DetailHasRangesOnlyForTypes3And9And11WithAValidRange) {
    selectFirstStation();
    const auto setpoint = client_->parameterDetail(2);
    ASSERT_TRUE(setpoint) << client_->lastError();
    EXPECT_EQ(memberNames(*setpoint),
              (std::vector<std::string>{"PS_ID", "PARAMNAME", "PROPTYPE", "ISGROUP", "MINRANGE",
                                        "MAXRANGE", "VALUE"}));
    EXPECT_EQ(at(*setpoint, "PROPTYPE").GetInt(), 3);
    EXPECT_TRUE(at(*setpoint, "ISGROUP").IsTrue());
    EXPECT_EQ(text(at(*setpoint, "MINRANGE")), "2.500");
    EXPECT_EQ(text(at(*setpoint, "MAXRANGE")), "7.250");
    EXPECT_TRUE(at(*setpoint, "VALUE").IsTrue());

    const auto gain = client_->parameterDetail(7);
    ASSERT_TRUE(gain) << client_->lastError();
    EXPECT_EQ(text(at(*gain, "MINRANGE")), "0.5");
    EXPECT_EQ(text(at(*gain, "MAXRANGE")), "1.5");

    // Type 11 with an invalid range, type 11 without one, type 5 with a valid one.
    for (const int index : {6, 10, 8}) {
        const auto detail = client_->parameterDetail(index);
        ASSERT_TRUE(detail) << client_->lastError();
        EXPECT_EQ(memberNames(*detail),
                  (std::vector<std::string>{"PS_ID", "PARAMNAME", "PROPTYPE", "ISGROUP", "VALUE"}))
            << index;
    }
}

TEST_F(ParameterRequests, DetailListsTheItemsOfItemParameters) {
    selectFirstStation();
    const auto mode = client_->parameterDetail(0);
    ASSERT_TRUE(mode) << client_->lastError();
    EXPECT_EQ(memberNames(*mode), (std::vector<std::string>{"PS_ID", "PARAMNAME", "PROPTYPE",
                                                            "ISGROUP", "VALUE", "PARAMITEM"}));
    ASSERT_TRUE(at(*mode, "VALUE").IsInt());
    EXPECT_EQ(at(*mode, "VALUE").GetInt(), 1);
    const auto& items = at(*mode, "PARAMITEM");
    ASSERT_TRUE(items.IsArray());
    ASSERT_EQ(items.Size(), 3U);
    const char* texts[] = {"Automatic", "Manual", "Off"};
    for (rapidjson::SizeType k = 0; k < 3; ++k) {
        EXPECT_EQ(memberNames(items[k]), (std::vector<std::string>{"VALUE", "TEXT"}));
        EXPECT_EQ(text(at(items[k], "VALUE")), std::to_string(k));
        EXPECT_EQ(text(at(items[k], "TEXT")), texts[k]);
    }

    const auto empty = client_->parameterDetail(9);
    ASSERT_TRUE(empty) << client_->lastError();
    EXPECT_EQ(at(*empty, "VALUE").GetInt(), 0);
    ASSERT_TRUE(at(*empty, "PARAMITEM").IsArray());
    EXPECT_EQ(at(*empty, "PARAMITEM").Size(), 0U);
}

TEST_F(ParameterRequests, DetailOutsideTheUnitsParametersGetsNoAnswer) {
    selectFirstStation();
    for (const int index : {kParameters, -1, 100000}) {
        EXPECT_TRUE(tracedBy(
            host().traces(),
            traceContains(kTraceError, "PARAMETERDETAIL : no parameter " + std::to_string(index)),
            [&] { EXPECT_TRUE(answersNothing(*client_, client::parameterDetailRequest(index))); }))
            << index;
    }
}

TEST_F(ParameterRequests, DaqStatusAnswersRunningDuringTheRun) {
    const auto answer = client_->daqStatus();
    ASSERT_TRUE(answer) << client_->lastError();
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "STATUS"}));
    EXPECT_TRUE(at(*answer, "PS_ID").IsTrue());
    EXPECT_EQ(text(at(*answer, "STATUS")), "RUNNING");
}

TEST_F(ParameterRequests, DaqPermissionGetsNoAnswer) {
    EXPECT_TRUE(tracedBy(
        host().traces(), traceContains(kTraceInfo, "[TCP_SERVER:FormTray]ps_id : DAQPERMISSION"),
        [&] { EXPECT_TRUE(answersNothing(*client_, R"({"PS_ID":"DAQPERMISSION"})")); }));
}

}  // namespace
}  // namespace daq::test
