// "DAQLISTCOUNT", "DAQLIST", "DAQ_DATA" and "IOLIST" over real sockets, against the plug-in
// loaded by the stand-in host with an IO tree whose values stay fixed.
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

// The IO map of the project, in map order. Every value is constant.
constexpr int kRecords = 7;
constexpr const char* kPiGuid = "{4B560001-10A2-4C3D-8E51-001F296A00C1}";
// The value time of a record that no refresh has reached yet.
constexpr const char* kNoTime = "1899.12.30 00:00:00:000";

class IoRequests : public SharedHostTest<IoRequests> {
  public:
    static std::string project() {
        return projectFile(R"xml(<io-tree>
    <group name="Values">
      <tag name="PI.FIXED" guid="{4B560001-10A2-4C3D-8E51-001F296A00C1}" sig-type="0" rw="2"
           unit="m" description="Pi, two decimals" data-type="5" decimals="2">
        <drive kind="constant" value="3.14159" scan-ms="100"/>
      </tag>
      <tag name="PUMP.STATE" sig-type="1" rw="0" description="Pump state" data-type="3">
        <values>
          <value name="Stopped" value="0"/>
          <value name="Running" value="1"/>
          <value name="Fault" value="2"/>
        </values>
        <drive kind="constant" value="2.9" scan-ms="100"/>
      </tag>
      <group name="Texts">
        <tag name="PRESSURE.TEXT" sig-type="0" unit="bar" data-type="5" decimals="-1">
          <drive kind="constant" value="4.25" text="4.25 bar (manual)" scan-ms="100"/>
        </tag>
        <tag name="MESSAGE" sig-type="2" data-type="-1" decimals="-1" description="Last message">
          <drive kind="constant" text="Backwash done" scan-ms="100"/>
        </tag>
      </group>
      <tag name="COUNTER" sig-type="0" data-type="3" decimals="0">
        <drive kind="constant" value="41.6" scan-ms="100"/>
      </tag>
      <tag name="LEVEL" guid="{00000005-0000-0000-0000-0000000000AB}" sig-type="0" unit="%"
           data-type="5" decimals="1">
        <drive kind="constant" value="-0.26" scan-ms="100"/>
      </tag>
      <tag name="SPARE" sig-type="0" data-type="5" decimals="3">
        <drive kind="constant" scan-ms="100"/>
      </tag>
    </group>
  </io-tree>)xml");
    }

  protected:
    void SetUp() override {
        SharedHostTest::SetUp();
        client_ = host().connect();
    }

    // "DAQ_DATA" for every record, once each has been refreshed at least once.
    std::optional<Answer> refreshedData() {
        std::vector<int> all;
        for (int i = 0; i < kRecords; ++i) {
            all.push_back(i);
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto answer = client_->daqData(all);
            if (!answer) {
                ADD_FAILURE() << client_->lastError();
                return std::nullopt;
            }
            const auto& list = at(*answer, "LIST");
            bool refreshed = list.IsArray() && list.Size() == kRecords;
            for (rapidjson::SizeType i = 0; refreshed && i < list.Size(); ++i) {
                refreshed = text(at(list[i], "TIME")) != kNoTime;
            }
            if (refreshed) {
                return answer;
            }
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "the records were not refreshed within 5 s";
        return std::nullopt;
    }

    std::unique_ptr<DaqClient> client_;
};

TEST_F(IoRequests, ListCountIsTheRecordCountAsText) {
    const auto answer = client_->daqListCount();
    ASSERT_TRUE(answer) << client_->lastError();
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "COUNT"}));
    EXPECT_TRUE(at(*answer, "COUNT").IsString());
    EXPECT_EQ(text(at(*answer, "COUNT")), std::to_string(kRecords));
}

TEST_F(IoRequests, ListPageFromStringsAndNumbersDuringTheRun) {
    for (const char* request : {R"({"PS_ID":"DAQLIST","START_INDEX":"2","LIST_SIZE":"3"})",
                                R"({"PS_ID":"DAQLIST","START_INDEX":2,"LIST_SIZE":3})"}) {
        const auto answer = client_->request(request);
        ASSERT_TRUE(answer) << client_->lastError();
        // A DAQ run is on: no "STATUS".
        EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "LIST"}));
        const auto& list = at(*answer, "LIST");
        ASSERT_TRUE(list.IsArray());
        ASSERT_EQ(list.Size(), 3U) << request;
        for (rapidjson::SizeType i = 0; i < 3; ++i) {
            EXPECT_TRUE(at(list[i], "INDEX").IsString());
            EXPECT_EQ(text(at(list[i], "INDEX")), std::to_string(2 + i));
        }
        EXPECT_EQ(text(at(list[0], "TAGNAME")), "PRESSURE.TEXT");
        EXPECT_EQ(text(at(list[1], "TAGNAME")), "MESSAGE");
        EXPECT_EQ(text(at(list[2], "TAGNAME")), "COUNTER");
    }
}

TEST_F(IoRequests, ListEntriesCarryTheirMembersInOrder) {
    const auto answer = client_->daqList(0, 2);
    ASSERT_TRUE(answer) << client_->lastError();
    const auto& list = at(*answer, "LIST");
    ASSERT_TRUE(list.IsArray());
    ASSERT_EQ(list.Size(), 2U);

    const auto& pi = list[0];
    EXPECT_EQ(memberNames(pi),
              (std::vector<std::string>{"INDEX", "TAGNAME", "SIG_TYPE", "RW", "UNIT", "GUID",
                                        "DESCRIPTION", "LISTCOUNT"}));
    EXPECT_EQ(text(at(pi, "TAGNAME")), "PI.FIXED");
    EXPECT_EQ(text(at(pi, "SIG_TYPE")), "0");
    EXPECT_EQ(text(at(pi, "RW")), "2");
    EXPECT_EQ(text(at(pi, "UNIT")), "m");
    EXPECT_EQ(text(at(pi, "GUID")), kPiGuid);
    EXPECT_EQ(text(at(pi, "DESCRIPTION")), "Pi, two decimals");
    EXPECT_TRUE(at(pi, "LISTCOUNT").IsString());
    EXPECT_EQ(text(at(pi, "LISTCOUNT")), "0");

    const auto& state = list[1];
    EXPECT_EQ(memberNames(state),
              (std::vector<std::string>{"INDEX", "TAGNAME", "SIG_TYPE", "RW", "UNIT", "GUID",
                                        "DESCRIPTION", "LISTCOUNT", "LISTVALUE"}));
    EXPECT_EQ(text(at(state, "SIG_TYPE")), "1");
    // No GUID: an empty text.
    EXPECT_TRUE(at(state, "GUID").IsString());
    EXPECT_EQ(text(at(state, "GUID")), "");
    EXPECT_EQ(text(at(state, "LISTCOUNT")), "3");
    const auto& values = at(state, "LISTVALUE");
    ASSERT_TRUE(values.IsArray());
    ASSERT_EQ(values.Size(), 3U);
    const char* names[] = {"Stopped", "Running", "Fault"};
    for (rapidjson::SizeType i = 0; i < 3; ++i) {
        EXPECT_EQ(memberNames(values[i]), (std::vector<std::string>{"VALUENAME", "VALUE"}));
        EXPECT_EQ(text(at(values[i], "VALUENAME")), names[i]);
        ASSERT_TRUE(at(values[i], "VALUE").IsInt());
        EXPECT_EQ(at(values[i], "VALUE").GetInt(), static_cast<int>(i));
    }
}

TEST_F(IoRequests, ListRangePastTheCountGivesIndexOnlyEntries) {
    const auto answer = client_->daqList(kRecords - 2, 4);
    ASSERT_TRUE(answer) << client_->lastError();
    const auto& list = at(*answer, "LIST");
    ASSERT_TRUE(list.IsArray());
    ASSERT_EQ(list.Size(), 4U);
    EXPECT_EQ(text(at(list[1], "TAGNAME")), "SPARE");
    for (rapidjson::SizeType i = 2; i < 4; ++i) {
        EXPECT_EQ(memberNames(list[i]), std::vector<std::string>{"INDEX"});
        EXPECT_EQ(text(at(list[i], "INDEX")), std::to_string(kRecords - 2 + i));
    }
    // Each missing record is traced as an error.
    const std::string end = std::to_string(kRecords + 2);
    for (const int missing : {kRecords, kRecords + 1}) {
        EXPECT_TRUE(tracedBy(
            host().traces(),
            traceContains(kTraceError, std::to_string(missing) + "/" + end + " DAQList error : "),
            [&] { EXPECT_TRUE(client_->daqList(kRecords - 2, 4)) << client_->lastError(); }))
            << missing;
    }
}

TEST_F(IoRequests, ListOfSizeZeroOrNegativeIsEmpty) {
    for (const int size : {0, -3}) {
        const auto answer = client_->daqList(1, size);
        ASSERT_TRUE(answer) << client_->lastError();
        const auto& list = at(*answer, "LIST");
        ASSERT_TRUE(list.IsArray());
        EXPECT_EQ(list.Size(), 0U) << size;
    }
    const auto withoutMembers = client_->request(R"({"PS_ID":"DAQLIST"})");
    ASSERT_TRUE(withoutMembers);
    EXPECT_EQ(at(*withoutMembers, "LIST").Size(), 0U);
}

TEST_F(IoRequests, DataEntriesFollowTheRequestedIndexes) {
    const auto answer = client_->request(R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[5,"2",5,)" +
                                         std::to_string(kRecords) + "]}");
    ASSERT_TRUE(answer) << client_->lastError();
    EXPECT_EQ(memberNames(*answer), (std::vector<std::string>{"PS_ID", "LIST"}));
    const auto& list = at(*answer, "LIST");
    ASSERT_TRUE(list.IsArray());
    ASSERT_EQ(list.Size(), 3U);
    EXPECT_EQ(text(at(list[0], "INDEX")), "5");
    EXPECT_EQ(text(at(list[1], "INDEX")), "2");
    EXPECT_EQ(text(at(list[2], "INDEX")), "5");

    const auto none = client_->request(R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[-1,99]})");
    ASSERT_TRUE(none);
    EXPECT_EQ(at(*none, "LIST").Size(), 0U);
    const auto absent = client_->request(R"({"PS_ID":"DAQ_DATA"})");
    ASSERT_TRUE(absent);
    EXPECT_EQ(at(*absent, "LIST").Size(), 0U);
    // Elements that are no integers name no record.
    const auto odd = client_->request(R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":["x",1.5,0.0]})");
    ASSERT_TRUE(odd);
    EXPECT_EQ(at(*odd, "LIST").Size(), 0U);
}

TEST_F(IoRequests, DataEntriesShowEachKindOfValueText) {
    const auto answer = refreshedData();
    ASSERT_TRUE(answer);
    const auto& list = at(*answer, "LIST");

    const auto& pi = list[0];
    EXPECT_EQ(memberNames(pi),
              (std::vector<std::string>{"INDEX", "GUID", "DATA", "UNIT", "TYPE", "TIME"}));
    EXPECT_EQ(text(at(pi, "GUID")), kPiGuid);
    EXPECT_EQ(text(at(pi, "DATA")), "3.14");
    EXPECT_EQ(text(at(pi, "UNIT")), "m");
    ASSERT_TRUE(at(pi, "TYPE").IsInt());
    EXPECT_EQ(at(pi, "TYPE").GetInt(), 5);
    EXPECT_THAT(text(at(pi, "TIME")),
                ::testing::MatchesRegex(
                    R"([0-9]{4}\.[0-9]{2}\.[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3})"));

    // 2.9 names the list entry whose value is 2.
    EXPECT_EQ(text(at(list[1], "DATA")), "Fault");
    EXPECT_TRUE(at(list[1], "GUID").IsString());
    EXPECT_EQ(text(at(list[1], "GUID")), "");
    // Decimals -1: the value text, not the number.
    EXPECT_EQ(text(at(list[2], "DATA")), "4.25 bar (manual)");
    EXPECT_EQ(text(at(list[3], "DATA")), "Backwash done");
    EXPECT_EQ(at(list[3], "TYPE").GetInt(), -1);
    EXPECT_EQ(text(at(list[4], "DATA")), "42");
    EXPECT_EQ(text(at(list[5], "DATA")), "-0.3");
    EXPECT_EQ(text(at(list[5], "GUID")), "{00000005-0000-0000-0000-0000000000AB}");
    EXPECT_EQ(text(at(list[6], "DATA")), "0.000");
}

TEST_F(IoRequests, IoListGetsNoAnswer) {
    EXPECT_TRUE(answersNothing(*client_, R"({"PS_ID":"IOLIST"})"));
}

// Two tags driven alike, so that the simulator gives both the same value and time in each of its
// writes, and the refresh copies both in one hold of the map's lock.
class ChangingValues : public SharedHostTest<ChangingValues> {
  public:
    static std::string project() {
        const std::string tag = R"xml(sig-type="0" data-type="5" decimals="0">
        <drive kind="ramp" min="0" max="86400000" period-ms="86400000" scan-ms="10"/>
      </tag>)xml";
        return projectFile(R"xml(<io-tree><group name="Twins">
      <tag name="TWIN.A" )xml" +
                           tag + R"xml(
      <tag name="TWIN.B" )xml" +
                           tag + "</group></io-tree>");
    }
};

// DATA and TIME of the entry at `i`.
std::pair<std::string, std::string> shown(const Answer& answer, rapidjson::SizeType i) {
    const auto& list = at(answer, "LIST");
    if (!list.IsArray() || list.Size() <= i) {
        return {};
    }
    return {text(at(list[i], "DATA")), text(at(list[i], "TIME"))};
}

TEST_F(ChangingValues, AValueChangedSinceTheLastPollIsSeenAtTheNextOne) {
    const auto client = host().connect();
    const std::vector<int> first{0};
    const std::vector<int> both{1, 0};
    std::set<std::string> seen;
    // Twin B is asked for only every fifth poll, so what was rendered for it at its last poll
    // is several refreshes old; the answer must show its value of now, which is A's.
    for (int poll = 0; poll < 400 && seen.size() < 8; ++poll) {
        const bool withTwin = poll % 5 == 4;
        const auto answer = client->daqData(withTwin ? both : first);
        ASSERT_TRUE(answer) << client->lastError();
        if (!withTwin) {
            continue;
        }
        const auto twinB = shown(*answer, 0);
        const auto twinA = shown(*answer, 1);
        ASSERT_FALSE(twinA.first.empty());
        EXPECT_EQ(twinB, twinA) << "poll " << poll;
        seen.insert(twinB.first);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GE(seen.size(), 8U) << "the values did not change within the polls";
}

}  // namespace
}  // namespace daq::test
