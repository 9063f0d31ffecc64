// Several processes sharing one hive: distinct identifiers handed out from
// reserved blocks, the update lock, reloads after another process's write,
// and a writer killed at random moments never leaving a torn file.
#include "common/CRegistry.h"

#include "support/Subprocess.h"
#include "support/TestHelpers.h"

#include "RegistryTestRoots.h"

#include <sys/wait.h>
#include <unistd.h>

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

// The counter as the hive file holds it (this process's copy is as old as
// its own last update), and the file's sequence number.
int storedCounter()
{
    const auto onDisk = hiveformat::parseHive(readFile(commonConfig() + "/global_sys.dat"));
    return onDisk.entries.count("/NEXTID") ? std::stoi(onDisk.entries.at("/NEXTID")) : 0;
}

unsigned long hiveSequence()
{
    return hiveformat::parseHive(readFile(commonConfig() + "/global_sys.dat")).sequence;
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

    // Every number handed out is reserved on disk: a process starting now
    // begins past them all.
    EXPECT_GE(storedCounter(), *all.rbegin());
}

// A process of its own hands out count numbers.
std::vector<int> idsOfNewProcess(int count)
{
    Subprocess process({hiveTool(), "nextid", std::to_string(count)});
    std::vector<int> ids = readIds(process);
    EXPECT_EQ(WEXITSTATUS(process.wait()), 0);
    return ids;
}

void storeCounter(int value)
{
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, "global", "/", true));
    reg.SetValue("NextId", value);
}

TEST(RegistryProcesses, GetNextIdKeepsLow20BitsWhileTheCounterGoesOn)
{
    storeCounter(1048574);
    EXPECT_EQ(idsOfNewProcess(3), (std::vector<int>{1048575, 0, 1}));
    EXPECT_EQ(storedCounter(), 1048574 + 64) << "a first block of 64 reserved";
}

TEST(RegistryProcesses, GetNextIdReservesGrowingBlocksWithOneWriteEach)
{
    storeCounter(5000);
    const unsigned long before = hiveSequence();
    const std::vector<int> ids = idsOfNewProcess(1000);
    ASSERT_EQ(ids.size(), 1000u);
    for (size_t i = 0; i < ids.size(); ++i)
        ASSERT_EQ(ids[i], 5001 + static_cast<int>(i)) << "in order, without gaps, at " << i;
    // Blocks of 64, 256 and 1024: three write-backs, the last block mostly
    // left, never to be handed out by anyone.
    EXPECT_EQ(hiveSequence() - before, 3u);
    EXPECT_EQ(storedCounter(), 5000 + 64 + 256 + 1024);
    EXPECT_EQ(idsOfNewProcess(1), (std::vector<int>{5000 + 64 + 256 + 1024 + 1}));
}

TEST(RegistryProcesses, GetNextIdInAForkedChildNeverRepeatsItsParents)
{
    const int parentFirst = GetNextId();
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int ids[2] = {GetNextId(), GetNextId()};
        const bool sent = ::write(pipeFds[1], ids, sizeof ids) == static_cast<ssize_t>(sizeof ids);
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipeFds[1]);
    int childIds[2] = {-1, -1};
    const ssize_t got = ::read(pipeFds[0], childIds, sizeof childIds);
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof childIds));
    const std::set<int> parent = {parentFirst, GetNextId(), GetNextId()};
    for (int id : childIds)
        EXPECT_EQ(parent.count(id), 0u) << id << " handed out by parent and child";
    EXPECT_NE(childIds[0], childIds[1]);
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

// A refresh (the proxy's, before each connection) takes in another
// process's write, and only a whole file.
TEST(RegistryProcesses, ARefreshTakesInAnotherProcesssWholeWrite)
{
    const std::string name = "refreshhive";
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
    reg.SetValue("Port", "1");
    reg.CloseKey();

    Subprocess other({hiveTool(), "set", "1", name, "/", "Port", "2"});
    ASSERT_EQ(WEXITSTATUS(other.wait()), 0);
    ASSERT_TRUE(reg.OpenKey(eRegSystem, name.c_str(), "/", false));
    std::string port;
    ASSERT_TRUE(reg.QueryValue("Port", port));
    EXPECT_EQ(port, "1") << "lookups are served from memory until a refresh";
    CRegistry::refresh(eRegSystem, name.c_str());
    ASSERT_TRUE(reg.QueryValue("Port", port));
    EXPECT_EQ(port, "2");

    // A file cut short is not taken in: the values read before stay.
    const std::string path = commonConfig() + "/" + name + "_sys.dat";
    writeFile(path, readFile(path).substr(0, 12));
    CRegistry::refresh(eRegSystem, name.c_str());
    ASSERT_TRUE(reg.QueryValue("Port", port));
    EXPECT_EQ(port, "2");
}

// Storing a value the hive holds already writes nothing, unless another
// process has written the file since: then the value is stored over theirs.
TEST(RegistryProcesses, StoringTheSameValueWritesOnlyWhenTheFileHasMovedOn)
{
    const std::string name = "samevaluehive";
    const std::string file = commonConfig() + "/" + name + "_sys.dat";
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/K", true));
    reg.SetValue("Value", "mine");
    reg.CloseKey();
    const std::string written = readFile(file);
    ASSERT_EQ(written.substr(0, 3), "1\r\n");

    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/K", true));
    EXPECT_TRUE(reg.SetValue("Value", "mine"));
    reg.CloseKey();
    EXPECT_EQ(readFile(file), written) << "the same value again: the file is untouched";

    Subprocess other({hiveTool(), "set", "1", name, "/K", "Value", "theirs"});
    ASSERT_EQ(WEXITSTATUS(other.wait()), 0);
    ASSERT_TRUE(reg.OpenKey(eRegSystem, name.c_str(), "/K", true));
    EXPECT_TRUE(reg.SetValue("Value", "mine")) << "equal to this process's stale copy only";
    reg.CloseKey();
    const std::string now = readFile(file);
    EXPECT_EQ(now.substr(0, 3), "3\r\n");
    EXPECT_NE(now.find("\"/K/VALUE\" = \"mine\""), std::string::npos) << now;
}

// A value stored while another process held the lock lives only in memory:
// storing it again once the lock is free writes it.
TEST(RegistryProcesses, AValueKeptOnlyInMemoryIsWrittenWhenStoredAgain)
{
    const std::string name = "unsavedhive";
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
    reg.SetValue("First", 1);
    reg.CloseKey();
    {
        Subprocess holder({hiveTool(), "hold", "1", name, "5000"});
        std::string line;
        ASSERT_TRUE(holder.readLine(line));
        ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
        reg.SetValue("Late", 7);
        EXPECT_FALSE(reg.regKey()->updateOpen()) << "the holder kept the lock past the wait";
        reg.CloseKey();
        holder.kill();
        holder.wait();
    }
    ASSERT_TRUE(reg.CreateKey(eRegSystem, name.c_str(), "/", true));
    reg.SetValue("Late", 7);
    EXPECT_TRUE(reg.regKey()->updateOpen()) << "the same value, but the file never had it";
    reg.CloseKey();
    EXPECT_NE(readFile(commonConfig() + "/" + name + "_sys.dat").find("\"/LATE\" = 7"), std::string::npos);
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
    const int before = storedCounter();
    {
        Subprocess holder({hiveTool(), "hold", "1", "global", "2500"});
        std::string line;
        ASSERT_TRUE(holder.readLine(line));
        // A new process has no block yet: it must wait for the counter.
        EXPECT_EQ(idsOfNewProcess(1), (std::vector<int>{(before + 1) & 0xFFFFF}))
            << "the next number, not a stale or made-up one";
        EXPECT_EQ(WEXITSTATUS(holder.wait()), 0);
    }
    EXPECT_EQ(storedCounter(), before + 64);
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
