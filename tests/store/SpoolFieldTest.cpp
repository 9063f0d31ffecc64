// The spool field of an account state record: the two forms it is written
// in, and everything else refused, so that no record names a file outside
// the state folder or a slice no collection could have written.
#include "store/SpoolField.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(SpoolField, TheTwoFormsReadBackAsWritten)
{
    SpoolField own;
    ASSERT_TRUE(SpoolField::parse("000a1", own));
    EXPECT_FALSE(own.inPack());
    EXPECT_EQ(own.fileName(), "msg000a1.msg");
    EXPECT_EQ(own.text(), "000a1");

    SpoolField slice;
    ASSERT_TRUE(SpoolField::parse("1F2e3:4096:731", slice));
    EXPECT_TRUE(slice.inPack());
    EXPECT_EQ(slice.fileName(), "hdr1F2e3.pack");
    EXPECT_EQ(slice.offset, 4096);
    EXPECT_EQ(slice.length, 731);
    EXPECT_EQ(slice.text(), "1F2e3:4096:731");

    const SpoolField written{"00b07", 0, 3};
    SpoolField read;
    ASSERT_TRUE(SpoolField::parse(written.text(), read));
    EXPECT_EQ(read.fileName(), "hdr00b07.pack");
    EXPECT_EQ(read.offset, 0);
    EXPECT_EQ(read.length, 3);
}

TEST(SpoolField, AnythingElseIsRefusedAndLeavesTheFieldAsItWas)
{
    const std::string maxSlice = std::to_string(SpoolField::kMaxSlice);
    const std::string overSlice = std::to_string(SpoolField::kMaxSlice + 1);
    for (const std::string& field :
         {std::string(), std::string("../x"), std::string("msg1"), std::string("123456789"), std::string("12 3"),
          std::string("1:2"), std::string("1:2:3:4"), std::string(":0:5"), std::string("1::5"), std::string("1:0:"),
          std::string("1:-1:5"), std::string("1:+1:5"), std::string("1:0:2"), std::string("1:0:" + overSlice),
          std::string("1:1234567890123456:5"), std::string("1:0:5x"), std::string("g1:0:5"),
          std::string("1/2:0:5"), std::string("1:0x10:5")}) {
        SpoolField out{"keep", 7, 9};
        EXPECT_FALSE(SpoolField::parse(field, out)) << '"' << field << '"';
        EXPECT_EQ(out.text(), "keep:7:9") << '"' << field << '"';
    }
    SpoolField largest;
    EXPECT_TRUE(SpoolField::parse("1:0:" + maxSlice, largest));
    EXPECT_TRUE(SpoolField::parse("12345678:999999999999999:3", largest));
}

TEST(SpoolField, AFreshFileIsNeverMadeOverOneAlreadyThere)
{
    TempDir folder;
    UniqueFd probe;
    const std::string first = createFreshFile(folder.path(), SpoolField::spoolFileName, probe);
    ASSERT_FALSE(first.empty());
    probe.reset();
    // The next few names the counter gives are taken by files of others.
    const unsigned next = static_cast<unsigned>(std::stoul(first, nullptr, 16)) + 1;
    std::set<std::string> others;
    for (unsigned n = next; n < next + 5; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "msg%05x.msg", n);
        writeFile(folder / name, "another account's spool\r\n");
        others.insert(name);
    }
    UniqueFd file;
    const std::string id = createFreshFile(folder.path(), SpoolField::spoolFileName, file);
    ASSERT_FALSE(id.empty());
    EXPECT_TRUE(file);
    EXPECT_EQ(others.count("msg" + id + ".msg"), 0u) << "made over " << id;
    for (const std::string& name : others)
        EXPECT_EQ(readFile(folder / name), "another account's spool\r\n") << name;
    UniqueFd none;
    EXPECT_EQ(createFreshFile(folder / "absent", SpoolField::spoolFileName, none), "") << "no folder, no file";
    EXPECT_FALSE(none);
}

} // namespace
