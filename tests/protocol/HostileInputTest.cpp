// Hostile and broken input over real sockets against the plug-in loaded by the stand-in host:
// every JSON parser case, every naughty string in every text a request carries, every line of
// the UTF-8 stress file, and other protocols on the port. After each, the server must still
// answer "ALIVE" on the same connection and its trace lines must stay one line each.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "tests/protocol/ProtocolTestSupport.h"
#include "tests/support/RawSocket.h"
#include "tools/client/Requests.h"

namespace daq::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInterface = "Bus H";
constexpr int kTextParameter = 0;
// The server closes a connection at its fifth refused login: the cases that send many refused
// logins take a new connection after this many.
constexpr int kRefusalsPerConnection = 4;
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

fs::path dataDir() {
    return fs::path(DAQ_TEST_DATA_DIR);
}

// The strings of the naughty-strings list.
std::vector<std::string> naughtyStrings() {
    rapidjson::Document list;
    list.Parse(readFile(dataDir() / "naughty-strings" / "blns.json").c_str());
    std::vector<std::string> strings;
    if (list.IsArray()) {
        for (const auto& item : list.GetArray()) {
            strings.emplace_back(item.GetString(), item.GetStringLength());
        }
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
    static std::string project() {
        return projectFile(R"xml(<system-tree>
    <interface unit-id="100" description="Bus H">
      <station unit-id="110" name="ST10" device-name="Hostile PLC" model="KV-3200">
        <parameter name="Name" type="0" value="start"/>
      </station>
    </interface>
  </system-tree>)xml");
    }

  protected:
    // Every trace line received so far is one line: no client text broke it.
    static ::testing::AssertionResult traceLinesAreSingleLines() {
        const auto all = host().traces().matching([](const TraceLine&) { return true; });
        for (const auto& line : all) {
            if (line.text.find_first_of("\r\n") != std::string::npos) {
                return ::testing::AssertionFailure() << "trace line breaks: " << line.text;
            }
        }
        return ::testing::AssertionSuccess() << all.size() << " lines";
    }

    // Sends `json`, then "ALIVE": gives the answer to `json` if one came first (empty when the
    // request got none); fails the test when "ALIVE" is not answered after it.
    static std::optional<std::string> answerThenAlive(DaqClient& client, std::string_view json) {
        auto& connection = client.connection();
        EXPECT_TRUE(connection.sendMessage(json)) << connection.lastError();
        EXPECT_TRUE(connection.sendMessage(client::aliveRequest())) << connection.lastError();
        auto first = connection.readFrame(kReplyTimeout);
        if (isAliveAnswer(first)) {
            return std::nullopt;
        }
        EXPECT_TRUE(isAliveAnswer(connection.readFrame(kReplyTimeout))) << json;
        return first;
    }
};

TEST_F(HostileInput, EveryJsonParserCaseLeavesTheConnectionAnsweringAlive) {
    auto client = host().connect();
    int cases = 0;
    for (const auto& entry : fs::directory_iterator(dataDir() / "jsontestsuite" / "test_parsing")) {
        const std::string name = entry.path().filename().string();
        ASSERT_TRUE(client->connection().sendRaw(requestFrame(readFile(entry.path()))));
        // No case carries a request id, so none is answered: the next answer is the ALIVE's.
        ASSERT_TRUE(nextAnswerIsAlive(*client)) << name;
        ++cases;
    }
    EXPECT_EQ(cases, 318);
}

TEST_F(HostileInput, NaughtyLoginTextsAreRefusedAndTracedOnOneLine) {
    const auto strings = naughtyStrings();
    ASSERT_EQ(strings.size(), 515u);
    std::unique_ptr<DaqClient> client;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const std::string& s = strings[i];
        if (i % kRefusalsPerConnection == 0) {
            client = host().connect();
        }
        const auto answer = client->login(s, s, client::ClientDevice{s, s, s, s}, s);
        ASSERT_TRUE(answer) << s << ": " << client->lastError();
        EXPECT_TRUE(at(*answer, "RESULT").IsFalse()) << s;
    }
    EXPECT_TRUE(nextAnswerIsAlive(*client));
    EXPECT_TRUE(traceLinesAreSingleLines());
}

TEST_F(HostileInput, NaughtyStartIndexGivesAPageOrNothing) {
    auto client = host().connect();
    for (const auto& s : naughtyStrings()) {
        for (const char* id : {"DAQLIST", "PARAMETERLIST"}) {
            const auto answer = answerThenAlive(*client, requestWith(id, "START_INDEX", s));
            if (answer) {
                const auto parsed = client::parseAnswer(*answer);
                ASSERT_TRUE(parsed) << id << " " << s;
                EXPECT_TRUE(at(*parsed, "PS_ID").IsTrue()) << id << " " << s;
            }
        }
    }
    EXPECT_TRUE(traceLinesAreSingleLines());
}

TEST_F(HostileInput, NaughtyParameterValuesAreWrittenAsTheyAreOrNotAtAll) {
    auto client = host().connect();
    ASSERT_TRUE(client->login(kAdmin, kAdmin));
    ASSERT_TRUE(client->parameterListCount(kInterface, "Hostile PLC", "ST10"));
    auto shownValue = [&] {
        const auto page = client->parameterList(kTextParameter, 1);
        EXPECT_TRUE(page) << client->lastError();
        const auto& list = at(*page, "LIST");
        EXPECT_TRUE(list.IsArray() && list.Size() == 1);
        return text(at(list[0], "VALUE"));
    };
    std::string shown = shownValue();
    int refused = 0;
    for (const auto& s : naughtyStrings()) {
        const auto answer = client->parameterWrite(0, kTextParameter, s);
        ASSERT_TRUE(answer) << s << ": " << client->lastError();
        // A value the record cannot hold whole is refused, never cut.
        const bool fits = fitsParameter(s) && s.find('\0') == std::string::npos;
        EXPECT_EQ(text(at(*answer, "RESULT")), fits ? "OK" : "FAILED") << s;
        shown = fits ? s : shown;
        refused += fits ? 0 : 1;
        EXPECT_EQ(shownValue(), shown) << s;
    }
    EXPECT_GT(refused, 0);
    EXPECT_TRUE(traceLinesAreSingleLines());
}

TEST_F(HostileInput, Utf8StressLinesRawAndInsideStringsLeaveTheServerAnswering) {
    std::istringstream file(readFile(dataDir() / "utf8" / "UTF-8-test.txt"));
    int lines = 0;
    int answeredLogins = 0;
    std::unique_ptr<DaqClient> client;
    for (std::string line; std::getline(file, line) && lines < 1000; ++lines) {
        if (lines % kRefusalsPerConnection == 0) {
            client = host().connect();
        }
        ASSERT_TRUE(client->connection().sendRaw(requestFrame(line)));
        ASSERT_TRUE(nextAnswerIsAlive(*client)) << "raw line " << lines + 1;
        // Inside a string: well-formed lines are refused logins, malformed ones no request.
        const auto answer = answerThenAlive(*client, requestWith("LOGIN", "ID", line));
        if (answer) {
            const auto parsed = client::parseAnswer(*answer);
            ASSERT_TRUE(parsed) << "line " << lines + 1;
            EXPECT_TRUE(at(*parsed, "RESULT").IsFalse()) << "line " << lines + 1;
            ++answeredLogins;
        }
    }
    EXPECT_GT(lines, 200);
    // Most lines are well-formed text; the malformed ones are the minority.
    EXPECT_GT(answeredLogins, lines / 2);
    EXPECT_LT(answeredLogins, lines);
    EXPECT_TRUE(traceLinesAreSingleLines());
}

// Bytes of other protocols hold no frame the server answers.
TEST_F(HostileInput, OtherProtocolsOnThePortGetNoAnswer) {
    // An HTTP request, and the start of a TLS 1.2 ClientHello (record header, handshake header,
    // version, 32 random bytes, no session, two suites, no compression).
    std::string clientHello("\x16\x03\x01\x00\x2f\x01\x00\x00\x2b\x03\x03", 11);
    clientHello += std::string(32, '\x5a');
    clientHello += std::string("\x00\x00\x04\x00\x2f\x00\x35\x01\x00", 9);
    for (const std::string& bytes :
         {std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n"),
          clientHello}) {
        RawSocket socket;
        ASSERT_TRUE(socket.connect(host().port()));
        ASSERT_TRUE(socket.send(bytes));
        EXPECT_EQ(socket.receive(1, 1000ms), "");
    }
    auto client = host().connect();
    EXPECT_TRUE(nextAnswerIsAlive(*client));
}

}  // namespace
}  // namespace daq::test
