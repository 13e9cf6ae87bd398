// "DEVICELIST" and "MYSYSTEM" over real sockets, against the plug-in loaded by the stand-in
// host with a system tree that exercises every rule of the device walk.
#include <string>
#include <vector>

#include "tests/protocol/ProtocolTestSupport.h"

namespace daq::test {
namespace {

class DeviceRequests : public SharedHostTest<DeviceRequests> {
  public:
    static std::string project() {
        return projectFile(R"xml(<system-tree>
    <interface key="busA" unit-id="100" description="Bus A interface" extra="eth0">
      <station unit-id="101" name="ST01" device-name="PLC one" model="Model 1"/>
      <station unit-id="102" name="ST02" device-name="PLC two" model="Model 2" connect-state="0"/>
      <station unit-id="103" name="UNCHECKED" device-name="PLC 103" model="M" check="unchecked">
        <station unit-id="104" name="UNDER.UNCHECKED" device-name="PLC 104" model="M"/>
      </station>
      <station unit-id="105" name="PRESSED" device-name="PLC 105" model="M" check="pressed"/>
      <station unit-id="106" name="DISABLED" device-name="PLC 106" model="M" check="disabled"/>
      <station unit-id="107" name="NO.MODEL" device-name="PLC 107">
        <station unit-id="108" name="UNDER.NO.MODEL" device-name="PLC 108" model="Model 8"/>
      </station>
      <device unit-id="110" device-name="Rack" model="Rack model">
        <station unit-id="111" name="IN.RACK" device-name="PLC 111" model="Model 11"
                 connect-state="3"/>
      </device>
      <device unit-id="130" device-name="Chain">
        <station unit-id="131" name="BEFORE.NO.DATA" device-name="PLC 131" model="M"/>
        <station unit-id="132" name="NO.DATA" device-name="PLC 132" model="M" unit-data="absent"/>
        <station unit-id="133" name="AFTER.NO.DATA" device-name="PLC 133" model="M"/>
      </device>
      <device unit-id="140" device-name="Chain 2">
        <station unit-id="141" name="BEFORE.NO.PLUGIN" device-name="PLC 141" model="M"/>
        <station unit-id="142" name="NO.PLUGIN" device-name="PLC 142" model="M" plugin="absent"/>
        <station unit-id="143" name="AFTER.NO.PLUGIN" device-name="PLC 143" model="M"/>
      </device>
      <station unit-id="150" name="OWN.CHAIN" device-name="PLC 150" model="M" parent-unit="busB"/>
      <station unit-id="151" name="TOP.OF.CHAIN" device-name="PLC 151" model="M" parent-unit=""/>
      <station unit-id="152" name="PIN.KIND.ONE" device-name="PLC 152" model="M" pin-kind="1">
        <station unit-id="153" name="UNDER.PIN.KIND.ONE" device-name="PLC 153" model="M"/>
      </station>
    </interface>
    <station unit-id="160" name="AT.TOP" device-name="PLC 160" model="Model 160"/>
    <interface key="busB" unit-id="200" description="Bus B interface" check="unchecked">
      <station unit-id="201" name="UNDER.BUS.B" device-name="PLC 201" model="M"/>
    </interface>
    <interface unit-id="300" description="Bus C">
      <station unit-id="301" name="C1" device-name="PLC 301" model="M"/>
      <device unit-id="302" model="A device without its device record"/>
      <station unit-id="303" name="C2" device-name="PLC 303" model="M"/>
    </interface>
    <station unit-id="400" name="LAST" device-name="PLC 400" model="M"/>
  </system-tree>)xml");
    }
};

TEST_F(DeviceRequests, DeviceListFollowsTheWalkOfTheCheckedTree) {
    auto client = host().connect();
    const auto answer = client->deviceList();
    ASSERT_TRUE(answer) << client->lastError();
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "LIST"}));
    const auto& list = at(*answer, "LIST");
    ASSERT_TRUE(list.IsArray());

    std::vector<std::string> stations;
    for (const auto& entry : list.GetArray()) {
        EXPECT_EQ(memberNames(entry),
                  (std::vector<std::string>{"INTERFACE", "DEVICENAME", "MODELNAME", "STATION",
                                            "CONNECTSTATE"}));
        stations.push_back(text(at(entry, "STATION")));
    }
    // Left out: unchecked, pressed and disabled units with their subtrees, units without a
    // model, interfaces (pin kind 1), the siblings behind a node without unit data or plug-in
    // object, and those behind a nameless unit without a device record.
    EXPECT_EQ(stations,
              (std::vector<std::string>{
                  "ST01", "ST02", "UNDER.NO.MODEL", "IN.RACK", "BEFORE.NO.DATA", "BEFORE.NO.PLUGIN",
                  "OWN.CHAIN", "TOP.OF.CHAIN", "UNDER.PIN.KIND.ONE", "AT.TOP", "C1", "LAST"}));
}

TEST_F(DeviceRequests, EntriesCarryTheUnitsDataAndTheInterfaceOfTheirOwnParentChain) {
    auto client = host().connect();
    const auto answer = client->deviceList();
    ASSERT_TRUE(answer) << client->lastError();
    const auto& list = at(*answer, "LIST");
    ASSERT_TRUE(list.IsArray());
    auto entryOf = [&](const std::string& station) -> const rapidjson::Value& {
        for (const auto& entry : list.GetArray()) {
            if (text(at(entry, "STATION")) == station) {
                return entry;
            }
        }
        static const rapidjson::Value kMissing;
        ADD_FAILURE() << station << " is not listed";
        return kMissing;
    };
    const auto& first = entryOf("ST01");
    EXPECT_EQ(text(at(first, "INTERFACE")), "Bus A interface");
    EXPECT_EQ(text(at(first, "DEVICENAME")), "PLC one");
    EXPECT_EQ(text(at(first, "MODELNAME")), "Model 1");
    EXPECT_EQ(text(at(first, "CONNECTSTATE")), "1");
    EXPECT_EQ(text(at(entryOf("ST02"), "CONNECTSTATE")), "0");
    EXPECT_EQ(text(at(entryOf("IN.RACK"), "CONNECTSTATE")), "3");
    // The top of the unit's ParentUnit chain, through units that are not listed themselves.
    EXPECT_EQ(text(at(entryOf("UNDER.NO.MODEL"), "INTERFACE")), "Bus A interface");
    EXPECT_EQ(text(at(entryOf("IN.RACK"), "INTERFACE")), "Bus A interface");
    EXPECT_EQ(text(at(entryOf("UNDER.PIN.KIND.ONE"), "INTERFACE")), "Bus A interface");
    EXPECT_EQ(text(at(entryOf("C1"), "INTERFACE")), "Bus C");
    // Not the tree's parent: the chain names another (unchecked) interface, or none.
    EXPECT_EQ(text(at(entryOf("OWN.CHAIN"), "INTERFACE")), "Bus B interface");
    for (const char* topOfChain : {"TOP.OF.CHAIN", "AT.TOP", "LAST"}) {
        const auto& entry = entryOf(topOfChain);
        EXPECT_TRUE(at(entry, "INTERFACE").IsString()) << topOfChain;
        EXPECT_EQ(text(at(entry, "INTERFACE")), "") << topOfChain;
    }
}

TEST_F(DeviceRequests, MySystemGetsNoAnswer) {
    auto client = host().connect();
    EXPECT_TRUE(answersNothing(*client, R"({"PS_ID":"MYSYSTEM"})"));
}

}  // namespace
}  // namespace daq::test
