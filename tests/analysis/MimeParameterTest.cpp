#include "analysis/MimeParameter.h"

#include <gtest/gtest.h>

namespace {

TEST(MimeParameter, ANameCountsOnlyWholeAndTheValueEndsWhereItsQuotingSays)
{
    struct Row {
        const char* field;
        const char* name;
        std::optional<std::string> value;
    } const rows[] = {
        {"multipart/mixed; boundary=\"b 1\"", "boundary", "b 1"},
        {"multipart/mixed; BOUNDARY=b1; x=y", "boundary", "b1"},
        {"multipart/mixed; boundary = b1", "boundary", "b1"},
        {"multipart/mixed;boundary=\"unclosed", "boundary", "unclosed"},
        {"multipart/mixed; boundary=", "boundary", ""},
        // Another parameter that ends in the name is not it: the first
        // whole one counts, for the rules and the virus walk alike.
        {"multipart/mixed; xboundary=\"a\"; boundary=\"b\"", "boundary", "b"},
        {"multipart/mixed; xboundary=\"a\"", "boundary", std::nullopt},
        {"attachment; filename=evil.exe", "name", std::nullopt},
        {"attachment; filename=evil.exe", "filename", "evil.exe"},
        {"text/plain; charset", "charset", std::nullopt},
        {"", "charset", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(mimeParameter(row.field, row.name), row.value) << row.field;
}

} // namespace
