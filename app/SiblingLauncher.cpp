#include "app/SiblingLauncher.h"

#include "common/CEventLog.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

extern char** environ;

int launchSibling(const std::vector<std::string>& argv, bool searchPath)
{
    std::string commandLine;
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        commandLine += (commandLine.empty() ? "" : " ") + arg;
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = argv.empty() ? EINVAL
                   : searchPath ? ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ)
                                : ::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ);
    if (rc != 0) {
        CEventLog().LogEvent(1, "Unable to launch '%s', error %d", commandLine.c_str(), rc);
        return rc;
    }
    // The sibling lives on its own; only its exit status is collected.
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return 0;
}
