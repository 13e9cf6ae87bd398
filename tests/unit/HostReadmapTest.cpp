// The IO-map library: the map the plug-in owns, and the host's writes through the open maps.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "host/readmap/MapAccess.h"
#include "kelvane/ReadMapFile.h"
#include "kelvane/Text.h"
#include "tests/unit/HostTestSupport.h"

using namespace kelvane;
using host::HeaderUpdate;

namespace {

TCurrentValue valueBlock(double value, const std::u16string& text) {
    TCurrentValue block{};
    block.TimeStamp = 45000.5;
    block.Value = value;
    block.Decimals = 2;
    StoreText(block.ValueText, text);
    return block;
}

class ReadMapTest : public ::testing::Test {
  protected:
    void TearDown() override { host::setOpenFailure(false); }

    TIOList records_[3]{};
};

}  // namespace

TEST_F(ReadMapTest, EntriesHaveHeadersOnlyWhileOpen) {
    TReadMapFile map;
    EXPECT_EQ(map.GetCount(), 0);
    for (TIOList& record : records_) {
        map.Add(&record);
    }
    ASSERT_EQ(map.GetCount(), 3);
    EXPECT_EQ(map.GetIOList(2), &records_[2]);
    EXPECT_EQ(map.GetIOList(3), nullptr);
    EXPECT_EQ(map.GetIOList(-1), nullptr);
    EXPECT_EQ(map.GetHeader(0), nullptr);

    ASSERT_NE(map.Open(true), 0);
    EXPECT_EQ(host::openMapCount(), 1);
    for (int32_t i = 0; i < 3; ++i) {
        ASSERT_NE(map.GetHeader(i), nullptr);
        EXPECT_EQ(value(map.GetHeader(i)->Index), i);
        EXPECT_EQ(map.GetHeader(i)->Current.Updated, 0) << "no value before the host writes one";
    }
    EXPECT_EQ(map.GetHeader(3), nullptr);
    // The block sits at 56 and its update byte at 140, where the plug-in reads them.
    auto* raw = reinterpret_cast<const uint8_t*>(map.GetHeader(1));
    EXPECT_EQ(raw + 56, reinterpret_cast<const uint8_t*>(&map.GetHeader(1)->Current));
    EXPECT_EQ(raw + 140, &map.GetHeader(1)->Current.Updated);

    map.Close();
    EXPECT_EQ(map.GetHeader(0), nullptr);
    EXPECT_EQ(map.GetCount(), 3) << "closing keeps the entries";
    EXPECT_EQ(host::openMapCount(), 0);

    ASSERT_NE(map.Open(true), 0);
    map.Clear();
    EXPECT_EQ(map.GetCount(), 0);
    EXPECT_EQ(map.GetHeader(0), nullptr);
    EXPECT_EQ(host::openMapCount(), 0);
}

TEST_F(ReadMapTest, OpenFailsWhenTheProjectAsksForIt) {
    TReadMapFile map;
    map.Add(&records_[0]);
    host::setOpenFailure(true);
    EXPECT_EQ(map.Open(true), 0);
    EXPECT_EQ(map.GetHeader(0), nullptr);
    EXPECT_EQ(host::openMapCount(), 0);
    map.Close();
    EXPECT_EQ(map.GetCount(), 1) << "the entries stay after a failed open";

    host::setOpenFailure(false);
    EXPECT_NE(map.Open(true), 0);
}

TEST_F(ReadMapTest, HostWritesReachEveryOpenEntryOfTheRecord) {
    TReadMapFile map;
    map.Add(&records_[0]);
    map.Add(&records_[1]);
    map.Add(&records_[0]);  // the same record twice
    const HeaderUpdate before{&records_[0], valueBlock(1.0, u"1.00")};
    EXPECT_EQ(host::writeHeaders(&before, 1), 0u) << "nothing is open yet";

    ASSERT_NE(map.Open(true), 0);
    const HeaderUpdate updates[] = {{&records_[0], valueBlock(3.14159, u"3.14")},
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

TEST_F(ReadMapTest, OpeningAMapTellsTheHost) {
    struct Counter {
        std::atomic<int> opened{0};
        void onOpened() { ++opened; }
    } counter;
    host::setMapOpenedEvent(host::MapOpenedEvent::bind<&Counter::onOpened>(&counter));
    TReadMapFile map;
    map.Add(&records_[0]);
    ASSERT_NE(map.Open(true), 0);
    ASSERT_NE(map.Open(true), 0);
    host::setOpenFailure(true);
    EXPECT_EQ(map.Open(true), 0);
    EXPECT_EQ(counter.opened, 2);
    host::setMapOpenedEvent({});
    host::setOpenFailure(false);
    ASSERT_NE(map.Open(true), 0);
    EXPECT_EQ(counter.opened, 2) << "a removed handler is not called";
}

// The host writes while the plug-in's side copies blocks under HeaderLock() and empties and
// reopens the map: every copied block is whole (its text matches its value).
TEST_F(ReadMapTest, ConcurrentWriterAndReaderSeeWholeBlocks) {
    TReadMapFile map;
    for (TIOList& record : records_) {
        map.Add(&record);
    }
    ASSERT_NE(map.Open(true), 0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int k = 1; k <= 20000 && !done; ++k) {
            const std::string digits = std::to_string(k);
            const std::u16string text(digits.begin(), digits.end());
            HeaderUpdate updates[3];
            for (int i = 0; i < 3; ++i) {
                updates[i] = {&records_[i], valueBlock(k, text)};
            }
            host::writeHeaders(updates, 3);
        }
        done = true;
    });
    int copies = 0;
    int mismatches = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        if (++copies % 500 == 0) {
            map.Close();  // what a DAQ stop and start do
            ASSERT_NE(map.Open(true), 0);
        }
        std::lock_guard lock(map.HeaderLock());
        for (int32_t i = 0; i < map.GetCount(); ++i) {
            const TMapHeader* header = map.GetHeader(i);
            if (header == nullptr || header->Current.Updated == 0) {
                continue;
            }
            TCurrentValue copy;
            std::memcpy(&copy, &header->Current, sizeof copy);
            const std::u16string text = blockText(copy);
            const std::string expected = std::to_string(static_cast<int>(copy.Value));
            mismatches += std::u16string(expected.begin(), expected.end()) == text ? 0 : 1;
        }
    }
    done = true;
    writer.join();
    EXPECT_GT(copies, 0);
    EXPECT_EQ(mismatches, 0);
}
