// Host SDK: list semantics, texts and the layouts no header asserts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kelvane/IORecords.h"
#include "kelvane/PinRecords.h"
#include "kelvane/Pinz.h"
#include "kelvane/TTList.h"
#include "kelvane/Text.h"

using namespace kelvane;

TEST(TTList, ReadOutsideRaisesRangeError) {
    TTList<int> list;
    EXPECT_THROW(list[0], ERangeError);
    list.Add(1);
    EXPECT_THROW(list[-1], ERangeError);
    EXPECT_THROW(list[1], ERangeError);
    EXPECT_EQ(list[0], 1);
}

TEST(TTList, DeleteMovesLaterElementsDown) {
    TTList<std::string> list;
    for (const char* s : {"a", "b", "c", "d"}) {
        list.Add(s);
    }
    EXPECT_FALSE(list.Delete(-1));
    EXPECT_FALSE(list.Delete(4));
    EXPECT_EQ(list.Count(), 4);
    EXPECT_TRUE(list.Delete(1));
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list[1], "c");
    EXPECT_EQ(list[2], "d");
}

TEST(Text, StoreCutsToFieldWithoutTerminator) {
    char16_t field[4];
    StoreText(field, u"ab");
    EXPECT_EQ(field[2], u'\0');
    EXPECT_EQ(FieldText(field), u"ab");
    StoreText(field, u"abcdef");
    EXPECT_EQ(FieldText(field), u"abcd");
    EXPECT_EQ(RefText(nullptr), u"");
}

TEST(Text, CutNeverSplitsASurrogatePair) {
    const std::u16string_view text = u"abc\U0001F600d";  // the pair is units 3 and 4
    EXPECT_EQ(CutText(text, 4), u"abc");
    EXPECT_EQ(CutText(text, 5), u"abc\U0001F600");
    EXPECT_EQ(CutText(text, 9), text);
    // A lone first surrogate in the text is cut like any other unit.
    const char16_t lone[] = {u'a', u'b', 0xD800, u'c'};
    EXPECT_EQ(CutText({lone, 4}, 3), std::u16string_view(lone, 3));
    char16_t field[4];
    StoreText(field, text);
    EXPECT_EQ(FieldText(field), u"abc");
}

// The command records have no layout assertion in their header: read them by byte offset, as
// the host does.
template <typename T>
T at(const void* record, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof(T));
    return value;
}

TEST(Records, CommandRecordsReadableAtTheHostsOffsets) {
    TPinzLoginUser user{};
    user.Flags[kLoginWriteFlag] = 1;
    EXPECT_EQ(at<uint8_t>(&user, 26), 1);
    TPinzCommand command{};
    command.Code = 106;
    command.Result = -3;
    EXPECT_EQ(at<int32_t>(&command, 0), 106);
    EXPECT_EQ(at<int32_t>(&command, 28), -3);
}
