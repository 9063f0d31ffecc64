#include "upstream/ListingLines.h"

#include <gtest/gtest.h>

namespace {

struct ListRow {
    const char* line;
    bool valid;
    long size;
};

TEST(ListingLines, AListLineIsANumberAndASizeWithinTheLimit)
{
    const ListRow rows[] = {
        {"1 120", true, 120},
        {"12 0", true, 0},
        {"3   409", true, 409},                    // blanks between
        {"4 512 extra information", true, 512},    // RFC 1939 lets servers add more
        {"5 77\tx", true, 77},
        {"6 1000", true, 1000},                    // at the limit
        {"6 1001", false, 0},                      // beyond it
        {"1 999999999999999999", false, 0},        // 18 digits, beyond the limit
        {"1 1234567890123456789", false, 0},       // 19 digits: no number
        {"1", false, 0},
        {"1 ", false, 0},
        {" 1 120", false, 0},
        {"1 -120", false, 0},
        {"1 +120", false, 0},
        {"a 120", false, 0},
        {"1 12a", false, 0},
        {"1\t120", false, 0},
        {"", false, 0},
        {".", false, 0},
    };
    for (const ListRow& row : rows) {
        long size = -1;
        EXPECT_EQ(parseListLine(row.line, 1000, size), row.valid) << '"' << row.line << '"';
        if (row.valid) {
            EXPECT_EQ(size, row.size) << row.line;
        }
    }
    long size = 0;
    EXPECT_TRUE(parseListLine("1 999999999999999999", 999999999999999999L, size));
    EXPECT_EQ(size, 999999999999999999L);
}

TEST(ListingLines, TheIdOfAUidlLineIsWhatFollowsItsFirstBlank)
{
    EXPECT_EQ(uidOfUidlLine("1 abc"), "abc");
    EXPECT_EQ(uidOfUidlLine("1 a b"), "a b") << "kept whole, for the caller to judge";
    EXPECT_EQ(uidOfUidlLine("1  x"), " x");
    EXPECT_EQ(uidOfUidlLine("1"), "");
    EXPECT_EQ(uidOfUidlLine("1 "), "");
    EXPECT_EQ(uidOfUidlLine(""), "");
}

} // namespace
