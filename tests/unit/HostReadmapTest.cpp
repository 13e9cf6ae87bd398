// The IO-map library: the map the plug-in owns, and the host's writes through the open maps
// (their writes beside readers that empty and reopen maps: ServerIomapTest).
#include <gtest/gtest.h>

#include <string>

#include "host/readmap/MapAccess.h"
#include "kelvane/ReadMapFile.h"
#include "kelvane/Text.h"
#include "tests/unit/HostTestSupport.h"

using namespace kelvane;
using host::HeaderUpdate;

namespace {

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
