// Serialising responses.
#include <gtest/gtest.h>

#include <string>

#include "server/protocol/JsonText.h"

namespace daq::protocol {
namespace {

using namespace std::string_literals;

TEST(ToJsonText, CompactInInsertionOrderWithDuplicatedNames) {
    rapidjson::Document answer(rapidjson::kObjectType);
    auto& alloc = answer.GetAllocator();
    answer.AddMember("PS_ID", true, alloc);
    answer.AddMember("RESULT", "OK", alloc);
    answer.AddMember("RESULT", "0", alloc);
    EXPECT_EQ(toJsonText(answer), R"({"PS_ID":true,"RESULT":"OK","RESULT":"0"})");
}

TEST(ToJsonText, EscapesFrameBytesAndKeepsUtf8) {
    rapidjson::Document answer(rapidjson::kObjectType);
    const std::string text = "\x02x\x03\0\xEC\x82\xAC"s;
    answer.AddMember("V",
                     rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()),
                                      answer.GetAllocator()),
                     answer.GetAllocator());
    const std::string json = toJsonText(answer);
    EXPECT_EQ(json, "{\"V\":\"\\u0002x\\u0003\\u0000\xEC\x82\xAC\"}");
    EXPECT_EQ(json.find_first_of("\x02\x03\0"s), std::string::npos);
}

}  // namespace
}  // namespace daq::protocol
