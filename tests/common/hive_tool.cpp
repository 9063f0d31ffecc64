// A second process for the settings-store tests.  Commands:
//   nextid N                          prints N identifiers, one a line
//   set FAMILY HIVE KEY NAME VALUE     stores a string value and writes back
//   hold FAMILY HIVE MS               opens an update, prints "held", keeps
//                                     the hive locked for MS ms, writes back
//   churn HIVE                        rewrites 200 values of the system hive
//                                     HIVE, all set to the round's number,
//                                     printing each round written, for ever
#include "common/CEventLog.h"
#include "common/CRegistry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

eRegKeyType family(const char* name)
{
    return static_cast<eRegKeyType>(std::atoi(name));
}

} // namespace

int main(int argc, char** argv)
{
    // Failures of the store are reported in the event log, when asked for.
    if (const char* log = std::getenv("HIVE_TOOL_LOG"))
        CEventLog::Initialize(log, "hivetool", "ht");
    if (argc >= 3 && std::strcmp(argv[1], "nextid") == 0) {
        for (int i = std::atoi(argv[2]); i > 0; --i)
            std::printf("%d\n", GetNextId());
        return 0;
    }
    if (argc == 7 && std::strcmp(argv[1], "set") == 0) {
        CRegistry reg;
        if (!reg.CreateKey(family(argv[2]), argv[3], argv[4], true) ||
            !reg.SetValue(argv[5], argv[6]))
            return 1;
        return reg.CloseKey() ? 0 : 1;
    }
    if (argc == 5 && std::strcmp(argv[1], "hold") == 0) {
        CRegistry reg;
        // A value of its own: storing an unchanged one would take no lock.
        if (!reg.CreateKey(family(argv[2]), argv[3], "/", true) ||
            !reg.SetValue("HELD", static_cast<int>(::getpid())) || !reg.regKey()->updateOpen())
            return 1;
        std::printf("held\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[4])));
        return reg.CloseKey() ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "churn") == 0) {
        const std::string padding(150, 'p');
        for (int round = 1;; ++round) {
            CRegistry reg;
            if (!reg.CreateKey(eRegSystem, argv[2], "/CHURN", true))
                return 1;
            const std::string value = std::to_string(round) + padding;
            for (int i = 0; i < 200; ++i) {
                char name[16];
                std::snprintf(name, sizeof name, "V%03d", i);
                reg.SetValue(name, value.c_str());
            }
            reg.CloseKey();
            std::printf("%d\n", round);
            std::fflush(stdout);
        }
    }
    std::fprintf(stderr, "usage: hive_tool nextid N | set F HIVE KEY NAME VALUE | hold F HIVE MS | churn HIVE\n");
    return 2;
}
