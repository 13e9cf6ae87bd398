// The host's system tree and the simulated units' answers to the commands plug-ins send them.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "host/core/ProjectFile.h"
#include "host/core/SystemRecords.h"
#include "kelvane/Text.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;
using namespace kelvane;

namespace {

const char* const kProject = R"(<?xml version="1.0"?>
<kelvane-project format="1">
  <system-tree>
    <interface key="net" unit-id="10" description="Ethernet 1">
      <device device-name="Rack" model="RC-8" check="pressed">
        <station name="ST01" unit-id="11" device-name="Intake PLC" model="PLC-1" connect-state="1">
          <parameter name="Address" type="0" value="1" unit="node"/>
          <parameter name="Mode" type="2" item-index="1">
            <items><item>Auto</item><item>Manual</item><item>Off</item></items>
          </parameter>
          <parameter name="Setpoint" type="11" value="2.5">
            <range min="0.5" max="3.5" decimals="3"/>
          </parameter>
          <parameter name="Grouped" type="4" group="1"><items><item>A</item></items></parameter>
          <parameter name="Loner" type="0" group="-1"/>
          <parameter name="Deaf" type="4" group="ignore"/>
          <parameter name="Refuses" type="13" writer="raises"/>
          <parameter name="Silent" type="0" writer="none"/>
        </station>
      </device>
      <station name="ST02" device-name="Doser" parent-unit="" check="unchecked"/>
      <station name="ST03" device-name="Valve" parent-unit="net" unit-data="absent"/>
      <station name="ST04" device-name="Meter" plugin="absent" check="disabled"/>
    </interface>
  </system-tree>
</kelvane-project>
)";

class UnitsTest : public ::testing::Test {
  protected:
    UnitsTest()
        : file_(ProjectFile::fromText(kProject, "units.xml")), system_(file_.model().systemTree) {}

    const SystemRecords::Unit& unitNamed(std::string_view name) {
        const SystemRecords::Unit* unit = system_.find(name);
        EXPECT_NE(unit, nullptr) << name;
        return *unit;
    }

    // Sends one command the way the plug-in does and returns it as the unit left it.
    static TPinzCommand send(TPinzBase& unit, int32_t code, const char16_t* text,
                             int32_t kind = kPinzCommandKind) {
        TPinzCommand command{};
        command.Code = code;
        command.Value = 11;
        command.Text = text;
        _TPinzSendParam param{};
        param.Kind = kind;
        param.Command = &command;
        unit.SendParam(&param);
        return command;
    }

    ProjectFile file_;
    SystemRecords system_;
};

}  // namespace

TEST_F(UnitsTest, TreeCarriesUnitRecordsAsTheProjectSays) {
    const SystemRecords::Unit& station = unitNamed("ST01");
    const SystemRecords::Unit& face = system_.units().front();
    ASSERT_NE(face.data, nullptr);
    EXPECT_EQ(face.data->Pinz->PinKind(), kInterfacePinKind);
    EXPECT_EQ(RefText(face.data->Info), u"Ethernet 1");

    HostTree& tree = system_.tree();
    TTreeNode* top = tree.GetFirstChild(nullptr);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(NodeRecord<TUnitData>(tree, top), face.data);
    TTreeNode* rack = tree.GetFirstChild(top);
    EXPECT_EQ(tree.GetCheckState(rack), static_cast<int>(CheckState::Pressed));
    EXPECT_NE(tree.GetCheckState(rack), kCheckedNormal);
    TTreeNode* st01 = tree.GetFirstChild(rack);
    EXPECT_EQ(tree.GetNodeLevel(st01), 2);
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st01), station.data);

    // Station record: name, device, model, unit id, live connect state, parent chain.
    const TUnitData& data = *station.data;
    EXPECT_EQ(FieldText(data.UnitName), u"ST01");
    EXPECT_EQ(RefText(data.Device->DeviceName), u"Intake PLC");
    EXPECT_EQ(RefText(data.Info), u"PLC-1");
    EXPECT_EQ(data.UnitId, 11u);
    EXPECT_EQ(*data.ConnectState, 1);
    ASSERT_NE(data.ParentUnit, nullptr);
    EXPECT_EQ(RefText(data.ParentUnit->Device->DeviceName), u"Rack");
    EXPECT_EQ(data.ParentUnit->ParentUnit, face.data);
    EXPECT_EQ(face.data->ParentUnit, nullptr);

    // Siblings under the interface, in order, with what the project asked of each.
    TTreeNode* st02 = tree.GetNextSibling(rack);
    EXPECT_EQ(tree.GetIndex(st02), 1);
    EXPECT_EQ(tree.GetCheckState(st02), static_cast<int>(CheckState::Unchecked));
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st02)->ParentUnit, nullptr) << "parent-unit=\"\"";
    TTreeNode* st03 = tree.GetNextSibling(st02);
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st03), nullptr) << "unit-data=\"absent\"";
    TTreeNode* st04 = tree.GetNextSibling(st03);
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st04)->Pinz, nullptr) << "plugin=\"absent\"";
    EXPECT_EQ(tree.GetCheckState(st04), static_cast<int>(CheckState::Disabled));
    EXPECT_EQ(tree.GetNextSibling(st04), nullptr);
}

TEST_F(UnitsTest, PropertiesSitWhereThePluginReadsThem) {
    UnitPinz& unit = *unitNamed("ST01").pinz;
    TPinzBase* base = &unit;
    const auto* raw = reinterpret_cast<const uint8_t*>(base);
    int32_t pinKind = 0;
    std::memcpy(&pinKind, raw + 1460, sizeof pinKind);
    EXPECT_EQ(pinKind, 2);
    TTList<TPropValue*>* properties = nullptr;
    std::memcpy(&properties, raw + 1496, sizeof properties);
    ASSERT_EQ(properties, base->Properties());
    ASSERT_EQ(properties->Count(), 8);
    const TPropValue& address = *(*properties)[0];
    EXPECT_EQ(address.PropType, 0);
    EXPECT_EQ(FieldText(address.ValueText), u"1");
    EXPECT_EQ(FieldText(address.UnitText), u"node");
    EXPECT_EQ(address.Items, nullptr);
    EXPECT_EQ(address.Enabled, 1);
    const TPropValue& mode = *(*properties)[1];
    ASSERT_NE(mode.Items, nullptr);
    ASSERT_EQ(mode.Items->Count, 3);
    EXPECT_EQ(RefText(mode.Items->Texts[2]), u"Off");
    EXPECT_EQ(mode.ItemIndex, 1);
}

TEST_F(UnitsTest, SelectAndGroupAnswers) {
    UnitPinz& unit = *unitNamed("ST01").pinz;
    send(unit, 5, u"");
    send(unit, 5, u"", 53);  // not a command envelope: ignored
    EXPECT_EQ(unit.calls().selects, 1);

    auto group = [&](const char16_t* index) {
        return std::u16string(RefText(value(send(unit, 106, index).Text)));
    };
    EXPECT_EQ(group(u"2"), u"2") << "its own group";
    EXPECT_EQ(group(u"3"), u"1") << "another parameter's group";
    EXPECT_EQ(group(u"4"), u"-1") << "no group";
    const char16_t* asked = u"5";
    EXPECT_EQ(value(send(unit, 106, asked).Text), asked) << "a unit that ignores the command";
    const char16_t* outside = u"99";
    EXPECT_EQ(value(send(unit, 106, outside).Text), outside);
    EXPECT_EQ(unit.calls().groupQueries, 5);
}

TEST_F(UnitsTest, RangeAnswers) {
    UnitPinz& unit = *unitNamed("ST01").pinz;
    auto* range = static_cast<TParamRange*>(send(unit, 109, u"2").Data);
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->Valid, 1);
    EXPECT_DOUBLE_EQ(value(range->Minimum), 0.5);
    EXPECT_DOUBLE_EQ(value(range->Maximum), 3.5);
    EXPECT_EQ(value(range->Decimals), 3);
    auto* none = static_cast<TParamRange*>(send(unit, 109, u"0").Data);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->Valid, 0);
    EXPECT_EQ(value(send(unit, 109, u"8").Data), nullptr);
    EXPECT_EQ(value(send(unit, 109, u"x").Data), nullptr);
}

TEST_F(UnitsTest, WritersApplyRaiseOrAreMissing) {
    UnitPinz& unit = *unitNamed("ST01").pinz;
    auto writerOf = [&](const char16_t* index) {
        return static_cast<TParamWriteEvent*>(send(unit, 105, index).Data);
    };
    TVariant value{TVariant::vtString, 0, u"42"};

    TParamWriteEvent* text = writerOf(u"0");
    ASSERT_NE(text, nullptr);
    (*text)(-1, 0, &value, -1);
    EXPECT_EQ(FieldText(unit.parameter(0)->ValueText), u"42");

    TParamWriteEvent* item = writerOf(u"1");
    ASSERT_NE(item, nullptr);
    (*item)(1, 1, &value, 2);
    EXPECT_EQ(unit.parameter(1)->ItemIndex, 2);

    TParamWriteEvent* refusing = writerOf(u"6");
    ASSERT_NE(refusing, nullptr);
    EXPECT_THROW((*refusing)(-1, 6, &value, -1), std::runtime_error);
    EXPECT_EQ(FieldText(unit.parameter(6)->ValueText), u"") << "a refused value is not applied";

    EXPECT_EQ(writerOf(u"7"), nullptr);
    EXPECT_EQ(writerOf(u"-1"), nullptr);

    const UnitCalls calls = unit.calls();
    EXPECT_EQ(calls.writerQueries, 5);
    EXPECT_EQ(calls.writes, 3);
    EXPECT_EQ(calls.lastWriteIndex, 6);
    EXPECT_EQ(calls.lastWriteItem, -1);
    EXPECT_EQ(calls.lastWriteValue, u"42");
}

// Like a device, a unit applies nothing its parameter cannot hold as it was given, and nothing
// while the parameter is disabled or the station offline.
TEST_F(UnitsTest, WritersRefuseWhatTheParameterCannotHold) {
    const SystemRecords::Unit& st01 = unitNamed("ST01");
    UnitPinz& unit = *st01.pinz;
    auto write = [&](const char16_t* index, const std::u16string& text, int32_t item) {
        auto* writer = static_cast<TParamWriteEvent*>(send(unit, 105, index).Data);
        TVariant value{TVariant::vtString, 0, text.c_str()};
        (*writer)(-1, 0, &value, item);
    };
    const std::u16string longText(128, u'x');
    const std::pair<const char16_t*, std::u16string> texts[] = {
        {u"2", u"abc"}, {u"2", u"9999"}, {u"2", u"3.51"}, {u"2", u"0.4"},
        {u"2", u" 1"},  {u"2", u""},     {u"0", longText}};
    for (const auto& [index, text] : texts) {
        EXPECT_THROW(write(index, text, -1), std::runtime_error);
    }
    EXPECT_THROW(write(u"1", u"7", 7), std::runtime_error) << "Mode has items 0 to 2";
    EXPECT_THROW(write(u"1", u"3", 3), std::runtime_error);
    EXPECT_THROW(write(u"0", u"1", 0), std::runtime_error) << "Address has no items";
    EXPECT_EQ(FieldText(unit.parameter(2)->ValueText), u"2.5");
    EXPECT_EQ(FieldText(unit.parameter(0)->ValueText), u"1");
    EXPECT_EQ(unit.parameter(1)->ItemIndex, 1);

    write(u"2", u"3.5", -1);
    EXPECT_EQ(FieldText(unit.parameter(2)->ValueText), u"3.5");
    write(u"0", longText.substr(1), -1);
    EXPECT_EQ(FieldText(unit.parameter(0)->ValueText).size(), 127u);

    unit.parameter(0)->Enabled = 0;
    EXPECT_THROW(write(u"0", u"2", -1), std::runtime_error) << "disabled";
    unit.parameter(0)->Enabled = 1;
    *st01.connectState = 0;
    EXPECT_THROW(write(u"0", u"2", -1), std::runtime_error) << "offline";
    EXPECT_THROW(write(u"1", u"2", 2), std::runtime_error) << "offline";
    EXPECT_EQ(FieldText(unit.parameter(0)->ValueText).size(), 127u);
    EXPECT_EQ(unit.parameter(1)->ItemIndex, 1);
}

TEST_F(UnitsTest, PropertyChangeIsRecorded) {
    UnitPinz& unit = *unitNamed("ST01").pinz;
    EXPECT_EQ(unit.PropertyChange(unit.parameter(1), 1, pcValueChanged, nullptr), pcrNone);
    const UnitCalls calls = unit.calls();
    EXPECT_EQ(calls.propertyChanges, 1);
    EXPECT_EQ(calls.lastChangeIndex, 1);
    EXPECT_EQ(calls.lastChangeType, pcValueChanged);
    EXPECT_EQ(calls.lastChangeRecord, unit.parameter(1));
}
