#include "tools/client/DaqClient.h"

#include <utility>

#include "server/protocol/JsonRequest.h"

namespace daq::client {

DaqClient::DaqClient(ClientSettings settings) : connection_(std::move(settings)) {}

std::optional<Answer> DaqClient::request(std::string_view json) {
    auto fail = [this] {
        errorKind_ = connection_.lastErrorKind();
        error_ = connection_.lastError();
        return std::nullopt;
    };
    if (!connection_.sendMessage(json)) {
        return fail();
    }
    const auto text = connection_.readFrame();
    if (!text) {
        return fail();
    }
    std::string parseError;
    auto answer = parseAnswer(*text, &parseError);
    if (!answer) {
        errorKind_ = ClientErrorKind::BadReply;
        error_ = "answer is not JSON (" + parseError + "): " + text->substr(0, 200);
        return std::nullopt;
    }
    errorKind_ = ClientErrorKind::None;
    error_.clear();
    return answer;
}

std::optional<Answer> parseAnswer(std::string_view text, std::string* error) {
    protocol::JsonParseError parseError;
    auto answer = protocol::parseJsonMessage(text, {.numbersAsText = false}, &parseError);
    if (!answer && error != nullptr) {
        *error = parseError.message + " at byte " + std::to_string(parseError.offset);
    }
    return answer;
}

}  // namespace daq::client
