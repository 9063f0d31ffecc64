#include "common/AtomicFile.h"

#include "support/TestHelpers.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

size_t entries(const std::string& dir)
{
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(AtomicFile, CommitReplacesTargetWhole)
{
    TempDir dir;
    writeFile(dir / "state", "old");
    {
        AtomicFile file(dir / "state", 0640);
        ASSERT_TRUE(file.isOpen());
        EXPECT_TRUE(file.write("new "));
        EXPECT_TRUE(file.write("content"));
        EXPECT_EQ(readFile(dir / "state"), "old") << "nothing changes before commit";
        EXPECT_TRUE(file.commit());
    }
    EXPECT_EQ(readFile(dir / "state"), "new content");
    EXPECT_EQ(entries(dir.path()), 1u);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "state").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(AtomicFile, AbandonedWriteLeavesTargetAndNoTemporary)
{
    TempDir dir;
    writeFile(dir / "state", "old");
    {
        AtomicFile file(dir / "state");
        EXPECT_TRUE(file.write("half"));
    }
    EXPECT_EQ(readFile(dir / "state"), "old");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, MissingFolderCannotOpen)
{
    TempDir dir;
    AtomicFile file(dir / "absent/state");
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.write("x"));
    EXPECT_FALSE(file.commit());
}

TEST(AtomicFile, FullDiskFailsCommitAndKeepsTarget)
{
    TempDir dir;
    writeFile(dir / "state", "old");
    // A file size limit makes writes fail as a full disk would.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        bool wrote = true, committed = true;
        {
            AtomicFile file(dir / "state");
            wrote = file.write(std::string(10000, 'x'));
            committed = file.commit();
        }
        ::_exit(!wrote && !committed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "write and commit must both report the failure";
    EXPECT_EQ(readFile(dir / "state"), "old");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, KilledWriterLeavesOldContent)
{
    TempDir dir;
    writeFile(dir / "state", "old");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AtomicFile file(dir / "state");
        file.write(std::string(100000, 'n'));
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(readFile(dir / "state"), "old");
}

} // namespace
