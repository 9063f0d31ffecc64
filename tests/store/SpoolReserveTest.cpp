// The spool files of a collection made ahead on a thread: new, empty,
// exclusively created files under distinct names; never one made over a
// file already there; the untaken ones gone when the reserve ends.
#include "store/SpoolReserve.h"

#include "support/TestHelpers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

namespace {

namespace fs = std::filesystem;

std::set<std::string> filesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(SpoolReserve, HandsOutCountNewEmptyWritableFilesThenNone)
{
    TempDir folder;
    constexpr size_t kCount = 3 * SpoolReserve::kAhead + 5;   // more than wait at once
    std::set<std::string> ids;
    {
        SpoolReserve reserve(folder.path(), kCount);
        for (size_t n = 0; n < kCount; ++n) {
            UniqueFd file;
            const std::string id = reserve.take(file);
            ASSERT_EQ(id.size(), 5u) << "take " << n << " got '" << id << "'";
            ASSERT_TRUE(file) << id;
            EXPECT_TRUE(ids.insert(id).second) << "id handed out twice: " << id;
            const std::string path = folder / ("msg" + id + ".msg");
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
            EXPECT_EQ(st.st_size, 0) << path;
            EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
            const std::string text = "spool " + id + "\r\n";
            ASSERT_EQ(::write(file.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
        }
        UniqueFd none;
        EXPECT_EQ(reserve.take(none), "") << "more files than asked for";
        EXPECT_FALSE(none);
    }
    const auto names = filesIn(folder.path());
    EXPECT_EQ(names.size(), kCount) << "files other than the ones taken";
    for (const std::string& id : ids)
        EXPECT_EQ(readFile(folder / ("msg" + id + ".msg")), "spool " + id + "\r\n") << id;
}

TEST(SpoolReserve, UntakenFilesGoWhenTheReserveEnds)
{
    TempDir folder;
    std::string taken;
    {
        SpoolReserve reserve(folder.path(), 1000);
        UniqueFd file;
        taken = reserve.take(file);
        ASSERT_FALSE(taken.empty());
        // A second take waits for the maker: at least one more file exists
        // untaken when the reserve ends.
        UniqueFd second;
        const std::string another = reserve.take(second);
        ASSERT_FALSE(another.empty());
        second.reset();
        ::unlink((folder / ("msg" + another + ".msg")).c_str());
    }
    EXPECT_EQ(filesIn(folder.path()), std::set<std::string>{"msg" + taken + ".msg"});
}

TEST(SpoolReserve, AFileAlreadyThereIsNeverReplaced)
{
    TempDir folder;
    UniqueFd probe;
    const std::string first = SpoolReserve::create(folder.path(), probe);
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
    const std::string id = SpoolReserve::create(folder.path(), file);
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(others.count("msg" + id + ".msg"), 0u) << "made over " << id;
    for (const std::string& name : others)
        EXPECT_EQ(readFile(folder / name), "another account's spool\r\n") << name;
}

TEST(SpoolReserve, AFolderThatCannotHoldFilesGivesNone)
{
    TempDir folder;
    SpoolReserve reserve(folder / "absent", 10);
    UniqueFd file;
    EXPECT_EQ(reserve.take(file), "");
    EXPECT_FALSE(file);
}

} // namespace
