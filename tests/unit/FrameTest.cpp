// Frame reassembly and frame building: the frame rules, tested here once.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "server/protocol/Frame.h"
#include "server/protocol/FrameReader.h"

namespace daq::protocol {
namespace {

using namespace std::string_literals;
using Messages = std::vector<std::string>;

struct Outcome {
    Messages messages;
    int dropped = 0;
};

// Feeds the chunks in order and collects what the reader reports.
Outcome feedAll(FrameReader& reader, const std::vector<std::string>& chunks) {
    Outcome outcome;
    for (const auto& chunk : chunks) {
        std::string_view rest = chunk;
        while (!rest.empty()) {
            const FrameStep step = reader.feed(rest);
            EXPECT_GT(step.consumed, 0U);
            EXPECT_LE(step.consumed, rest.size());
            rest.remove_prefix(step.consumed);
            if (step.status == FrameStatus::Good) {
                outcome.messages.emplace_back(reader.message());
            } else if (step.status == FrameStatus::DroppedOversize) {
                ++outcome.dropped;
            }
        }
    }
    return outcome;
}

std::string frame(std::string_view text) {
    return "\x02"s + std::string(text) + "\x03"s;
}

const std::string kRequest = R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[0,1]})";

TEST(FrameReader, FrameSplitAtAnyByteIsDeliveredOnceWhenEtxArrives) {
    const std::string whole = frame(kRequest);
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        FrameReader reader;
        if (cut > 0) {
            EXPECT_EQ(reader.feed(whole.substr(0, cut)).status, FrameStatus::NeedMore) << cut;
        }
        EXPECT_EQ(feedAll(reader, {whole.substr(cut)}).messages, Messages{kRequest}) << cut;
    }
}

// Chunks in, messages and drops out; messages of at most 16 bytes.
TEST(FrameReader, Rules) {
    const struct {
        const char* rule;
        std::vector<std::string> chunks;
        Messages messages;
        int dropped = 0;
    } cases[] = {
        {"a frame and the start of the next keep their own bytes",
         {frame("A") + "\x02" + "B1", "B2\x03"},
         {"A", "B1B2"}},
        {"bytes outside frames belong to no message",
         {"noise" + frame("A") + "\0"s + "junk\x03" + frame("B"), "tail"},
         {"A", "B"}},
        {"a frame without STX does not repeat the previous one",
         {frame("A"), "{\"PS_ID\":\"ALIVE\"}\x03", frame("B")},
         {"A", "B"}},
        {"an STX inside an unfinished frame starts it afresh",
         {"\x02" + "abandoned"s, "\x02" + "kept\x03"s},
         {"kept"}},
        {"what follows the zero is not the message",
         {"\x02" + "ab\0c"s, "d\x03" + frame("next")},
         {"ab", "next"}},
        {"an STX after the zero starts a new frame", {"\x02" + "ab\0c\x02"s + "new\x03"s}, {"new"}},
        {"a message at the bound", {frame(std::string(16, 'x'))}, {std::string(16, 'x')}},
        {"the rest of a dropped frame is skipped up to the next STX",
         {"\x02" + std::string(10, 'x'), std::string(10, 'y'), "zz\x03" + frame("good")},
         {"good"},
         1},
        {"a stream without ETX is dropped once",
         {"\x02", std::string(100, 'x'), std::string(100, 'x'), frame("after")},
         {"after"},
         1},
    };
    for (const auto& each : cases) {
        FrameReader reader(16);
        const Outcome outcome = feedAll(reader, each.chunks);
        EXPECT_EQ(outcome.messages, each.messages) << each.rule;
        EXPECT_EQ(outcome.dropped, each.dropped) << each.rule;
    }
}

// Whether input is pending after each chunk: what the unfinished-frame time-out runs on.
TEST(FrameReader, InputIsPendingUntilAFrameCompletesWithNothingLeft) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<bool> pending;  // after each chunk
    };
    const std::vector<Case> cases{
        {{"\x02{", "}\x03"}, {true, false}},
        {{"\x02{}\x03\x00"s, "\x00"s}, {false, false}},        // zero bytes between frames
        {{"GET / HTTP/1.1\r\n", frame("{}")}, {true, false}},  // another protocol, then a frame
        {{frame("{}") + "\r\n"}, {false}},                     // a line end after the frame
        {{"\x02{\x00junk"s, "\x03"}, {true, false}},           // message ended at a zero byte
        {{frame(std::string(17, 'x')), "\x00"s, frame("ok")}, {true, true, false}},  // dropped
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        FrameReader reader(16);
        EXPECT_FALSE(reader.inputPending());
        for (std::size_t c = 0; c < cases[i].chunks.size(); ++c) {
            feedAll(reader, {cases[i].chunks[c]});
            EXPECT_EQ(reader.inputPending(), cases[i].pending[c])
                << "case " << i << ", chunk " << c;
        }
    }
}

TEST(BuildFrame, ServerFramesEndWithEtxAndZeroClientFramesWithEtx) {
    std::string out = "left over from an earlier, longer response";
    buildFrame("{}", out, FrameTrailer::None);
    EXPECT_EQ(out, "\x02{}\x03");
    buildFrame("", out);
    EXPECT_EQ(out, "\x02\x03\0"s);
    buildFrame(kRequest, out);
    FrameReader reader;
    EXPECT_EQ(feedAll(reader, {out + out}).messages, (Messages{kRequest, kRequest}));
}

}  // namespace
}  // namespace daq::protocol
