// "PARAMETERWRITE" over real sockets, against the plug-in loaded by the stand-in host with
// parameters whose units answer the group and writer commands in every way. Each case writes
// parameters of its own, so the cases share one host.
#include <string>
#include <thread>
#include <vector>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

constexpr const char* kInterface = "Bus W";

// Parameter indexes of ST10.
enum Parameter : int {
    kMode = 0,          // item, its own group
    kName = 1,          // text
    kRefuses = 2,       // text, the writer raises
    kNoWriter = 3,      // text, no writer
    kHidden = 4,        // type 1
    kIgnoresGroup = 5,  // item, the unit leaves the group command unanswered, the writer raises
    kNoGroup = 6,       // item, group answer -1, the writer raises
    kOtherGroup = 7,    // item in the group of parameter 0
    kCustom = 8,        // a type of no group
    kCurrentItem = 9,   // item, its own group, the writer raises
    kProbe = 10,        // text, for the permission cases
};

class ParameterWrite : public SharedHostTest<ParameterWrite> {
  public:
    static std::string project() {
        return projectFile(R"xml(<system-tree>
    <interface unit-id="100" description="Bus W">
      <station unit-id="110" name="ST10" device-name="Writer PLC" model="KV-3200">
        <parameter name="Mode" type="2">
          <items><item>Auto</item><item>Manual</item><item>Off</item></items>
        </parameter>
        <parameter name="Name" type="0" value="alpha"/>
        <parameter name="Refuses" type="0" value="kept" writer="raises"/>
        <parameter name="No writer" type="0" value="same" writer="none"/>
        <parameter name="Hidden" type="1" value="h"/>
        <parameter name="Ignores group" type="2" group="ignore" writer="raises">
          <items><item>A</item><item>B</item><item>C</item></items>
        </parameter>
        <parameter name="No group" type="2" group="-1" writer="raises">
          <items><item>A</item><item>B</item><item>C</item></items>
        </parameter>
        <parameter name="Other group" type="2" group="0" item-index="2">
          <items><item>A</item><item>B</item><item>C</item></items>
        </parameter>
        <parameter name="Custom" type="20" value="c"/>
        <parameter name="Current item" type="2" item-index="1" writer="raises">
          <items><item>A</item><item>B</item></items>
        </parameter>
        <parameter name="Probe" type="0" value="untouched"/>
      </station>
      <station unit-id="120" name="ST20" device-name="Left PLC" model="KV-3200">
        <parameter name="Name" type="0" value="left"/>
      </station>
      <station unit-id="130" name="ST30" device-name="Right PLC" model="KV-3200">
        <parameter name="Name" type="0" value="right"/>
      </station>
    </interface>
  </system-tree>)xml");
    }

  protected:
    // A connection logged in as `user` (password = id) with the unit `station` selected.
    std::unique_ptr<DaqClient> clientOf(const char* user, const char* device = "Writer PLC",
                                        const char* station = "ST10") {
        auto client = host().connect();
        if (user != nullptr) {
            const auto login = client->login(user, user);
            EXPECT_TRUE(login && at(*login, "RESULT").IsTrue()) << client->lastError();
        }
        const auto selected = client->parameterListCount(kInterface, device, station);
        EXPECT_TRUE(selected) << client->lastError();
        return client;
    }

    // Writes and gives the two "RESULT" texts, in order.
    static std::vector<std::string> write(DaqClient& client, int index, std::string_view value,
                                          int group = 0) {
        const auto answer = client.parameterWrite(group, index, value);
        if (!answer) {
            ADD_FAILURE() << "no answer: " << client.lastError();
            return {};
        }
        EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "RESULT", "RESULT"}));
        std::vector<std::string> results;
        for (const auto& m : answer->GetObject()) {
            if (std::string_view(m.name.GetString()) == "RESULT") {
                results.push_back(text(m.value));
            }
        }
        return results;
    }

    // The "VALUE" that "PARAMETERLIST" shows for one parameter of the selected unit.
    static std::string shownValue(DaqClient& client, int index) {
        const auto page = client.parameterList(index, 1);
        if (!page) {
            ADD_FAILURE() << "no answer: " << client.lastError();
            return {};
        }
        const auto& list = at(*page, "LIST");
        if (!list.IsArray() || list.Size() != 1) {
            ADD_FAILURE() << "parameter " << index << " is not listed";
            return {};
        }
        return text(at(list[0], "VALUE"));
    }

    const std::vector<std::string> kOk{"OK", "0"};
    const std::vector<std::string> kFailed{"FAILED", "-1"};
    const std::vector<std::string> kNoPermission{"FAILED", "-2"};
};

TEST_F(ParameterWrite, AnswerCarriesTheKeyResultTwice) {
    auto client = clientOf(kAdmin);
    ASSERT_TRUE(client->connection().sendMessage(client::parameterWriteRequest(0, kName, "beta")));
    const auto raw = client->connection().readFrame(kReplyTimeout);
    ASSERT_TRUE(raw) << client->connection().lastError();
    EXPECT_EQ(*raw, R"({"PS_ID":true,"RESULT":"OK","RESULT":"0"})");
    EXPECT_EQ(shownValue(*client, kName), "beta");
}

TEST_F(ParameterWrite, NewItemOfItsOwnGroupIsWrittenWithoutTheWriter) {
    auto client = clientOf(kAdmin);
    EXPECT_EQ(write(*client, kMode, "2"), kOk);
    EXPECT_EQ(shownValue(*client, kMode), "Off");
    const auto detail = client->parameterDetail(kMode);
    ASSERT_TRUE(detail) << client->lastError();
    EXPECT_EQ(at(*detail, "VALUE").GetInt(), 2);

    // The current item number goes to the writer, which here raises.
    EXPECT_EQ(write(*client, kCurrentItem, "1"), kFailed);
    EXPECT_EQ(shownValue(*client, kCurrentItem), "B");
    EXPECT_EQ(write(*client, kCurrentItem, "0"), kOk);
    EXPECT_EQ(shownValue(*client, kCurrentItem), "A");
}

TEST_F(ParameterWrite, TextLongerThanTheRecordIsRefusedWhole) {
    // The record holds 127 UTF-16 units; U+1F600 takes two.
    const std::string emoji = "\xF0\x9F\x98\x80";
    auto client = clientOf(kAdmin);
    const std::string pairAtTheEnd = std::string(125, 'b') + emoji;
    EXPECT_EQ(write(*client, kName, pairAtTheEnd), kOk);
    EXPECT_EQ(shownValue(*client, kName), pairAtTheEnd);

    for (const std::string& tooLong : {std::string(126, 'a') + emoji, std::string(128, 'c')}) {
        EXPECT_EQ(write(*client, kName, tooLong), kFailed);
    }
    EXPECT_EQ(shownValue(*client, kName), pairAtTheEnd);
}

TEST_F(ParameterWrite, WriterThatRaisesFails) {
    auto client = clientOf(kAdmin);
    EXPECT_TRUE(tracedBy(host().traces(),
                         traceContains(kTraceError, "TCP/IP DAQ Server Parameter Write error : "),
                         [&] { EXPECT_EQ(write(*client, kRefuses, "new"), kFailed); }));
    EXPECT_EQ(shownValue(*client, kRefuses), "kept");
    // The connection goes on.
    EXPECT_TRUE(nextAnswerIsAlive(*client));
}

TEST_F(ParameterWrite, WriteThatReachesNoWriterFails) {
    auto client = clientOf(kAdmin);
    EXPECT_EQ(write(*client, kNoWriter, "changed"), kFailed);
    EXPECT_EQ(shownValue(*client, kNoWriter), "same");
    EXPECT_EQ(write(*client, kHidden, "changed"), kFailed);
    EXPECT_EQ(write(*client, kCustom, "changed"), kFailed);
}

TEST_F(ParameterWrite, UnitIgnoringTheGroupCommandMakesEachParameterItsOwnGroup) {
    auto client = clientOf(kAdmin);
    // The shortcut writes the new item; the raising writer is not asked.
    EXPECT_EQ(write(*client, kIgnoresGroup, "1", 7), kOk);
    EXPECT_EQ(shownValue(*client, kIgnoresGroup), "B");
    EXPECT_EQ(write(*client, kIgnoresGroup, "1", 7), kFailed);
}

TEST_F(ParameterWrite, NegativeGroupAnswerGoesToTheWriter) {
    auto client = clientOf(kAdmin);
    EXPECT_EQ(write(*client, kNoGroup, "1", 6), kFailed);
    EXPECT_EQ(shownValue(*client, kNoGroup), "A");
}

TEST_F(ParameterWrite, ItemValueThatIsNoItemNumberIsRefused) {
    auto client = clientOf(kAdmin);
    ASSERT_EQ(shownValue(*client, kOtherGroup), "C");
    for (const char* value : {"abc", "1.0", "3"}) {
        EXPECT_EQ(write(*client, kOtherGroup, value), kFailed) << value;
    }
    EXPECT_EQ(shownValue(*client, kOtherGroup), "C");
    EXPECT_EQ(write(*client, kOtherGroup, "0"), kOk);
    EXPECT_EQ(shownValue(*client, kOtherGroup), "A");
}

TEST_F(ParameterWrite, IndexOutsideTheUnitFails) {
    auto client = clientOf(kAdmin);
    for (const int index : {11, -1, 100000}) {
        EXPECT_TRUE(tracedBy(
            host().traces(),
            traceContains(kTraceError, "TCP/IP DAQ Server Parameter Write error : parameter " +
                                           std::to_string(index)),
            [&] { EXPECT_EQ(write(*client, index, "1"), kFailed) << index; }))
            << index;
    }
}

TEST_F(ParameterWrite, PermissionBelongsToTheConnectionThatLoggedIn) {
    auto admin = clientOf(kAdmin);
    auto viewer = clientOf(kViewer);
    auto anonymous = clientOf(nullptr);
    auto refused = clientOf(nullptr);
    const auto refusal = refused->login(kAdmin, "wrong");
    ASSERT_TRUE(refusal && at(*refusal, "RESULT").IsFalse());

    EXPECT_EQ(write(*viewer, kProbe, "by viewer"), kNoPermission);
    EXPECT_EQ(write(*anonymous, kProbe, "by anonymous"), kNoPermission);
    EXPECT_EQ(write(*refused, kProbe, "by refused"), kNoPermission);
    EXPECT_EQ(shownValue(*admin, kProbe), "untouched");
    // The viewer's later login leaves the administrator's connection as it was.
    EXPECT_EQ(write(*admin, kProbe, "by admin"), kOk);
    EXPECT_EQ(shownValue(*viewer, kProbe), "by admin");

    // On one connection, the latest accepted login decides.
    const auto relogin = admin->login(kViewer, kViewer);
    ASSERT_TRUE(relogin && at(*relogin, "RESULT").IsTrue());
    EXPECT_EQ(write(*admin, kProbe, "after relogin"), kNoPermission);
    EXPECT_EQ(shownValue(*admin, kProbe), "by admin");
}

TEST_F(ParameterWrite, ClientsWritingToDifferentUnitsAtOnceReachTheirOwnUnit) {
    constexpr int kWrites = 25;
    auto left = clientOf(kAdmin, "Left PLC", "ST20");
    auto right = clientOf(kAdmin, "Right PLC", "ST30");
    auto writeMany = [](DaqClient* client, std::string prefix, std::vector<std::string>* bad) {
        for (int i = 0; i < kWrites; ++i) {
            const auto answer = client->parameterWrite(0, 0, prefix + std::to_string(i));
            if (!answer || text(at(*answer, "RESULT")) != "OK") {
                bad->push_back(prefix + std::to_string(i));
            }
            if (!answer) {
                return;
            }
        }
    };
    std::vector<std::string> leftBad;
    std::vector<std::string> rightBad;
    std::thread leftWriter(writeMany, left.get(), "left-", &leftBad);
    std::thread rightWriter(writeMany, right.get(), "right-", &rightBad);
    leftWriter.join();
    rightWriter.join();
    EXPECT_TRUE(leftBad.empty()) << leftBad.front();
    EXPECT_TRUE(rightBad.empty()) << rightBad.front();

    const std::string last = std::to_string(kWrites - 1);
    EXPECT_EQ(shownValue(*left, 0), "left-" + last);
    EXPECT_EQ(shownValue(*right, 0), "right-" + last);
}

}  // namespace
}  // namespace daq::test
