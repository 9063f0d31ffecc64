#include "common/DataRoots.h"
#include "common/SystemInfo.h"

#include "support/TestHelpers.h"

#include <unistd.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::string programFolder()
{
    return fs::canonical("/proc/self/exe").parent_path().string();
}

TEST(DataRoots, PerUserRootUnderXdgDataHome)
{
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", (dir / "share/").c_str());
    char buf[512];
    EXPECT_EQ(getAppDataRoot("Quillfence Pro", buf, sizeof buf, true), buf);
    EXPECT_EQ(std::string(buf), dir / "share/Corvanta Ltd/Quillfence Pro");
    EXPECT_TRUE(fs::is_directory(buf));
}

TEST(DataRoots, PerUserRootUnderHomeWhenXdgUnset)
{
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", dir.path().c_str());
    char buf[512];
    getAppDataRoot("", buf, sizeof buf, false);
    EXPECT_EQ(std::string(buf), dir / ".local/share/Corvanta Ltd");
    EXPECT_FALSE(fs::exists(buf)) << "nothing is created without create";
    getAppDataRoot("", buf, sizeof buf, true);
    EXPECT_TRUE(fs::is_directory(buf));
}

TEST(DataRoots, PerUserRootFallsBackToCommonRoot)
{
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    ScopedEnv common("QUILLFENCE_COMMON_ROOT", (dir / "common").c_str());
    char buf[512];
    getAppDataRoot("Quillfence Pro", buf, sizeof buf, true);
    EXPECT_EQ(std::string(buf), dir / "common/Quillfence Pro");
}

TEST(DataRoots, CommonRootIsAlwaysCreated)
{
    TempDir dir;
    ScopedEnv common("QUILLFENCE_COMMON_ROOT", (dir / "a/b").c_str());
    char buf[512];
    getAppCommonDataRoot("Quillfence Pro", buf, sizeof buf);
    EXPECT_EQ(std::string(buf), dir / "a/b/Quillfence Pro");
    EXPECT_TRUE(fs::is_directory(buf));
}

// The program folder's own, when it has one that can be written (an
// installed program's has none: see ProgramStartup.AnInstalledProgramFolder...).
TEST(DataRoots, CommonRootDefaultsToTheProgramFoldersOwnWhenItHasOne)
{
    ScopedEnv common("QUILLFENCE_COMMON_ROOT", nullptr);
    fs::create_directories(programFolder() + "/Application Data");
    char buf[4096];
    getAppCommonDataRoot("", buf, sizeof buf);
    EXPECT_EQ(std::string(buf), programFolder() + "/Application Data");
    EXPECT_TRUE(fs::is_directory(buf));
}

TEST(DataRoots, GlobalRootFromVariableIsReturnedUnchanged)
{
    ScopedEnv global("QUILLFENCE_GLOBAL_ROOT", "/nonexistent/global/");
    char buf[512];
    getAppGlobalDataRoot("sub", buf, sizeof buf);
    EXPECT_STREQ(buf, "/nonexistent/global/");
    EXPECT_FALSE(fs::exists("/nonexistent/global"));
}

TEST(DataRoots, ResultsThatDoNotFitAreRefused)
{
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", dir.path().c_str());
    ScopedEnv common("QUILLFENCE_COMMON_ROOT", dir.path().c_str());
    const std::string full = dir / "Corvanta Ltd/Quillfence Pro";
    std::vector<char> buf(full.size() + 8, 'X');

    getAppDataRoot("Quillfence Pro", buf.data(), full.size() + 1, true);
    EXPECT_EQ(std::string(buf.data()), full);
    getAppDataRoot("Quillfence Pro", buf.data(), full.size(), true);
    EXPECT_STREQ(buf.data(), "");
    EXPECT_EQ(buf[full.size()], '\0') << "untouched beyond the given size";
    EXPECT_EQ(buf[full.size() + 1], 'X');

    getAppCommonDataRoot("Quillfence Pro", buf.data(), 5);
    EXPECT_STREQ(buf.data(), "");
    ScopedEnv global("QUILLFENCE_GLOBAL_ROOT", "/a/long/global/root");
    getAppGlobalDataRoot("", buf.data(), 4);
    EXPECT_STREQ(buf.data(), "");
}

TEST(DataRoots, SubFolderMustNotLeaveTheRoot)
{
    TempDir dir;
    ScopedEnv common("QUILLFENCE_COMMON_ROOT", (dir / "root").c_str());
    char buf[512];
    for (const char* sub : {"..", ".", "../escape", "a/b"}) {
        getAppCommonDataRoot(sub, buf, sizeof buf);
        EXPECT_STREQ(buf, "") << sub;
    }
    EXPECT_FALSE(fs::exists(dir / "escape"));
}

TEST(DataRoots, SharedUserFlag)
{
    EXPECT_FALSE(isSharedUserData());
    setSharedUserData(true);
    EXPECT_TRUE(isSharedUserData());
    setSharedUserData(false);
    EXPECT_FALSE(isSharedUserData());
}

TEST(DataRoots, SeparatorsAreLeftAlone)
{
    std::string path = "a/b\\c";
    convertSeparatorsToLocal(path);
    convertSeparatorsToInternal(path);
    EXPECT_EQ(path, "a/b\\c");
}

TEST(SystemInfo, RootPathIsTheProgramFolder)
{
    char buf[4096];
    EXPECT_EQ(GetRootPath(buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), programFolder());
    char small[4] = "xyz";
    EXPECT_EQ(GetRootPath(small, sizeof small), 0);
    EXPECT_STREQ(small, "");
}

TEST(SystemInfo, OperatingSystemRecord)
{
    EXPECT_FALSE(IsWindowsNT());
    EXPECT_EQ(GetOpenSa(), nullptr);
    const std::string version = GetOSVersionString();
    EXPECT_EQ(version.rfind("Linux ", 0), 0u) << version;
    EXPECT_NE(version.find(" build "), std::string::npos) << version;
    EXPECT_GE(GetCSDLevel(), 0);
}

} // namespace
