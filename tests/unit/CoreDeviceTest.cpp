// The device list walk over the host's system tree, "DEVICELIST" and "MYSYSTEM".
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "host/core/SystemRecords.h"
#include "tests/unit/CoreFixture.h"

namespace daq::test {
namespace {

host::UnitSpec interfaceUnit(std::string info, std::string key = {}) {
    host::UnitSpec unit;
    unit.kind = host::UnitKind::Interface;
    unit.pinKind = 1;
    unit.info = std::move(info);
    unit.key = std::move(key);
    return unit;
}

host::UnitSpec station(std::string name, std::string device = "PLC",
                       std::optional<std::string> info = "Model") {
    host::UnitSpec unit = stationUnit(std::move(name));
    unit.deviceName = std::move(device);
    unit.info = std::move(info);
    return unit;
}

host::UnitSpec deviceOnly(std::string device) {
    host::UnitSpec unit = station({}, std::move(device));
    unit.kind = host::UnitKind::Device;
    return unit;
}

host::UnitSpec withChildren(host::UnitSpec unit, std::vector<host::UnitSpec> children) {
    unit.children = std::move(children);
    return unit;
}

// The device list's entries as "interface/station/connect state".
std::vector<std::string> listed(CoreHarness& harness) {
    const auto answer = harness.request(harness.connect(), R"({"PS_ID":"DEVICELIST"})");
    static const std::regex kEntry(
        R"re("INTERFACE":"([^"]*)","DEVICENAME":"PLC","MODELNAME":"Model","STATION":"([^"]*)","CONNECTSTATE":"(\d)")re");
    std::vector<std::string> entries;
    const std::string text = answer.value_or("");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kEntry);
         it != std::sregex_iterator(); ++it) {
        entries.push_back((*it)[1].str() + "/" + (*it)[2].str() + "/" + (*it)[3].str());
    }
    return entries;
}

TEST(CoreDeviceList, WalkRules) {
    host::UnitSpec hidden = station("HIDDEN");
    hidden.check = host::CheckState::Unchecked;
    host::UnitSpec pressed = station("PRESSED");
    pressed.check = host::CheckState::Pressed;
    host::UnitSpec disabled = station("DISABLED");
    disabled.check = host::CheckState::Disabled;
    host::UnitSpec noUnitData = station("NODATA");
    noUnitData.hasUnitData = false;
    host::UnitSpec noPinz = station("NOPINZ");
    noPinz.hasPinz = false;
    host::UnitSpec noDevice = deviceOnly("X");
    noDevice.deviceName.reset();

    const std::vector<host::UnitSpec> tree = {
        withChildren(
            interfaceUnit("Ethernet"),
            {withChildren(station("ST1"), {withChildren(deviceOnly("Sensor"), {station("ST2")})}),
             withChildren(hidden, {station("UNDER_HIDDEN")}), pressed, disabled,
             withChildren(station("NOINFO", "PLC", std::nullopt), {station("ST3")})}),
        withChildren(interfaceUnit("Serial"), {noUnitData, station("AFTER_NODATA")}),
        withChildren(interfaceUnit("Fieldbus"), {noPinz, station("AFTER_NOPINZ")}),
        withChildren(interfaceUnit("Radio"), {noDevice, station("AFTER_NODEVICE")}),
        station("TOP"),
    };
    host::SystemRecords system(tree);
    CoreHarness harness;
    harness.core().setSystemTree(&system.tree());
    harness.core().rebuildDeviceList();
    EXPECT_EQ(listed(harness), (std::vector<std::string>{"Ethernet/ST1/1", "Ethernet/ST2/1",
                                                         "Ethernet/ST3/1", "/TOP/1"}));
    // Two rebuilds leave one copy of each entry.
    harness.core().rebuildDeviceList();
    EXPECT_EQ(listed(harness).size(), 4u);
}

TEST(CoreDeviceList, InterfaceComesFromTheUnitsOwnParentChain) {
    host::UnitSpec byKey = station("KEYED");
    byKey.parent = {host::ParentRef::ByKey, "serial"};
    host::UnitSpec orphan = station("ORPHAN");
    orphan.parent = {host::ParentRef::None, {}};
    const std::vector<host::UnitSpec> tree = {
        interfaceUnit("Serial line", "serial"),
        withChildren(interfaceUnit("Ethernet"),
                     {withChildren(station("ST1"), {station("DEEP")}), byKey, orphan}),
    };
    host::SystemRecords system(tree);
    CoreHarness harness;
    harness.core().setSystemTree(&system.tree());
    harness.core().rebuildDeviceList();
    *system.find("DEEP")->connectState = 0;  // read afresh
    EXPECT_EQ(listed(harness), (std::vector<std::string>{"Ethernet/ST1/1", "Ethernet/DEEP/0",
                                                         "Serial line/KEYED/1", "/ORPHAN/1"}));
}

TEST(CoreDeviceList, WalkTraces) {
    TraceCapture traces;
    host::UnitSpec labelled = deviceOnly("Drive");
    labelled.deviceKind = 2;
    labelled.info = "Drive model";
    host::UnitSpec extra = station("ST1");
    extra.extra = "note";
    const std::vector<host::UnitSpec> tree = {
        withChildren(interfaceUnit("Ethernet"), {extra}),
        labelled,
    };
    host::SystemRecords system(tree);
    CoreHarness harness;
    harness.core().setSystemTree(&system.tree());
    harness.core().rebuildDeviceList();
    const auto lines = traces.take();
    for (const char* text :
         {"[TCP_SERVER] Set MySysytemVst Pointer : ", "getMySystemNode.. Interface Info : Ethernet",
          "getMySystemNode..3 : ST1", "getMySystemNode..4 :  - note", "getMySystemNode..5 : Model",
          "getMySystemNode..Device Name : 2:Drive", "getMySystemNode..7 : Drive model"}) {
        EXPECT_TRUE(TraceCapture::contains(lines, 0, text)) << text;
    }
}

TEST(CoreDeviceList, EmptyWithoutTreeAndErrorWithoutDeviceRecord) {
    CoreHarness harness;
    auto client = harness.connect();
    harness.core().rebuildDeviceList();
    EXPECT_EQ(harness.request(client, R"({"PS_ID":"DEVICELIST"})"), R"({"PS_ID":true,"LIST":[]})");
    EXPECT_FALSE(harness.request(client, R"({"PS_ID":"MYSYSTEM"})"));

    TraceCapture traces;
    host::UnitSpec noDevice = station("ST1");
    noDevice.deviceName.reset();
    const std::vector<host::UnitSpec> tree = {noDevice};
    host::SystemRecords system(tree);
    harness.core().setSystemTree(&system.tree());
    harness.core().rebuildDeviceList();
    EXPECT_FALSE(harness.request(client, R"({"PS_ID":"DEVICELIST"})"));
    EXPECT_TRUE(TraceCapture::contains(traces.take(), 2, "Device Info Error : "));
}

}  // namespace
}  // namespace daq::test
