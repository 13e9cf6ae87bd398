// The host's system tree and the simulated units' answers to the commands plug-ins send them.
#include <gtest/gtest.h>

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

// How the server reads the tree and answers from these records: CoreDeviceTest and
// CoreParameterTest; here, what the project file says of each unit.
TEST_F(UnitsTest, TreeCarriesUnitRecordsAsTheProjectSays) {
    const SystemRecords::Unit& face = system_.units().front();
    EXPECT_EQ(face.data->Pinz->PinKind(), kInterfacePinKind);
    EXPECT_EQ(RefText(face.data->Info), u"Ethernet 1");
    HostTree& tree = system_.tree();
    TTreeNode* rack = tree.GetFirstChild(tree.GetFirstChild(nullptr));
    EXPECT_EQ(tree.GetCheckState(rack), static_cast<int>(CheckState::Pressed));
    const TUnitData& data = *unitNamed("ST01").data;
    EXPECT_EQ(RefText(data.Device->DeviceName), u"Intake PLC");
    EXPECT_EQ(RefText(data.Info), u"PLC-1");
    EXPECT_EQ(data.UnitId, 11u);
    EXPECT_EQ(*data.ConnectState, 1);
    EXPECT_EQ(data.ParentUnit->ParentUnit, face.data);

    TTreeNode* st02 = tree.GetNextSibling(rack);
    EXPECT_EQ(tree.GetCheckState(st02), static_cast<int>(CheckState::Unchecked));
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st02)->ParentUnit, nullptr) << "parent-unit=\"\"";
    TTreeNode* st03 = tree.GetNextSibling(st02);
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st03), nullptr) << "unit-data=\"absent\"";
    TTreeNode* st04 = tree.GetNextSibling(st03);
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st04)->Pinz, nullptr) << "plugin=\"absent\"";
    EXPECT_EQ(tree.GetCheckState(st04), static_cast<int>(CheckState::Disabled));

    UnitPinz& unit = *unitNamed("ST01").pinz;
    ASSERT_EQ(unit.parameterCount(), 8);
    EXPECT_EQ(FieldText(unit.parameter(0)->UnitText), u"node");
    EXPECT_EQ(RefText(unit.parameter(1)->Items->Texts[2]), u"Off");
    EXPECT_EQ(unit.parameter(1)->ItemIndex, 1);
}

TEST_F(UnitsTest, GroupAndRangeAnswers) {
    UnitPinz& unit = *unitNamed("ST01").pinz;
    auto group = [&](const char16_t* index) {
        return std::u16string(RefText(value(send(unit, 106, index).Text)));
    };
    EXPECT_EQ(group(u"3"), u"1") << "another parameter's group";
    EXPECT_EQ(group(u"4"), u"-1") << "no group";
    EXPECT_EQ(group(u"5"), u"5") << "a unit that ignores the command leaves the text";
    EXPECT_EQ(group(u"99"), u"99");
    send(unit, 106, u"2", 53);  // not a command envelope: ignored
    EXPECT_EQ(unit.calls().groupQueries, 4);

    auto* range = static_cast<TParamRange*>(send(unit, 109, u"2").Data);
    ASSERT_NE(range, nullptr);
    EXPECT_DOUBLE_EQ(value(range->Minimum), 0.5);
    EXPECT_DOUBLE_EQ(value(range->Maximum), 3.5);
    EXPECT_EQ(value(range->Decimals), 3);
    EXPECT_EQ(value(send(unit, 109, u"8").Data), nullptr);
    EXPECT_EQ(value(send(unit, 109, u"x").Data), nullptr);
}

// Like a device, a unit applies nothing its parameter cannot hold as it was given, and nothing
// while the parameter is disabled or the station offline.
TEST_F(UnitsTest, WritersApplyOnlyWhatTheParameterCanHold) {
    const SystemRecords::Unit& st01 = unitNamed("ST01");
    UnitPinz& unit = *st01.pinz;
    auto write = [&](const char16_t* index, const std::u16string& text, int32_t item) {
        auto* writer = static_cast<TParamWriteEvent*>(send(unit, 105, index).Data);
        TVariant value{TVariant::vtString, 0, text.c_str()};
        (*writer)(-1, 0, &value, item);
    };
    const std::u16string longText(128, u'x');
    const struct {
        const char16_t* index;
        std::u16string text;
        int32_t item;
    } refused[] = {{u"2", u"abc", -1}, {u"2", u"3.51", -1}, {u"2", u"0.4", -1},
                   {u"2", u" 1", -1},  {u"2", u"", -1},     {u"0", longText, -1},
                   {u"1", u"3", 3},    {u"0", u"1", 0},     {u"6", u"1", -1}};
    for (const auto& each : refused) {
        EXPECT_THROW(write(each.index, each.text, each.item), std::runtime_error) << each.item;
    }
    EXPECT_EQ(FieldText(unit.parameter(2)->ValueText), u"2.5");
    EXPECT_EQ(FieldText(unit.parameter(0)->ValueText), u"1");
    EXPECT_EQ(FieldText(unit.parameter(6)->ValueText), u"");
    EXPECT_EQ(unit.parameter(1)->ItemIndex, 1);

    write(u"2", u"3.5", -1);
    EXPECT_EQ(FieldText(unit.parameter(2)->ValueText), u"3.5");
    write(u"0", longText.substr(1), -1);
    EXPECT_EQ(FieldText(unit.parameter(0)->ValueText).size(), 127u);
    write(u"1", u"2", 2);
    EXPECT_EQ(unit.parameter(1)->ItemIndex, 2);

    unit.parameter(0)->Enabled = 0;
    EXPECT_THROW(write(u"0", u"2", -1), std::runtime_error) << "disabled";
    unit.parameter(0)->Enabled = 1;
    *st01.connectState = 0;
    EXPECT_THROW(write(u"0", u"2", -1), std::runtime_error) << "offline";
    EXPECT_THROW(write(u"1", u"0", 0), std::runtime_error) << "offline";
    EXPECT_EQ(FieldText(unit.parameter(0)->ValueText).size(), 127u);
    EXPECT_EQ(unit.parameter(1)->ItemIndex, 2);
    EXPECT_EQ(value(send(unit, 105, u"7").Data), nullptr) << "writer=\"none\"";
    EXPECT_EQ(unit.calls().writes, 15);
}
