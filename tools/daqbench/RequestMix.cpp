#include "tools/daqbench/RequestMix.h"

#include <algorithm>
#include <numeric>

#include "server/protocol/Frame.h"
#include "tools/client/DaqClient.h"
#include "tools/client/Requests.h"

namespace daqbench {

namespace {

// Distinct DAQLIST pages framed up front; a connection goes round them.
constexpr std::size_t kMaxDistinctPages = 64;

std::string framed(const std::string& json) {
    std::string frame;
    daq::protocol::buildFrame(json, frame, daq::protocol::FrameTrailer::None);
    return frame;
}

daq::client::ClientDevice benchDevice() {
    return {"Linux", "", "daqbench", "loopback"};
}

RequestTemplate makeTemplate(const BenchOptions& options, RequestKind kind, std::int32_t tagCount) {
    RequestTemplate request;
    request.kind = kind;
    switch (kind) {
        case RequestKind::Alive:
            request.frames.push_back(framed(daq::client::aliveRequest()));
            break;
        case RequestKind::DaqData: {
            std::vector<int> indexes(static_cast<std::size_t>(options.indexes));
            for (int i = 0; i < options.indexes; ++i) {
                const std::int64_t index = std::int64_t{options.firstIndex} + i;
                indexes[static_cast<std::size_t>(i)] =
                    static_cast<int>(tagCount > 0 ? index % tagCount : index);
            }
            request.frames.push_back(framed(daq::client::daqDataRequest(indexes)));
            // Indexes past the map give no entry.
            request.entries =
                static_cast<int>(std::count_if(indexes.begin(), indexes.end(), [&](int index) {
                    return tagCount <= 0 || index < tagCount;
                }));
            break;
        }
        case RequestKind::DaqList: {
            const std::int64_t pages =
                tagCount > 0 ? (tagCount + options.pageSize - 1) / options.pageSize : 1;
            const auto distinct =
                static_cast<std::size_t>(std::clamp<std::int64_t>(pages, 1, kMaxDistinctPages));
            for (std::size_t page = 0; page < distinct; ++page) {
                request.frames.push_back(framed(daq::client::daqListRequest(
                    static_cast<int>(page) * options.pageSize, options.pageSize)));
            }
            request.entries = options.pageSize;  // indexes past the map give INDEX-only entries
            break;
        }
        case RequestKind::Login:
            request.frames.push_back(
                framed(daq::client::loginRequest(options.user, options.password, benchDevice())));
            break;
    }
    return request;
}

std::string describe(const RequestTemplate& request, const BenchOptions& options) {
    std::string text(kindName(request.kind));
    if (request.kind == RequestKind::DaqData) {
        text += "(k=" + std::to_string(options.indexes) + ")";
    } else if (request.kind == RequestKind::DaqList) {
        text += "(page=" + std::to_string(options.pageSize) + ")";
    }
    return text;
}

}  // namespace

RequestMix::RequestMix(const BenchOptions& options, std::int32_t tagCount) {
    std::vector<int> weights;
    for (const MixEntry& entry : options.mix) {
        templates_.push_back(makeTemplate(options, entry.kind, tagCount));
        weights.push_back(entry.weight);
        if (!description_.empty()) {
            description_ += '+';
        }
        description_ += describe(templates_.back(), options);
        if (options.mix.size() > 1) {
            description_ += ':' + std::to_string(entry.weight);
        }
    }
    // Smooth weighted round robin: every template as often as its weight, spread over the cycle.
    const int total = std::accumulate(weights.begin(), weights.end(), 0);
    std::vector<int> credit(weights.size(), 0);
    for (int slot = 0; slot < total; ++slot) {
        for (std::size_t i = 0; i < weights.size(); ++i) {
            credit[i] += weights[i];
        }
        const auto best = static_cast<std::size_t>(std::max_element(credit.begin(), credit.end()) -
                                                   credit.begin());
        credit[best] -= total;
        cycle_.push_back(static_cast<std::uint8_t>(best));
    }
    loginFrame_ = framed(daq::client::loginRequest(options.user, options.password, benchDevice()));
}

NextRequest RequestMix::next(MixCursor& cursor) const {
    const std::uint8_t index = cycle_[cursor.position];
    cursor.position = (cursor.position + 1) % cycle_.size();
    const std::vector<std::string>& frames = templates_[index].frames;
    std::string_view frame = frames.front();
    if (frames.size() > 1) {
        frame = frames[cursor.page++ % frames.size()];
    }
    return {index, frame};
}

bool answerMatches(const RequestTemplate& request, std::string_view text, bool loginMustPass) {
    const auto answer = daq::client::parseAnswer(text);
    if (!answer || !answer->IsObject()) {
        return false;
    }
    const auto member = [&](const char* name) -> const rapidjson::Value* {
        const auto found = answer->FindMember(name);
        return found == answer->MemberEnd() ? nullptr : &found->value;
    };
    switch (request.kind) {
        case RequestKind::Alive: {
            const rapidjson::Value* time = member("TIME");
            return time != nullptr && time->IsString();
        }
        case RequestKind::DaqData: {
            const rapidjson::Value* list = member("LIST");
            return list != nullptr && list->IsArray() &&
                   list->Size() == static_cast<rapidjson::SizeType>(request.entries);
        }
        case RequestKind::DaqList: {
            // The server ends a page early once its answer is half its output bound long.
            const rapidjson::Value* list = member("LIST");
            return list != nullptr && list->IsArray() && list->Size() >= 1 &&
                   list->Size() <= static_cast<rapidjson::SizeType>(request.entries);
        }
        case RequestKind::Login: {
            const rapidjson::Value* result = member("RESULT");
            return result != nullptr && result->IsBool() && (!loginMustPass || result->GetBool());
        }
    }
    return false;
}

}  // namespace daqbench
