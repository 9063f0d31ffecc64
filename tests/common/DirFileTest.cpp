#include "common/CVDir.h"
#include "common/CVFile.h"

#include "support/TestHelpers.h"

#include <sys/stat.h>
#include <utime.h>

#include <set>

namespace {

std::set<std::string> listNames(const std::string& dir, const char* pattern)
{
    std::set<std::string> names;
    for (CVDir it(dir.c_str(), pattern); !it.atEnd(); it.moveNext())
        names.insert(it.fileName());
    return names;
}

TEST(CVDir, ListsMatchingEntriesIgnoringCase)
{
    TempDir dir;
    for (const char* name : {"qf021206.log", "QF021207.LOG", "notes.txt", "msg00001.msg"})
        writeFile(dir / name, "x");
    CVDir::mkdir((dir / "sub.log").c_str());

    EXPECT_EQ(listNames(dir.path(), "*.log"),
              (std::set<std::string>{"qf021206.log", "QF021207.LOG", "sub.log"}));
    EXPECT_EQ(listNames(dir.path(), "msg*.msg"), (std::set<std::string>{"msg00001.msg"}));
    EXPECT_EQ(listNames(dir.path(), "*"), (std::set<std::string>{".", "..", "qf021206.log",
                                                                 "QF021207.LOG", "notes.txt",
                                                                 "msg00001.msg", "sub.log"}));
}

TEST(CVDir, ReportsFolderFlagAndModificationTime)
{
    TempDir dir;
    writeFile(dir / "a.txt", "x");
    struct utimbuf times {1000000000, 1000000000};
    ASSERT_EQ(::utime((dir / "a.txt").c_str(), &times), 0);
    CVDir::mkdir((dir / "b.txt").c_str());

    int seen = 0;
    for (CVDir it(dir.path().c_str(), "?.txt"); !it.atEnd(); it.moveNext()) {
        ++seen;
        if (std::string(it.fileName()) == "a.txt") {
            EXPECT_FALSE(it.isDir());
            EXPECT_EQ(it.lastModified(), 1000000000L);
        } else {
            EXPECT_TRUE(it.isDir());
        }
    }
    EXPECT_EQ(seen, 2);
}

TEST(CVDir, NoMatchOrNoFolderIsAtEndAtOnce)
{
    TempDir dir;
    writeFile(dir / "a.txt", "x");
    CVDir none(dir.path().c_str(), "*.log");
    EXPECT_TRUE(none.atEnd());
    EXPECT_FALSE(none.moveNext());
    CVDir missing((dir / "absent").c_str(), "*");
    EXPECT_TRUE(missing.atEnd());
    EXPECT_FALSE(missing.moveNext());
}

TEST(CVDir, MkdirMakesOneLevelOnly)
{
    TempDir dir;
    EXPECT_TRUE(CVDir::mkdir((dir / "one").c_str()));
    EXPECT_FALSE(CVDir::mkdir((dir / "one").c_str()));
    EXPECT_FALSE(CVDir::mkdir((dir / "two/three").c_str()));
    EXPECT_FALSE(CVDir::mkdir(nullptr));
}

TEST(CVFile, ExistsRemoveRename)
{
    TempDir dir;
    writeFile(dir / "a", "alpha");
    EXPECT_TRUE(CVFile::exists((dir / "a").c_str()));
    EXPECT_TRUE(CVFile::exists(dir.path().c_str()));
    EXPECT_FALSE(CVFile::exists((dir / "b").c_str()));

    EXPECT_TRUE(CVFile::rename((dir / "a").c_str(), (dir / "b").c_str()));
    EXPECT_FALSE(CVFile::exists((dir / "a").c_str()));
    EXPECT_EQ(readFile(dir / "b"), "alpha");

    EXPECT_TRUE(CVFile::remove((dir / "b").c_str()));
    EXPECT_FALSE(CVFile::remove((dir / "b").c_str()));
    EXPECT_FALSE(CVFile::remove(dir.path().c_str())) << "folders are not removed";
}

TEST(CVFile, RenameNeverReplacesATarget)
{
    TempDir dir;
    writeFile(dir / "new", "new");
    writeFile(dir / "old", "old");
    EXPECT_FALSE(CVFile::rename((dir / "new").c_str(), (dir / "old").c_str()));
    EXPECT_EQ(readFile(dir / "old"), "old");
    EXPECT_EQ(readFile(dir / "new"), "new");
}

TEST(CVFile, CopyReplacesTargetAndKeepsSource)
{
    TempDir dir;
    std::string data(200000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 251);
    writeFile(dir / "src", data);
    writeFile(dir / "dst", "old content");
    EXPECT_TRUE(CVFile::copy((dir / "src").c_str(), (dir / "dst").c_str()));
    EXPECT_EQ(readFile(dir / "dst"), data);
    EXPECT_EQ(readFile(dir / "src"), data);
    EXPECT_EQ(listNames(dir.path(), "*.tmp*").size(), 0u) << "no temporary file left";
}

TEST(CVFile, FailedCopyLeavesTargetAlone)
{
    TempDir dir;
    writeFile(dir / "dst", "old content");
    EXPECT_FALSE(CVFile::copy((dir / "absent").c_str(), (dir / "dst").c_str()));
    EXPECT_FALSE(CVFile::copy(dir.path().c_str(), (dir / "dst").c_str()));
    EXPECT_EQ(readFile(dir / "dst"), "old content");
    EXPECT_FALSE(CVFile::copy((dir / "dst").c_str(), (dir / "nofolder/x").c_str()));
}

} // namespace
