// The simulator: how each tag's value moves, time stamps, and the values reaching open maps; the
// IO-map library it writes through: the map the plug-in owns, and the host's writes through the
// open maps (their writes beside readers that empty and reopen maps: ServerIomapTest).
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "host/core/HostDateTime.h"
#include "host/core/Plant.h"
#include "host/core/ProjectFile.h"
#include "host/core/Simulator.h"
#include "host/core/TagDriver.h"
#include "host/readmap/MapAccess.h"
#include "kelvane/ReadMapFile.h"
#include "kelvane/Text.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;
using namespace kelvane;
using std::chrono::milliseconds;

namespace {

TagSpec numeric(DriveKind kind, int32_t decimals) {
    TagSpec tag;
    tag.unit = "bar";
    tag.decimals = decimals;
    tag.drive.kind = kind;
    tag.drive.minimum = 10;
    tag.drive.maximum = 20;
    tag.drive.periodMs = 1000;
    return tag;
}

TCurrentValue valueBlock(double value, const std::u16string& text) {
    TCurrentValue block{};
    block.Value = value;
    StoreText(block.ValueText, text);
    return block;
}

class ReadMapTest : public ::testing::Test {
  protected:
    TIOList records_[3]{};
};

}  // namespace

TEST(TagDriver, SineAndRampFollowTheirPeriodAndShowTheirDecimalsOrUnit) {
    const struct {
        DriveKind kind;
        int32_t decimals;  // -1: the value as text with its unit
        int ms;
        double value;
        std::u16string text;
    } cases[] = {
        {DriveKind::Sine, 2, 250, 20.0, u"20.00"},
        {DriveKind::Sine, 2, 750, 10.0, u"10.00"},
        {DriveKind::Ramp, 1, 1100, 11.0, u"11.0"},
        {DriveKind::Ramp, -1, 500, 15.0, u"15.00 bar"},
    };
    for (const auto& each : cases) {
        const TagSpec spec = numeric(each.kind, each.decimals);
        TagDriver driver(spec, 1);
        const TCurrentValue value = driver.next(milliseconds(each.ms), 44000.25);
        EXPECT_NEAR(value.Value, each.value, 1e-9) << each.ms;
        EXPECT_EQ(blockText(value), each.text) << each.ms;
        EXPECT_EQ(value.Decimals, each.decimals);
        EXPECT_DOUBLE_EQ(value.TimeStamp, 44000.25);
        EXPECT_EQ(value.Updated, 1);
    }
}

TEST(TagDriver, RandomWalkStaysInItsBoundsAndMovesByItsStep) {
    const TagSpec walk = numeric(DriveKind::RandomWalk, 3);
    TagDriver driver(walk, 7);
    double previous = 15.0;
    bool moved = false;
    for (int i = 0; i < 1000; ++i) {
        const double value = driver.next(milliseconds(i), 1.0).Value;
        EXPECT_GE(value, 10.0);
        EXPECT_LE(value, 20.0);
        EXPECT_LE(std::abs(value - previous), 1.0 + 1e-12);
        moved = moved || value != previous;
        previous = value;
    }
    EXPECT_TRUE(moved);
}

TEST(TagDriver, ListAndTextTagsStepThroughTheirEntries) {
    TagSpec list;
    list.sigType = stList;
    list.values = {{"Stopped", 0}, {"Running", 1}, {"Fault", 7}};
    list.drive.kind = DriveKind::Cycle;
    TagDriver cycle(list, 1);
    for (const auto& [name, value] : {std::pair{u"Stopped", 0.0}, std::pair{u"Running", 1.0},
                                      std::pair{u"Fault", 7.0}, std::pair{u"Stopped", 0.0}}) {
        const TCurrentValue current = cycle.next(milliseconds(0), 1.0);
        EXPECT_EQ(blockText(current), name);
        EXPECT_DOUBLE_EQ(current.Value, value);
    }

    TagSpec text;
    text.sigType = stText;
    text.drive.kind = DriveKind::Text;
    text.drive.messages = {"Filter backwash started", std::string(40, 'm')};
    TagDriver messages(text, 1);
    EXPECT_EQ(blockText(messages.next(milliseconds(0), 1.0)), u"Filter backwash started");
    EXPECT_EQ(blockText(messages.next(milliseconds(0), 1.0)).size(), 31u)
        << "cut to the block's text with its terminating zero";
}

TEST(HostDateTime, DaysSince1899InLocalTime) {
    using namespace std::chrono;
    const system_clock::time_point epoch{};
    const std::time_t zero = 0;
    std::tm local{};
    localtime_r(&zero, &local);
    EXPECT_NEAR(hostDateTime(epoch), 25569.0 + local.tm_gmtoff / 86400.0, 1e-9);
    // Half a day and 123 ms later.
    const double later = hostDateTime(epoch + hours(12) + milliseconds(123));
    EXPECT_NEAR((later - hostDateTime(epoch)) * 86'400'000.0, 43'200'123.0, 1e-3);
}

TEST(Simulator, WritesEveryTagIntoAMapAsSoonAsItOpensAndKeepsWriting) {
    const ProjectFile file = ProjectFile::fromText(R"(<kelvane-project><io-tree>
        <tag name="A"><drive kind="ramp" scan-ms="20"/></tag>
        <tag name="B" sig-type="2"><drive kind="text" scan-ms="3600000"><message>hello</message>
        </drive></tag></io-tree>
      <system-tree><station name="S" offline-every-ms="60" offline-for-ms="30"/></system-tree>
    </kelvane-project>)",
                                                   "sim.xml");
    Plant plant(file.model());
    Simulator simulator(plant);
    simulator.start();

    TReadMapFile map;
    for (const IoRecords::Tag& tag : plant.io().tags()) {
        map.Add(tag.record);
    }
    ASSERT_NE(map.Open(true), 0);
    const double opened = hostDateTime(std::chrono::system_clock::now());
    // Every tag, the slow one too (one value an hour), has its value when the open returns.
    for (int32_t i = 0; i < map.GetCount(); ++i) {
        std::lock_guard lock(map.HeaderLock());
        EXPECT_NE(value(map.GetHeader(i)->Current.Updated), 0) << i;
    }

    // The fast tag keeps counting; the station goes offline and back.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    uint64_t fastWrites = 0;
    bool sawText = false;
    bool sawOffline = false;
    bool sawOnline = false;
    const int32_t* state = plant.system().units().front().connectState;
    while (std::chrono::steady_clock::now() < deadline &&
           !(sawText && fastWrites >= 5 && sawOffline && sawOnline)) {
        {
            std::lock_guard lock(map.HeaderLock());
            fastWrites = value(map.GetHeader(0)->WriteCount);
            const TCurrentValue& text = map.GetHeader(1)->Current;
            sawText = text.Updated != 0 && blockText(text) == u"hello";
        }
        const int32_t now = std::atomic_ref<int32_t>(*const_cast<int32_t*>(state)).load();
        sawOffline = sawOffline || now == 0;
        sawOnline = sawOnline || (sawOffline && now == 1);
        std::this_thread::sleep_for(milliseconds(5));
    }
    simulator.stop();
    EXPECT_TRUE(sawText);
    EXPECT_GE(fastWrites, 5u);
    EXPECT_TRUE(sawOffline);
    EXPECT_TRUE(sawOnline);
    EXPECT_NEAR(value(map.GetHeader(0)->Current.TimeStamp), opened, 11.0 / 86400.0);
    // The values the map opened with are not the simulator's writes.
    EXPECT_GE(simulator.headersWritten(), fastWrites - 1);

    // Stopped: nothing is written any more.
    const uint64_t after = value(map.GetHeader(0)->WriteCount);
    std::this_thread::sleep_for(milliseconds(60));
    EXPECT_EQ(value(map.GetHeader(0)->WriteCount), after);
}

// A failing open: ServerRuntimeTest and HostSessionTest; the open event: the simulator's slow
// tags (HostSimulatorTest).
TEST_F(ReadMapTest, EntriesHaveHeadersOnlyWhileOpen) {
    TReadMapFile map;
    for (TIOList& record : records_) {
        map.Add(&record);
    }
    ASSERT_EQ(map.GetCount(), 3);
    EXPECT_EQ(map.GetIOList(2), &records_[2]);
    EXPECT_EQ(map.GetIOList(3), nullptr);
    EXPECT_EQ(map.GetHeader(0), nullptr);
    ASSERT_NE(map.Open(true), 0);
    EXPECT_EQ(host::openMapCount(), 1);
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(value(map.GetHeader(i)->Index), i);
        EXPECT_EQ(map.GetHeader(i)->Current.Updated, 0) << "no value before the host writes one";
    }
    EXPECT_EQ(map.GetHeader(3), nullptr);
    map.Close();
    EXPECT_EQ(map.GetHeader(0), nullptr);
    EXPECT_EQ(map.GetCount(), 3) << "closing keeps the entries";
    EXPECT_EQ(host::openMapCount(), 0);
    ASSERT_NE(map.Open(true), 0);
    map.Clear();
    EXPECT_EQ(map.GetCount(), 0);
    EXPECT_EQ(host::openMapCount(), 0);
}

TEST_F(ReadMapTest, HostWritesReachEveryOpenEntryOfTheRecord) {
    TReadMapFile map;
    map.Add(&records_[0]);
    map.Add(&records_[1]);
    map.Add(&records_[0]);  // the same record twice
    ASSERT_NE(map.Open(true), 0);
    const host::HeaderUpdate updates[] = {{&records_[0], valueBlock(3.14159, u"3.14")},
                                          {&records_[2], valueBlock(9.0, u"9.00")}};
    EXPECT_EQ(host::writeHeaders(updates, 2), 2u) << "record 2 is not in the map";

    for (int32_t i : {0, 2}) {
        const TMapHeader* header = map.GetHeader(i);
        EXPECT_EQ(header->Current.Updated, 1);
        EXPECT_DOUBLE_EQ(value(header->Current.Value), 3.14159);
        EXPECT_EQ(blockText(header->Current), u"3.14");
        EXPECT_EQ(value(header->WriteCount), 1u);
    }
    EXPECT_EQ(map.GetHeader(1)->Current.Updated, 0);

    TCurrentValue read{};
    EXPECT_TRUE(host::readHeader(&records_[0], &read));
    EXPECT_EQ(blockText(read), u"3.14");
    EXPECT_FALSE(host::readHeader(&records_[2], &read));

    map.Clear();
    EXPECT_EQ(host::writeHeaders(updates, 2), 0u) << "a cleared map is no longer written";
}
