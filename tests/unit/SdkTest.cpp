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

// Reads outside the list raise the range error the host's plug-ins catch; a delete moves the
// later elements down.
TEST(TTList, ReadOutsideRaisesRangeErrorAndDeleteClosesTheGap) {
    TTList<std::string> list;
    EXPECT_THROW(list[0], ERangeError);
    for (const char* s : {"a", "b", "c"}) {
        list.Add(s);
    }
    EXPECT_THROW(list[-1], ERangeError);
    EXPECT_THROW(list[3], ERangeError);
    EXPECT_FALSE(list.Delete(-1));
    EXPECT_FALSE(list.Delete(3));
    EXPECT_TRUE(list.Delete(1));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0] + list[1], "ac");
}

// A stored text is cut to its field, with no terminator when it fills it, and never between the
// halves of a surrogate pair.
TEST(Text, StoreCutsToTheFieldAndKeepsSurrogatePairsWhole) {
    char16_t field[4];
    StoreText(field, u"ab");
    EXPECT_EQ(field[2], u'\0');
    EXPECT_EQ(FieldText(field), u"ab");
    StoreText(field, u"abcdef");
    EXPECT_EQ(FieldText(field), u"abcd");
    StoreText(field, u"abc\U0001F600d");
    EXPECT_EQ(FieldText(field), u"abc");
    EXPECT_EQ(CutText(u"abc\U0001F600d", 5), u"abc\U0001F600");
    const char16_t lone[] = {u'a', u'b', 0xD800, u'c'};  // cut like any other unit
    EXPECT_EQ(CutText({lone, 4}, 3), std::u16string_view(lone, 3));
    EXPECT_EQ(RefText(nullptr), u"");
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
