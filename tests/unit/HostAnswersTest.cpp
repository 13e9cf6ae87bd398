// What the host answers plug-ins: its system tree, the simulated units' answers to the commands
// plug-ins send them, and the login callback (users and passwords from the project, write
// permission, refusals).
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/core/DemoProject.h"
#include "host/core/Login.h"
#include "host/core/Passwords.h"
#include "host/core/ProjectFile.h"
#include "host/core/SystemRecords.h"
#include "kelvane/Text.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;
using namespace kelvane;

namespace {

// What the demo project (read back in HostFilesTest) does not show, and parameters of each
// kind a writer checks.
const char* const kProject = R"(<?xml version="1.0"?>
<kelvane-project format="1">
  <system-tree>
    <interface key="net" unit-id="10" description="Ethernet 1">
      <station name="ST01" device-name="Intake PLC" connect-state="1">
        <parameter name="Address" type="0" value="1" unit="node"/>
        <parameter name="Mode" type="2" item-index="1">
          <items><item>Auto</item><item>Manual</item><item>Off</item></items>
        </parameter>
        <parameter name="Setpoint" type="11" value="2.5"><range min="0.5" max="3.5"/></parameter>
        <parameter name="Refuses" type="13" writer="raises"/>
        <parameter name="Silent" type="0" writer="none"/>
        <parameter name="Deaf" type="0" group="ignore"/>
      </station>
      <station name="ST02" device-name="Doser" parent-unit=""/>
      <station name="ST03" device-name="Valve" parent-unit="net" unit-data="absent"/>
      <station name="ST04" device-name="Meter" plugin="absent" check="disabled"/>
    </interface>
  </system-tree>
</kelvane-project>
)";

// Sends one command the way the plug-in does and returns it as the unit left it.
TPinzCommand send(TPinzBase& unit, int32_t code, const char16_t* text) {
    Command sent(code, 0, nullptr, text);
    unit.SendParam(&sent.param);
    return sent.command;
}

struct Answer {
    bool answered = false;  // Data was set
    bool accepted = false;
    bool mayWrite = false;
    bool operator==(const Answer&) const = default;
};

// Calls the callback the way the plug-in's login check does.
Answer login(const TLoginEvent& callback, const char16_t* id, const char16_t* password,
             int32_t code = kLoginCommand) {
    TPinzLoginUser user{u"", id, password, {}};
    Command command(code, reinterpret_cast<uint64_t>(&user));
    callback(&command.param);
    const bool answered = command.command.Data != nullptr;
    return {answered, answered && *static_cast<const bool*>(command.command.Data),
            (user.Flags[kLoginWriteFlag] & 1) != 0};
}

class UnitsTest : public ::testing::Test {
  protected:
    ProjectFile file_ = ProjectFile::fromText(kProject, "units.xml");
    SystemRecords system_{file_.model().systemTree};
};

}  // namespace

// How the server reads the tree and answers from these records: CoreDeviceTest and
// CoreParameterTest.
TEST_F(UnitsTest, TreeCarriesWhatTheProjectSaysOfEachUnit) {
    HostTree& tree = system_.tree();
    TTreeNode* st02 = tree.GetNextSibling(tree.GetFirstChild(tree.GetFirstChild(nullptr)));
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st02)->ParentUnit, nullptr) << "parent-unit=\"\"";
    TTreeNode* st03 = tree.GetNextSibling(st02);
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st03), nullptr) << "unit-data=\"absent\"";
    TTreeNode* st04 = tree.GetNextSibling(st03);
    EXPECT_EQ(NodeRecord<TUnitData>(tree, st04)->Pinz, nullptr) << "plugin=\"absent\"";
    EXPECT_EQ(tree.GetCheckState(st04), static_cast<int>(CheckState::Disabled));
    EXPECT_EQ(
        NodeRecord<TUnitData>(tree, tree.GetFirstChild(tree.GetFirstChild(nullptr)))->ParentUnit,
        system_.units().front().data);
}

// Like a device, a unit applies nothing its parameter cannot hold as it was given, and nothing
// while the parameter is disabled or the station offline.
TEST_F(UnitsTest, WritersApplyOnlyWhatTheParameterCanHold) {
    const SystemRecords::Unit& st01 = *system_.find("ST01");
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
                   {u"1", u"3", 3},    {u"0", u"1", 0},     {u"3", u"1", -1}};
    for (const auto& each : refused) {
        EXPECT_THROW(write(each.index, each.text, each.item), std::runtime_error) << each.item;
    }
    EXPECT_EQ(FieldText(unit.parameter(2)->ValueText), u"2.5");
    EXPECT_EQ(FieldText(unit.parameter(0)->ValueText), u"1");
    EXPECT_EQ(FieldText(unit.parameter(3)->ValueText), u"");
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
    EXPECT_EQ(unit.calls().writes, 15);
    for (const char16_t* none : {u"4", u"6", u"x"}) {  // writer="none", no such parameter
        EXPECT_EQ(value(send(unit, 105, none).Data), nullptr);
    }
    // Only the unit shows that it leaves the group query unanswered: the server gets its text.
    const char16_t* asked = u"5";
    EXPECT_EQ(value(send(unit, 106, asked).Text), asked);
}

// Who is accepted with which password: CoreSessionTest, with this service; here what only the
// service shows.
TEST(Login, UsersAreCheckedAgainstTheirHashesAndRefusalsLogNoPassword) {
    LoginService service(makeDemoProject().users);
    const struct {
        const char16_t* id;
        const char16_t* password;
        Answer answer;
    } cases[] = {
        {u"admin", u"admin", {true, true, true}},
        {u"viewer", u"viewer", {true, true, false}},
        {u"nobody", u"s3cret-guess", {true, false, false}},
        {u"ADMIN", u"admin", {true, false, false}},  // ids compare exactly
        {u"admin", nullptr, {true, false, false}},
        {u"line\nbreak", u"other-secret", {true, false, false}},
    };
    ::testing::internal::CaptureStderr();
    for (const auto& each : cases) {
        EXPECT_EQ(login(service.callback(), each.id, each.password), each.answer) << &each - cases;
    }
    EXPECT_EQ(login(service.callback(), u"admin", u"admin", 5), Answer{}) << "not a login command";
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(service.accepted(), 2);
    EXPECT_EQ(service.refused(), 4);
    EXPECT_NE(log.find("login refused for user \"nobody\""), std::string::npos) << log;
    EXPECT_NE(log.find("\"line?break\""), std::string::npos) << "one line per refusal: " << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_EQ(log.find("other-secret"), std::string::npos);
}

TEST(Login, ADelaySlowsTheCheck) {
    LoginService service(makeDemoProject().users);
    service.setDelay(std::chrono::milliseconds(50));
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(login(service.callback(), u"admin", u"admin").accepted);
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(50));
}

// An unknown id runs a check as costly as the costliest known user's, so that timing tells no
// ids apart, wherever that user stands in the project.
TEST(Login, UnknownIdsAreCheckedAgainstTheCostliestHash) {
    std::vector<UserSpec> users = makeDemoProject().users;  // light hashes, one setting
    const UserSpec strong{"operator", hashPassword("operator"), false};
    users.push_back(strong);
    users.push_back({"guest", hashPassword("guest", HashCost::Light), false});
    std::vector<std::string> checked;
    PasswordWork work;
    work.check = [&](std::string_view password, const std::string& hash) {
        checked.push_back(hash);
        return checkPassword(password, hash);
    };
    work.cost = [&](const std::string& hash) { return hash == strong.hash ? 2.0 : 1.0; };
    LoginService service(users, work);
    EXPECT_FALSE(login(service.callback(), u"nobody", u"operator").accepted);
    EXPECT_TRUE(login(service.callback(), u"admin", u"admin").accepted);
    EXPECT_EQ(checked, (std::vector<std::string>{strong.hash, users.front().hash}));
}
