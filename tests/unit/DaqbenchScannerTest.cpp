// The load generator's answer scanner: where answers end, whatever the segmentation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/daqbench/AnswerScanner.h"

namespace {

using daqbench::AnswerScanner;

struct Scanned {
    std::vector<std::string> texts;
    std::size_t bytes = 0;
};

// Feeds `stream` in pieces of `piece` bytes, collecting the text of every finished answer.
Scanned scan(const std::string& stream, std::size_t piece) {
    AnswerScanner scanner;
    Scanned scanned;
    std::string text;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        std::string_view chunk = std::string_view(stream).substr(at, piece);
        while (!chunk.empty()) {
            const auto step = scanner.feed(chunk);
            EXPECT_GT(step.consumed, 0u);
            chunk.remove_prefix(step.consumed);
            scanned.bytes += step.consumed;
            text.append(step.text);
            if (step.answerEnded) {
                scanned.texts.push_back(std::move(text));
                text.clear();
            }
        }
    }
    return scanned;
}

TEST(DaqbenchScanner, FindsEveryAnswerAtAnySegmentation) {
    using namespace std::string_literals;
    // Two answers with junk before, between and behind (the unframed stop notice among it).
    const std::string stream =
        "junk\x02{\"A\":1}\x03\0"s + "{\"PS_ID\":true}" + "\x02{\"LIST\":[1,2,3]}\x03\0"s + "tail";
    for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
        const Scanned scanned = scan(stream, piece);
        ASSERT_EQ(scanned.texts.size(), 2u) << "pieces of " << piece;
        EXPECT_EQ(scanned.texts[0], "{\"A\":1}") << "pieces of " << piece;
        EXPECT_EQ(scanned.texts[1], "{\"LIST\":[1,2,3]}") << "pieces of " << piece;
        EXPECT_EQ(scanned.bytes, stream.size());
    }
}

TEST(DaqbenchScanner, AnswerWithoutItsZeroByteStillEnds) {
    using namespace std::string_literals;
    const Scanned scanned = scan("\x02{}\x03\x02[]\x03\0"s, 64);
    ASSERT_EQ(scanned.texts.size(), 2u);
    EXPECT_EQ(scanned.texts[0], "{}");
    EXPECT_EQ(scanned.texts[1], "[]");
}

}  // namespace
