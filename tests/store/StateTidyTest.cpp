// The daily tidy of the state folder: what interrupted sessions leave.
#include "store/StateTidy.h"

#include "support/TestHelpers.h"

#include <sys/time.h>
#include <unistd.h>

#include <filesystem>

namespace {

void age(const std::string& path, long seconds)
{
    const time_t when = ::time(nullptr) - seconds;
    const timeval times[2] = {{when, 0}, {when, 0}};
    ::utimes(path.c_str(), times);
}

TEST(StateTidy, RemovesOnlyOldOrphansAndStaleTemporaries)
{
    TempDir dir;
    const long old = kOrphanAge + 3600;
    writeFile(dir / "me@host.dat", "uid-1 000a1 1\nuid-2 000A2 0\nuid-3 000b1:120:300 1\n");
    const struct {
        const char* name;
        long age;
        bool stays;
    } files[] = {
        {"msg000a1.msg", old, true},              // named by a state file
        {"msg000a2.msg", old, true},              // named, in other letter case
        {"msg000a3.msg", old, false},             // an orphan
        {"msg000a4.msg", 60, true},               // too new to judge
        {"hdr000b1.pack", old, true},             // a pack a record names a text of
        {"hdr000b2.pack", old, false},            // a pack no record names
        {"hdr000b3.pack", 60, true},              // one being written now
        {"msg000b1.msg", old, false},             // a pack's id names no spool file
        {"me@host.dat.tmpAbC123", old, false},    // a temporary left behind
        {"msg000a5.msg.tmpXyZ", 60, true},        // one being written now
        {"notes.txt", old, true},                 // not ours to touch
        {"session7fffffff.log", 0, false},        // its thread is gone
    };
    for (const auto& file : files) {
        writeFile(dir / file.name, "x");
        age(dir / file.name, file.age);
    }
    char live[32];
    std::snprintf(live, sizeof live, "session%08x.log", static_cast<unsigned>(::gettid()));
    writeFile(dir / live, "report");
    std::filesystem::create_directory(dir / "msgdir.msg");
    age(dir / "msgdir.msg", old);

    EXPECT_EQ(tidyStateFolder(dir.path(), ::time(nullptr)), 5);
    for (const auto& file : files)
        EXPECT_EQ(std::filesystem::exists(dir / file.name), file.stays) << file.name;
    EXPECT_TRUE(std::filesystem::exists(dir / live)) << "this thread is alive";
    EXPECT_TRUE(std::filesystem::exists(dir / "msgdir.msg")) << "folders are left alone";
}

TEST(StateTidy, RunsOnceADay)
{
    TempDir dir;
    // Past any run the other tests' sessions made.
    const time_t now = ::time(nullptr) + 100L * kOrphanAge;
    EXPECT_TRUE(tidyStateFolderDaily(dir.path(), now));
    EXPECT_FALSE(tidyStateFolderDaily(dir.path(), now + 3600));
    EXPECT_TRUE(tidyStateFolderDaily(dir.path(), now + kOrphanAge + 1));
}

} // namespace
