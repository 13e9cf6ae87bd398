// What the broker publisher makes of the values the refresh pass hands it: the hand-over's order
// and bound, the per-tag queue's coalescing, bound, deadband and rate limit (on a clock the test
// moves), the topic level of a tag name, and the time and value of a payload.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "server/mqtt/Payload.h"
#include "server/mqtt/TopicName.h"
#include "server/mqtt/ValueHandover.h"
#include "server/mqtt/ValueQueue.h"

using namespace daq::mqtt;
using std::chrono::milliseconds;

namespace {

// A step at `ms` on the queue's clock: offer `value` to `tag`, or with tag -1 take what is due
// and expect `taken` ("<tag>=<value> ...") and, when `dueMs` is not -1, the next due time.
struct Step {
    int ms;
    int tag;
    double value = 0;
    const char* taken = "";
    int dueMs = -1;
};

struct QueueCase {
    const char* what;
    QueueLimits limits;
    bool analog;
    std::vector<Step> steps;
    uint64_t dropped = 0;
};

std::string takenText(const std::vector<ValueQueue::Taken>& taken) {
    std::string text;
    for (const ValueQueue::Taken& one : taken) {
        char value[32];
        std::snprintf(value, sizeof value, "%g", one.value.number);
        text += (text.empty() ? "" : " ") + std::to_string(one.tag) + "=" + value;
    }
    return text;
}

}  // namespace

TEST(MqttValueQueue, CoalescesBoundsAndLimitsPerTag) {
    const QueueCase cases[] = {
        {"the latest value of each tag, tags in the order they changed",
         {},
         true,
         {{0, 1, 5}, {0, 0, 1}, {0, 0, 2}, {0, 1, 6}, {0, -1, 0, "1=6 0=2"}, {0, -1, 0, ""}}},
        {"a full queue drops a tag that does not wait yet, and only that",
         {2, milliseconds(0), 0},
         true,
         {{0, 0, 1},
          {0, 1, 1},
          {0, 2, 1},
          {0, 0, 2},
          {0, -1, 0, "0=2 1=1"},
          {0, 2, 3},
          {0, -1, 0, "2=3"}},
         1},
        {"the deadband counts from the last value taken in",
         {10, milliseconds(0), 0.5},
         true,
         {{0, 0, 10},
          {0, -1, 0, "0=10"},
          {0, 0, 10.4},
          {0, -1, 0, ""},
          {0, 0, 10.6},
          {0, 0, 10.2},
          {0, -1, 0, "0=10.6"},
          {0, 0, 10.1},
          {0, -1, 0, "0=10.1"}}},
        {"named values and texts have no deadband",
         {10, milliseconds(0), 0.5},
         false,
         {{0, 0, 10}, {0, 0, 10.4}, {0, -1, 0, "0=10.4"}}},
        {"a tag is taken at most once per interval, with its latest value then",
         {10, milliseconds(100), 0},
         true,
         {{0, 0, 1},
          {0, -1, 0, "0=1"},
          {10, 0, 2},
          {10, 1, 7},
          {10, -1, 0, "1=7", 100},
          {60, 0, 3},
          {99, -1, 0, "", 100},
          {100, -1, 0, "0=3"}}},
    };
    for (const QueueCase& test : cases) {
        SCOPED_TRACE(test.what);
        ValueQueue queue(3, test.limits);
        const Clock::time_point start{};
        for (const Step& step : test.steps) {
            const Clock::time_point now = start + milliseconds(step.ms);
            if (step.tag >= 0) {
                TagValue value;
                value.number = step.value;
                value.analog = test.analog;
                queue.offer(step.tag, value);
                continue;
            }
            std::vector<ValueQueue::Taken> taken;
            const Clock::time_point due = queue.take(now, 100, taken);
            EXPECT_EQ(takenText(taken), step.taken) << "at " << step.ms << " ms";
            if (step.dueMs != -1) {
                EXPECT_EQ(due, start + milliseconds(step.dueMs)) << "at " << step.ms << " ms";
            }
        }
        EXPECT_EQ(queue.takeDropped(), test.dropped);
    }
}

// The refresh pass hands its values over once per pass; a publisher that falls behind finds
// them in order, and at most the bound of them: the rest are counted as dropped.
TEST(MqttValueHandover, KeepsPassesInOrderUpToItsBound) {
    ValueHandover handover(3);
    const kelvane::TIOList record{};
    const auto pass = [&](std::vector<int32_t> tags) {
        for (const int32_t tag : tags) {
            kelvane::TCurrentValue value{};
            value.Value = tag;
            handover.offer(tag, record, value);
        }
        return handover.passDone();
    };
    const auto taken = [&] {
        std::vector<OfferedValue> values;
        handover.take(values);
        std::string text;
        for (const OfferedValue& value : values) {
            text += std::to_string(value.tag) + "=" + std::to_string(int(value.value.Value)) + " ";
        }
        return text + "dropped " + std::to_string(handover.takeDropped());
    };
    EXPECT_FALSE(pass({}));
    EXPECT_TRUE(pass({0, 1}));
    EXPECT_TRUE(pass({2, 1}));  // not taken yet: one more fits
    EXPECT_EQ(taken(), "0=0 1=1 2=2 dropped 1");
    EXPECT_TRUE(pass({4, 5, 6, 7}));  // a pass longer than the bound
    EXPECT_EQ(taken(), "4=4 5=5 6=6 dropped 1");
    EXPECT_EQ(taken(), "dropped 0");
}

TEST(MqttTopicName, EscapesWhatMqttForbidsAndKeepsNamesApart) {
    const std::pair<std::u16string, std::string> levels[] = {
        {u"INTAKE.LEVEL", "INTAKE.LEVEL"},
        {u"a/b", "a%2Fb"},
        {u"+#", "%2B%23"},
        {u"50%", "50%25"},
        {std::u16string(u"a\0b", 3), "a%00b"},
        {u"\tx\x7f", "%09x%7F"},
        {u"\u0085\u00e9", "%C2%85\xC3\xA9"},  // C1 control escaped, a letter kept
        {u"\U0001F600", "\xF0\x9F\x98\x80"},  // a surrogate pair is one character
        {u"\xD800z", "%ED%A0%80z"},           // an unpaired one is escaped
        {u"", ""},
    };
    for (const auto& [name, level] : levels) {
        EXPECT_EQ(escapeTopicLevel(name), level);
    }
    // Same names get the index appended; what a name could escape to never takes it.
    EXPECT_EQ(tagTopicLevels({u"A", u"A", u"A%~1", u"A/"}),
              (std::vector<std::string>{"A", "A%~1", "A%25~1", "A%2F"}));
}

TEST(MqttPayload, TimeHasTheOffsetOfItsDayAndValueItsKind) {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const std::pair<daq::DateTimeParts, std::string> times[] = {
        {{2026, 1, 15, 8, 14, 27, 761}, "2026-01-15T08:14:27.761+01:00"},
        {{2026, 7, 1, 23, 0, 0, 5}, "2026-07-01T23:00:00.005+02:00"},
        // the hours either side of the changes to summer time and back
        {{2026, 3, 29, 1, 59, 59, 999}, "2026-03-29T01:59:59.999+01:00"},
        {{2026, 3, 29, 3, 0, 0, 0}, "2026-03-29T03:00:00.000+02:00"},
        {{2026, 10, 25, 1, 59, 59, 999}, "2026-10-25T01:59:59.999+02:00"},
        {{2026, 10, 25, 3, 0, 0, 0}, "2026-10-25T03:00:00.000+01:00"},
    };
    for (const auto& [parts, text] : times) {
        EXPECT_EQ(isoTime(daq::encodeDateTime(parts)), text);
    }
    TagInfo tag;
    tag.unit = "m";
    TagValue number;
    number.number = 2.5;
    number.text = "2.50";
    number.time = daq::encodeDateTime({2026, 1, 15, 8, 0, 0, 0});
    TagValue text = number;
    text.isText = true;
    EXPECT_EQ(valuePayload(&number, tag, "good"),
              R"({"value":2.5,"text":"2.50","unit":"m","time":"2026-01-15T08:00:00.000+01:00",)"
              R"("quality":"good"})");
    EXPECT_EQ(valuePayload(&text, tag, "good").substr(0, 18), R"({"value":"2.50","t)");
    EXPECT_EQ(valuePayload(nullptr, tag, "stale"),
              R"({"value":null,"text":"","unit":"m","time":null,"quality":"stale"})");
}
