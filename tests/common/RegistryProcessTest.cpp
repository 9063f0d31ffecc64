// Several processes sharing one hive: distinct identifiers, the update lock,
// reloads after another process's write, and a writer killed at random
// moments never leaving a torn file.
#include "common/CRegistry.h"

#include "support/Subprocess.h"
#include "support/TestHelpers.h"

#include "RegistryTestRoots.h"

#include <chrono>
#include <memory>
#include <random>
#include <set>
#include <thread>

namespace {

const std::string& hiveTool()
{
    static const std::string path = siblingProgram("hive_tool");
    return path;
}

std::vector<int> readIds(Subprocess& process)
{
    std::vector<int> ids;
    for (std::string line; process.readLine(line);)
        ids.push_back(std::stoi(line));
    return ids;
}

TEST(RegistryProcesses, GetNextIdIsDistinctAcrossProcesses)
{
    constexpr int kPerProcess = 150;
    std::vector<std::unique_ptr<Subprocess>> workers;
    for (int i = 0; i < 4; ++i)
        workers.push_back(std::make_unique<Subprocess>(
            std::vector<std::string>{hiveTool(), "nextid", std::to_string(kPerProcess)}));
    std::vector<int> mine;
    for (int i = 0; i < kPerProcess; ++i)
        mine.push_back(GetNextId());

    std::set<int> all(mine.begin(), mine.end());
    size_t total = mine.size();
    for (auto& worker : workers) {
        auto ids = readIds(*worker);
        EXPECT_EQ(ids.size(), static_cast<size_t>(kPerProcess));
        EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
        total += ids.size();
        all.insert(ids.begin(), ids.end());
        EXPECT_EQ(WEXITSTATUS(worker->wait()), 0);
    }
    EXPECT_EQ(all.size(), total) << "some identifier was handed out twice";

    // This process's copy is as old as its own last update: read the file.
    const auto onDisk = hiveformat::parseHive(readFile(commonConfig() + "/global_sys.dat"));
    ASSERT_EQ(onDisk.entries.count("/NEXTID"), 1u);
    EXPECT_EQ(onDisk.entries.at("/NEXTID"), std::to_string(*all.rbegin()));
}

TEST(RegistryProcesses, GetNextIdKeepsLow20BitsWhileTheCounterGoesOn)
{
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, "global", "/", true));
        reg.SetValue("NextId", 1048574);
    }
    EXPECT_EQ(GetNextId(), 1048575);
    EXPECT_EQ(GetNextId(), 0);
    EXPECT_EQ(GetNextId(), 1);
    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(eRegSystem, "global", "/", true));
    int stored = 0;
    reg.QueryValue("NextId", stored);
    EXPECT_EQ(stored, 1048577);
}

TEST(RegistryProcesses, AnUpdateReloadsWhatAnotherProcessWrote)
{
    const std::string name = "reloadhive";
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/K", true));
    reg.SetValue("Mine", 1);
    reg.CloseKey();

    Subprocess other({hiveTool(), "set", "1", name, "/K", "Theirs", "from the other process"});
    ASSERT_EQ(WEXITSTATUS(other.wait()), 0);

    ASSERT_TRUE(reg.OpenKey(eRegSystem, name.c_str(), "/K", true));
    std::string theirs;
    EXPECT_FALSE(reg.QueryValue("Theirs", theirs)) << "lookups are served from memory";
    EXPECT_EQ(reg.sequenceNumber(), 2u) << "but the file has moved on";
    reg.SetValue("Mine", 2);   // begins an update: reloads first
    EXPECT_TRUE(reg.QueryValue("Theirs", theirs));
    EXPECT_EQ(theirs, "from the other process");
    reg.CloseKey();

    const std::string file = readFile(commonConfig() + "/" + name + "_sys.dat");
    EXPECT_EQ(file.substr(0, 3), "3\r\n");
    EXPECT_NE(file.find("\"/K/MINE\" = 2"), std::string::npos);
    EXPECT_NE(file.find("\"/K/THEIRS\""), std::string::npos);
}

TEST(RegistryProcesses, AnUpdateWaitsForTheHolderAndGivesUpAfterASecond)
{
    const std::string name = "lockedhive";
    {
        Subprocess holder({hiveTool(), "hold", "1", name, "300"});
        std::string line;
        ASSERT_TRUE(holder.readLine(line));
        ASSERT_EQ(line, "held");
        // The holder lets go after 300 ms: well inside the one-second wait.
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
        reg.SetValue("Waited", 1);
        EXPECT_TRUE(reg.regKey()->updateOpen());
        int held = 0;
        EXPECT_TRUE(reg.QueryValue("Held", held)) << "the holder's write was reloaded";
        reg.CloseKey();
        EXPECT_EQ(WEXITSTATUS(holder.wait()), 0);
    }
    {
        Subprocess holder({hiveTool(), "hold", "1", name, "5000"});
        std::string line;
        ASSERT_TRUE(holder.readLine(line));
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
        reg.SetValue("NotWritten", 1);
        EXPECT_FALSE(reg.regKey()->updateOpen()) << "the holder kept the lock past the wait";
        reg.CloseKey();
        holder.kill();
        holder.wait();
    }
    // A killed holder's lock goes with it.
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
    reg.SetValue("AfterKill", 1);
    EXPECT_TRUE(reg.regKey()->updateOpen());
}

TEST(RegistryProcesses, CountersMoveOnlyUnderTheLock)
{
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, "countedhive", "/", true));
        reg.SetValue("Count", 7);
    }
    Subprocess holder({hiveTool(), "hold", "1", "countedhive", "5000"});
    std::string line;
    ASSERT_TRUE(holder.readLine(line));
    {
        CRegistry reg;
        ASSERT_TRUE(reg.CreateKey(eRegSystem, "countedhive", "/", true));
        int result = -1;
        EXPECT_FALSE(reg.IncValue("Count", 1, result)) << "the holder kept the lock past the wait";
        int count = 0;
        EXPECT_TRUE(reg.QueryValue("Count", count));
        EXPECT_EQ(count, 7);
    }
    holder.kill();
    holder.wait();
}

TEST(RegistryProcesses, GetNextIdWaitsOutAHolderLongerThanOneLockWait)
{
    const int before = GetNextId();
    {
        Subprocess holder({hiveTool(), "hold", "1", "global", "2500"});
        std::string line;
        ASSERT_TRUE(holder.readLine(line));
        EXPECT_EQ(GetNextId(), (before + 1) & 0xFFFFF) << "the next number, not a stale or made-up one";
        EXPECT_EQ(WEXITSTATUS(holder.wait()), 0);
    }
    const auto onDisk = hiveformat::parseHive(readFile(commonConfig() + "/global_sys.dat"));
    EXPECT_EQ(std::stoi(onDisk.entries.at("/NEXTID")) & 0xFFFFF, (before + 1) & 0xFFFFF);
}

// The churn helper rewrites 200 values of ~160 characters each round; it is
// killed at random moments, and every time the file must hold one whole
// round: a sequence number, 200 equal values and the end marker.
TEST(RegistryProcesses, KilledWriterNeverTearsTheHive)
{
    const std::string name = "crashhive";
    const std::string file = commonConfig() + "/" + name + "_sys.dat";
    std::mt19937 random(42);
    int checked = 0;
    for (int kill = 0; kill < 40; ++kill) {
        Subprocess writer({hiveTool(), "churn", name});
        std::string round;
        ASSERT_TRUE(writer.readLine(round)) << "the writer must get through one round";
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        writer.kill();
        writer.wait();

        const std::string text = readFile(file);
        auto lines = splitLines(text);
        ASSERT_GE(lines.size(), 3u);
        ASSERT_EQ(lines.back(), "~\r") << "end marker missing after kill " << kill;
        const hiveformat::Parsed parsed = hiveformat::parseHive(text);
        ASSERT_TRUE(parsed.hasSequence);
        std::set<std::string> values;
        for (const auto& [path, value] : parsed.entries)
            if (path.rfind("/CHURN/V", 0) == 0)
                values.insert(value);
        ASSERT_EQ(values.size(), 1u) << "values of different rounds after kill " << kill;
        ++checked;
    }
    EXPECT_EQ(checked, 40);

    // Temporaries of killed writers are swept by the next writer.
    Subprocess next({hiveTool(), "set", "1", name, "/CHURN", "After", "x"});
    ASSERT_EQ(WEXITSTATUS(next.wait()), 0);
    for (const auto& entry : std::filesystem::directory_iterator(commonConfig()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << entry.path();
}

} // namespace
