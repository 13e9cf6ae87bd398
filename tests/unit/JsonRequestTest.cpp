// Parsing received messages and reading request values by path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include "server/protocol/Frame.h"
#include "server/protocol/FrameReader.h"
#include "server/protocol/JsonRequest.h"

namespace daq::protocol {
namespace {

using namespace std::string_literals;

std::optional<rapidjson::Document> parse(std::string_view text) {
    return parseJsonMessage(text);
}

// Paths name members of nested objects; texts come back byte for byte, numbers and literal
// words as their text; absent paths give the caller's default; objects and arrays throw.
TEST(GetJsonString, ReadsByPath) {
    const auto request = parse(
        "{\"PS_ID\":\"LOGIN\",\"DEVICE\":{\"OS\":\"Linux\",\"MODEL NAME\":\"X1\","
        "\"INNER\":{\"DEEP\":\"yes\"}},\"DEVICE.VERSION\":\"flat\",\"ID\":\"\xEC\x82\xAC\","
        "\"ESC\":\"a\\u0000b\\u0002\\\"\",\"ID\":\"second\",\"A\":1.50,\"B\":-0,\"C\":1E3,"
        "\"D\":12345678901234567890123,\"E\":0.1000000000000000055511151231257827,"
        "\"T\":true,\"F\":false,\"N\":null,\"O\":{\"X\":\"1\"},\"L\":[1,2]}");
    ASSERT_TRUE(request);
    const std::pair<const char*, std::string> cases[] = {
        {"PS_ID", "LOGIN"},
        {"DEVICE.MODEL NAME", "X1"},
        {"DEVICE.INNER.DEEP", "yes"},
        {"DEVICE.VERSION", "default"},  // a flat member whose name holds a dot is another one
        {"ID", "\xEC\x82\xAC"},         // of duplicated names the first counts
        {"ID.X", "default"},            // a step through a text
        {"ESC", "a\0b\x02\""s},
        {"A", "1.50"},
        {"D", "12345678901234567890123"},
        {"T", "true"},
        {"N", "null"},
    };
    for (const auto& [path, text] : cases) {
        EXPECT_EQ(getJsonString(request, path, "default"), text) << path;
    }
    EXPECT_THROW(getJsonString(request, "O"), std::runtime_error);
    EXPECT_THROW(getJsonString(request, "L"), std::runtime_error);
    EXPECT_EQ(getJsonString(std::optional<rapidjson::Document>{}, "PS_ID", "unparsed"), "unparsed");
    EXPECT_EQ(getJsonString(parse(R"(["PS_ID"])"), "PS_ID"), "");
}

// Malformed UTF-8 is refused: the i_string_* cases of JsonTestSuite below.
TEST(ParseJsonMessage, TextEndsAtTheFirstZeroByte) {
    const auto request = parse("{\"PS_ID\":\"ALIVE\"}\0garbage"s);
    ASSERT_TRUE(request);
    EXPECT_EQ(getJsonString(request, "PS_ID"), "ALIVE");
}

TEST(ParseJsonMessage, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    const std::string opening(100000, '[');
    JsonParseError error;
    EXPECT_FALSE(parseJsonMessage(opening, {}, &error));
    EXPECT_NE(error.message.find("nesting"), std::string::npos) << error.message;

    // Without the depth bound the iterative parser still gets through to the missing end.
    const JsonParseOptions unbounded{.numbersAsText = true, .maxDepth = opening.size() + 1};
    EXPECT_FALSE(parseJsonMessage(opening, unbounded, &error));
    EXPECT_EQ(error.offset, opening.size());

    const std::string nested64 = std::string(64, '[') + std::string(64, ']');
    EXPECT_TRUE(parseJsonMessage(nested64));
    EXPECT_FALSE(parseJsonMessage("[" + nested64 + "]"));
}

TEST(ParseJsonMessage, ClientOptionKeepsNumbersAsNumbers) {
    const auto answer =
        parseJsonMessage(R"({"PS_ID":true,"TYPE":3,"VALUE":2.5})", {.numbersAsText = false});
    ASSERT_TRUE(answer);
    EXPECT_TRUE((*answer)["TYPE"].IsInt());
    EXPECT_EQ((*answer)["TYPE"].GetInt(), 3);
    EXPECT_DOUBLE_EQ((*answer)["VALUE"].GetDouble(), 2.5);
}

// Every case of the parser suite, framed and sent through the frame reader as the server does.
class JsonTestSuite : public ::testing::Test {
  protected:
    static std::string readFile(const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    static std::optional<std::string> throughFrameReader(const std::string& payload) {
        std::string framed;
        buildFrame(payload, framed, FrameTrailer::None);
        FrameReader reader;
        const FrameStep step = reader.feed(framed);
        if (step.status != FrameStatus::Good || step.consumed != framed.size()) {
            return std::nullopt;
        }
        return std::string(reader.message());
    }
};

TEST_F(JsonTestSuite, CasesAreAcceptedOrRejectedAsExpected) {
    // The implementation-defined cases this parser accepts; it rejects the other 27.
    const std::set<std::string> acceptedImplementationDefined = {
        "i_number_double_huge_neg_exp.json",       "i_number_real_underflow.json",
        "i_number_too_big_neg_int.json",           "i_number_too_big_pos_int.json",
        "i_number_very_big_negative_int.json",     "i_object_key_lone_2nd_surrogate.json",
        "i_string_incomplete_surrogate_pair.json", "i_string_lone_second_surrogate.json",
    };
    // Valid up to its zero byte, where the frame rules end the message.
    const std::string endsAtZero = "n_multidigit_number_then_00.json";

    const std::filesystem::path dir =
        std::filesystem::path(DAQ_TEST_DATA_DIR) / "jsontestsuite" / "test_parsing";
    int cases = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".json") {
            continue;
        }
        ++cases;
        const auto message = throughFrameReader(readFile(entry.path()));
        ASSERT_TRUE(message) << name;
        const bool accepted = parseJsonMessage(*message).has_value();
        switch (name.front()) {
            case 'y':
                EXPECT_TRUE(accepted) << name;
                break;
            case 'n':
                EXPECT_EQ(accepted, name == endsAtZero) << name;
                break;
            default:
                EXPECT_EQ(accepted, acceptedImplementationDefined.contains(name)) << name;
        }
    }
    EXPECT_EQ(cases, 318);
}

}  // namespace
}  // namespace daq::protocol
