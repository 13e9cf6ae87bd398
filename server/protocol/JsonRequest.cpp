#include "server/protocol/JsonRequest.h"

#include <cstring>
#include <stdexcept>

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include "server/protocol/JsonText.h"

namespace daq::protocol {

namespace {

// Passes the parser's events on to the document and refuses to open more than `maxDepth`
// objects and arrays, so a hostile message cannot make the document's stack grow with it.
class DepthLimit {
  public:
    DepthLimit(rapidjson::Document& target, std::size_t maxDepth)
        : target_(target), maxDepth_(maxDepth) {}

    bool Null() { return target_.Null(); }
    bool Bool(bool b) { return target_.Bool(b); }
    bool Int(int i) { return target_.Int(i); }
    bool Uint(unsigned u) { return target_.Uint(u); }
    bool Int64(int64_t i) { return target_.Int64(i); }
    bool Uint64(uint64_t u) { return target_.Uint64(u); }
    bool Double(double d) { return target_.Double(d); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool copy) {
        return target_.RawNumber(s, n, copy);
    }
    bool String(const char* s, rapidjson::SizeType n, bool copy) {
        return target_.String(s, n, copy);
    }
    bool Key(const char* s, rapidjson::SizeType n, bool copy) { return target_.Key(s, n, copy); }
    bool StartObject() { return enter() && target_.StartObject(); }
    bool EndObject(rapidjson::SizeType members) {
        --depth_;
        return target_.EndObject(members);
    }
    bool StartArray() { return enter() && target_.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) {
        --depth_;
        return target_.EndArray(elements);
    }

  private:
    bool enter() { return ++depth_ <= maxDepth_; }

    rapidjson::Document& target_;
    std::size_t maxDepth_;
    std::size_t depth_ = 0;
};

constexpr unsigned kBaseFlags = rapidjson::kParseValidateEncodingFlag |
                                rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag;

template <unsigned Flags>
rapidjson::ParseResult parseInto(rapidjson::Document& doc, std::string_view text,
                                 std::size_t maxDepth) {
    // Parsed in place, in a copy the document's own allocator keeps for the document's life:
    // strings and numbers then point into the copy instead of being copied one by one, which
    // halves the cost of a long array of numbers.
    char* copy = static_cast<char*>(doc.GetAllocator().Malloc(text.size() + 1));
    if (!text.empty()) {  // an empty view may have no data pointer at all
        std::memcpy(copy, text.data(), text.size());
    }
    copy[text.size()] = '\0';
    rapidjson::ParseResult result;
    auto generate = [&](rapidjson::Document& target) {
        // A plain stream: a byte order mark is not skipped but refused, as the protocol has none.
        rapidjson::InsituStringStream stream(copy);
        rapidjson::Reader reader;
        DepthLimit limited(target, maxDepth);
        result = reader.Parse<Flags | rapidjson::kParseInsituFlag>(stream, limited);
        return !result.IsError();
    };
    doc.Populate(generate);
    return result;
}

std::string describe(const rapidjson::ParseResult& result, std::size_t maxDepth) {
    if (result.Code() == rapidjson::kParseErrorTermination) {
        return "nesting deeper than " + std::to_string(maxDepth) + " levels";
    }
    return rapidjson::GetParseError_En(result.Code());
}

}  // namespace

std::optional<rapidjson::Document> parseJsonMessage(std::string_view text,
                                                    const JsonParseOptions& options,
                                                    JsonParseError* error) {
    // The message ends at its first zero byte, as on the wire.
    text = text.substr(0, text.find('\0'));
    rapidjson::Document doc;
    const rapidjson::ParseResult result =
        options.numbersAsText ? parseInto<kBaseFlags | rapidjson::kParseNumbersAsStringsFlag>(
                                    doc, text, options.maxDepth)
                              : parseInto<kBaseFlags>(doc, text, options.maxDepth);
    if (result.IsError()) {
        if (error != nullptr) {
            *error = {describe(result, options.maxDepth), result.Offset()};
        }
        return std::nullopt;
    }
    return doc;
}

const rapidjson::Value* findJsonPath(const rapidjson::Value& root, std::string_view path) {
    const rapidjson::Value* node = &root;
    while (true) {
        const std::size_t dot = path.find('.');
        const std::string_view name = path.substr(0, dot);
        if (!node->IsObject()) {
            return nullptr;
        }
        const rapidjson::Value key(rapidjson::StringRef(name.data(), name.size()));
        const auto member = node->FindMember(key);
        if (member == node->MemberEnd()) {
            return nullptr;
        }
        node = &member->value;
        if (dot == std::string_view::npos) {
            return node;
        }
        path.remove_prefix(dot + 1);
    }
}

std::string jsonValueText(const rapidjson::Value& value) {
    switch (value.GetType()) {
        case rapidjson::kStringType:
            return {value.GetString(), value.GetStringLength()};
        case rapidjson::kNumberType:
        case rapidjson::kTrueType:
        case rapidjson::kFalseType:
        case rapidjson::kNullType:
            return toJsonText(value);
        case rapidjson::kObjectType:
            throw std::runtime_error("value is an object, not a text");
        case rapidjson::kArrayType:
            throw std::runtime_error("value is an array, not a text");
    }
    throw std::runtime_error("value of unknown kind");
}

std::string getJsonString(const rapidjson::Value& root, std::string_view path,
                          std::string_view fallback) {
    const rapidjson::Value* value = findJsonPath(root, path);
    return value == nullptr ? std::string(fallback) : jsonValueText(*value);
}

std::string getJsonString(const std::optional<rapidjson::Document>& request, std::string_view path,
                          std::string_view fallback) {
    return request ? getJsonString(*request, path, fallback) : std::string(fallback);
}

}  // namespace daq::protocol
