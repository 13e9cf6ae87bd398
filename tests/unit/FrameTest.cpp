// Frame reassembly and frame building.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "server/protocol/Frame.h"
#include "server/protocol/FrameReader.h"

namespace daq::protocol {
namespace {

using namespace std::string_literals;

struct Outcome {
    std::vector<std::string> messages;
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

Outcome feedAll(const std::vector<std::string>& chunks, std::size_t bound = 1024) {
    FrameReader reader(bound);
    return feedAll(reader, chunks);
}

std::string frame(std::string_view text) {
    return "\x02"s + std::string(text) + "\x03"s;
}

const std::string kRequest = R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[0,1]})";

TEST(FrameReader, FrameInOnePieceIsDeliveredOnce) {
    FrameReader reader;
    const std::string chunk = frame(kRequest);
    const FrameStep step = reader.feed(chunk);
    EXPECT_EQ(step.status, FrameStatus::Good);
    EXPECT_EQ(step.consumed, chunk.size());
    EXPECT_EQ(reader.message(), kRequest);
}

TEST(FrameReader, FrameSplitAtAnyByteIsDeliveredOnceWhenEtxArrives) {
    const std::string whole = frame(kRequest);
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        FrameReader reader;
        EXPECT_EQ(reader.feed(whole.substr(0, cut)).status, FrameStatus::NeedMore) << cut;
        const Outcome rest = feedAll(reader, {whole.substr(cut)});
        ASSERT_EQ(rest.messages.size(), 1U) << "cut at " << cut;
        EXPECT_EQ(rest.messages[0], kRequest);
    }
}

TEST(FrameReader, FrameFedByteByByteIsDeliveredOnce) {
    std::vector<std::string> bytes;
    for (char c : frame(kRequest)) {
        bytes.emplace_back(1, c);
    }
    const Outcome outcome = feedAll(bytes);
    ASSERT_EQ(outcome.messages.size(), 1U);
    EXPECT_EQ(outcome.messages[0], kRequest);
}

TEST(FrameReader, EveryFrameOfAChunkIsDeliveredInOrder) {
    for (int count = 2; count <= 5; ++count) {
        std::string chunk;
        std::vector<std::string> sent;
        for (int i = 0; i < count; ++i) {
            sent.push_back(R"({"PS_ID":"ALIVE","N":)" + std::to_string(i) + "}");
            chunk += frame(sent.back());
        }
        EXPECT_EQ(feedAll({chunk}).messages, sent) << count << " frames";
    }
}

TEST(FrameReader, FrameAndStartOfNextInOneChunkKeepTheirOwnBytes) {
    const std::string second = R"({"PS_ID":"DAQSTATUS"})";
    const std::string chunk = frame(kRequest) + "\x02" + second.substr(0, 7);
    const Outcome outcome = feedAll({chunk, second.substr(7) + "\x03"});
    EXPECT_EQ(outcome.messages, (std::vector<std::string>{kRequest, second}));
}

TEST(FrameReader, BytesOutsideFramesBelongToNoMessage) {
    // Leading noise, the server-style trailing zero, noise between frames.
    const Outcome outcome =
        feedAll({"noise" + frame("A") + "\0"s + "junk\x03" + frame("B"), "tail"});
    EXPECT_EQ(outcome.messages, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(outcome.dropped, 0);
}

TEST(FrameReader, FrameWithoutStxIsIgnoredAndDoesNotRepeatThePreviousOne) {
    const Outcome outcome = feedAll({frame(kRequest), "{\"PS_ID\":\"ALIVE\"}\x03", frame("B")});
    EXPECT_EQ(outcome.messages, (std::vector<std::string>{kRequest, "B"}));
}

TEST(FrameReader, StxInsideAnUnfinishedFrameStartsItAfresh) {
    EXPECT_EQ(feedAll({"\x02"
                       "abandoned",
                       "\x02"
                       "kept\x03"})
                  .messages,
              (std::vector<std::string>{"kept"}));
}

TEST(FrameReader, ZeroByteEndsTheMessage) {
    EXPECT_EQ(feedAll({frame("ab\0cd"s)}).messages, (std::vector<std::string>{"ab"}));
    // The zero and the ETX in different chunks; what follows the zero is not the message.
    EXPECT_EQ(feedAll({"\x02"
                       "ab\0c"s,
                       "d\x03" + frame("next")})
                  .messages,
              (std::vector<std::string>{"ab", "next"}));
    // An STX after the zero starts a new frame.
    EXPECT_EQ(feedAll({"\x02"
                       "ab\0c\x02"
                       "new\x03"s})
                  .messages,
              (std::vector<std::string>{"new"}));
}

TEST(FrameReader, EmptyFrameGivesAnEmptyMessage) {
    EXPECT_EQ(feedAll({"\x02\x03"}).messages, (std::vector<std::string>{""}));
}

TEST(FrameReader, MessageAtTheBoundIsKept) {
    const std::string text(16, 'x');
    EXPECT_EQ(feedAll({frame(text)}, 16).messages, (std::vector<std::string>{text}));
}

TEST(FrameReader, OversizedFrameIsDroppedAndTheNextFrameIsDelivered) {
    const Outcome inOneChunk = feedAll({frame(std::string(17, 'x')) + frame("good")}, 16);
    EXPECT_EQ(inOneChunk.dropped, 1);
    EXPECT_EQ(inOneChunk.messages, (std::vector<std::string>{"good"}));

    // The oversized frame spans chunks: its rest, ETX included, is skipped up to the next STX.
    const Outcome acrossChunks = feedAll(
        {"\x02" + std::string(10, 'x'), std::string(10, 'y'), "zz\x03" + frame("good")}, 16);
    EXPECT_EQ(acrossChunks.dropped, 1);
    EXPECT_EQ(acrossChunks.messages, (std::vector<std::string>{"good"}));
}

TEST(FrameReader, OversizedStreamWithoutEtxIsReportedOnce) {
    FrameReader reader(16);
    std::vector<std::string> chunks{"\x02"};
    for (int i = 0; i < 100; ++i) {
        chunks.push_back(std::string(100, 'x'));
    }
    const Outcome outcome = feedAll(reader, chunks);
    EXPECT_EQ(outcome.dropped, 1);
    EXPECT_TRUE(outcome.messages.empty());
    EXPECT_EQ(feedAll(reader, {frame("after")}).messages, (std::vector<std::string>{"after"}));
}

// Whether input is pending after each chunk: what the unfinished-frame time-out runs on.
TEST(FrameReader, InputIsPendingUntilAFrameCompletesWithNothingLeft) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<bool> pending;  // after each chunk
    };
    const std::vector<Case> cases{
        {{"\x02{", "}\x03"}, {true, false}},
        {{"\x02{}\x03\x02{"}, {true}},                         // the next frame has begun
        {{"\x02{}\x03\x00"s, "\x00"s}, {false, false}},        // zero bytes between frames
        {{"GET / HTTP/1.1\r\n", frame("{}")}, {true, false}},  // another protocol, then a frame
        {{frame("{}") + "\r\n"}, {false}},                     // a line end after the frame
        {{frame("{}") + "x"}, {true}},                         // other bytes after it
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

TEST(BuildFrame, ServerFrameEndsWithEtxAndZero) {
    std::string out;
    buildFrame(R"({"PS_ID":true})", out);
    EXPECT_EQ(out, "\x02{\"PS_ID\":true}\x03\0"s);
}

TEST(BuildFrame, EmptyTextStillGivesAFrame) {
    std::string out;
    buildFrame("", out);
    EXPECT_EQ(out, "\x02\x03\0"s);
}

TEST(BuildFrame, ClientFrameHasNoTrailingZeroAndTheBufferIsReused) {
    std::string out = "left over from an earlier, longer response";
    buildFrame("{}", out, FrameTrailer::None);
    EXPECT_EQ(out, "\x02{}\x03");
}

TEST(BuildFrame, ReaderGetsBackWhatWasFramed) {
    std::string out;
    buildFrame(kRequest, out);
    EXPECT_EQ(feedAll({out + out}).messages, (std::vector<std::string>{kRequest, kRequest}));
}

}  // namespace
}  // namespace daq::protocol
