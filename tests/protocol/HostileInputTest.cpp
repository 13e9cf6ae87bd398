// Hostile and broken input over real sockets against the plug-in loaded by the stand-in host:
// every JSON parser case, every naughty string in every text a request carries, every line of
// the UTF-8 stress file. Each request is pipelined with an "ALIVE" behind it: the server must
// answer it at most once and go on answering, and its trace lines must stay one line each.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

namespace fs = std::filesystem;

// The server closes a connection at its fifth refused login: the cases that send many refused
// logins take a new connection after this many.
constexpr std::size_t kRefusalsPerConnection = 4;
// UTF-16 units a text parameter's value holds; a longer value is refused.
constexpr std::size_t kParameterTextUnits = 127;

// Whether a UTF-8 text fits a text parameter's record: a four-byte sequence takes two UTF-16
// units, a continuation byte none, any other byte one.
bool fitsParameter(std::string_view text) {
    std::size_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        units += byte >= 0xF0 ? 2 : (byte & 0xC0) != 0x80 ? 1 : 0;
    }
    return units <= kParameterTextUnits;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const fs::path kDataDir(DAQ_TEST_DATA_DIR);

std::vector<std::string> naughtyStrings() {
    rapidjson::Document list;
    list.Parse(readFile(kDataDir / "naughty-strings" / "blns.json").c_str());
    std::vector<std::string> strings;
    for (const auto& item : list.GetArray()) {
        strings.emplace_back(item.GetString(), item.GetStringLength());
    }
    return strings;
}

// A request with "PS_ID" `id` and one more string member, written by RapidJSON. The writer
// copies bytes at or above 0x80 unchecked, so malformed UTF-8 reaches the server as it is.
std::string requestWith(std::string_view id, std::string_view name, std::string_view value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("PS_ID");
    writer.String(id.data(), static_cast<rapidjson::SizeType>(id.size()));
    writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
    writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    writer.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

class HostileInput : public SharedHostTest<HostileInput> {
  public:
    static HostOptions options() {
        return hostWith(projectFile(R"xml(<system-tree>
    <interface unit-id="100" description="Bus H">
      <station unit-id="110" name="ST10" device-name="Hostile PLC" model="KV-3200">
        <parameter name="Name" type="0" value="start"/>
      </station>
    </interface>
  </system-tree>)xml"));
    }

  protected:
    void TearDown() override {
        for (const auto& line : host().traces().matching([](const TraceLine&) { return true; })) {
            EXPECT_EQ(line.text.find_first_of("\r\n"), std::string::npos) << line.text;
        }
    }

    // Sends every payload as a frame with "ALIVE" behind it, in one write to a new connection for
    // each `perConnection` payloads; gives each payload's answer (nothing when the "ALIVE" answer
    // came first). Fails the test when more than one answer comes before an "ALIVE" answer, or
    // none at all.
    static std::vector<std::optional<std::string>> answersTo(
        const std::vector<std::string>& payloads, std::size_t perConnection = 1 << 20) {
        std::vector<std::optional<std::string>> answers;
        for (std::size_t first = 0; first < payloads.size(); first += perConnection) {
            const std::size_t end = std::min(payloads.size(), first + perConnection);
            const auto client = host().connect();
            auto& connection = client->connection();
            std::string bytes;
            for (std::size_t i = first; i < end; ++i) {
                bytes += requestFrame(payloads[i]) + requestFrame(client::aliveRequest());
            }
            EXPECT_TRUE(connection.sendRaw(bytes)) << connection.lastError();
            for (std::size_t i = first; i < end; ++i) {
                auto answer = connection.readFrame(kReplyTimeout);
                if (isAliveAnswer(answer)) {
                    answer.reset();
                } else {
                    EXPECT_TRUE(isAliveAnswer(connection.readFrame(kReplyTimeout))) << payloads[i];
                }
                answers.push_back(answer);
            }
        }
        return answers;
    }
};

TEST_F(HostileInput, NoJsonParserCaseIsAnswered) {
    std::vector<std::string> cases;
    for (const auto& entry : fs::directory_iterator(kDataDir / "jsontestsuite" / "test_parsing")) {
        cases.push_back(readFile(entry.path()));
    }
    ASSERT_EQ(cases.size(), 318u);
    // No case carries a request id.
    for (const auto& answer : answersTo(cases)) {
        EXPECT_FALSE(answer) << *answer;
    }
}

TEST_F(HostileInput, NaughtyLoginTextsAreRefused) {
    std::vector<std::string> logins;
    for (const auto& s : naughtyStrings()) {
        logins.push_back(client::loginRequest(s, s, client::ClientDevice{s, s, s, s}, s));
    }
    ASSERT_EQ(logins.size(), 515u);
    const auto answers = answersTo(logins, kRefusalsPerConnection);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(answers[i].value_or("none"), R"({"PS_ID":true,"RESULT":false})") << logins[i];
    }
}

TEST_F(HostileInput, NaughtyStartIndexGivesAPageOrNothing) {
    std::vector<std::string> requests;
    for (const auto& s : naughtyStrings()) {
        for (const char* id : {"DAQLIST", "PARAMETERLIST"}) {
            requests.push_back(requestWith(id, "START_INDEX", s));
        }
    }
    const auto answers = answersTo(requests);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        EXPECT_TRUE(!answers[i] || answers[i]->starts_with(R"({"PS_ID":true,)")) << requests[i];
    }
}

TEST_F(HostileInput, NaughtyParameterValuesAreWrittenAsTheyAreOrNotAtAll) {
    const auto strings = naughtyStrings();
    std::vector<std::string> requests{
        client::loginRequest(kAdmin, kAdmin),
        client::parameterListCountRequest("Bus H", "Hostile PLC", "ST10")};
    for (const auto& s : strings) {
        requests.push_back(client::parameterWriteRequest(0, 0, s));
        requests.push_back(client::parameterListRequest(0, 1));
    }
    const auto answers = answersTo(requests);
    ASSERT_EQ(answers.size(), 2 + 2 * strings.size());
    ASSERT_TRUE(answers[1] && answers[1]->find(R"("COUNT":1)") != std::string::npos) << "select";
    std::string shown = "start";
    int refused = 0;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const std::string& s = strings[i];
        // A value the record cannot hold whole is refused, never cut.
        const bool fits = fitsParameter(s) && s.find('\0') == std::string::npos;
        const auto written = client::parseAnswer(answers[2 + 2 * i].value_or(""));
        const auto page = client::parseAnswer(answers[3 + 2 * i].value_or(""));
        ASSERT_TRUE(written && page) << s;
        EXPECT_STREQ((*written)["RESULT"].GetString(), fits ? "OK" : "FAILED") << s;
        shown = fits ? s : shown;
        refused += fits ? 0 : 1;
        const auto& value = (*page)["LIST"][0]["VALUE"];
        EXPECT_EQ(std::string(value.GetString(), value.GetStringLength()), shown) << s;
    }
    EXPECT_GT(refused, 0);
}

TEST_F(HostileInput, Utf8StressLinesRawAndInsideStringsLeaveTheServerAnswering) {
    std::istringstream file(readFile(kDataDir / "utf8" / "UTF-8-test.txt"));
    std::vector<std::string> requests;
    for (std::string line; std::getline(file, line);) {
        requests.push_back(line);
        requests.push_back(requestWith("LOGIN", "ID", line));
    }
    // Each connection takes as many lines as it may refuse logins.
    const auto answers = answersTo(requests, 2 * kRefusalsPerConnection);
    std::size_t answeredLogins = 0;
    for (std::size_t i = 0; i < answers.size(); i += 2) {
        EXPECT_FALSE(answers[i]) << "raw line " << i / 2 + 1;
        // Inside a string: well-formed lines are refused logins, malformed ones no request.
        if (answers[i + 1]) {
            EXPECT_EQ(*answers[i + 1], R"({"PS_ID":true,"RESULT":false})") << i / 2 + 1;
            ++answeredLogins;
        }
    }
    EXPECT_GT(answers.size(), 400u);
    // Most lines are well-formed text; the malformed ones are the minority.
    EXPECT_GT(answeredLogins, answers.size() / 4);
    EXPECT_LT(answeredLogins, answers.size() / 2);
}

}  // namespace
}  // namespace daq::test
