// Starts a helper program with its standard output (and, when asked, its
// standard error) on a pipe, and kills it (if still running) when the
// Subprocess goes out of scope.  env holds "NAME=value" entries that
// override the test's own environment.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

class Subprocess
{
public:
    explicit Subprocess(const std::vector<std::string>& args,
                        const std::vector<std::string>& env = {}, bool withStderr = false)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        if (withStderr)
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> merged = env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('=') + 1);
            bool overridden = false;
            for (const auto& o : env)
                overridden = overridden || o.compare(0, name.size(), name) == 0;
            if (!overridden)
                merged.push_back(entry);
        }
        std::vector<char*> envp;
        for (auto& e : merged)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = fds[0];
        if (rc != 0) {
            ::close(m_out);
            throw std::runtime_error("cannot start " + args[0]);
        }
    }
    ~Subprocess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
    }
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    pid_t pid() const { return m_pid; }

    // Reads one line of output (without the LF); false at end of output, or
    // when nothing arrives for timeoutMs (0: no limit).
    bool readLine(std::string& line, int timeoutMs = 0)
    {
        line.clear();
        char c;
        for (;;) {
            if (timeoutMs > 0) {
                pollfd entry{m_out, POLLIN, 0};
                if (::poll(&entry, 1, timeoutMs) <= 0)
                    return false;
            }
            if (::read(m_out, &c, 1) != 1)
                break;
            if (c == '\n')
                return true;
            line += c;
        }
        return !line.empty();
    }

    std::string readAll()
    {
        std::string all;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_out, buffer, sizeof buffer)) > 0)
            all.append(buffer, static_cast<size_t>(n));
        return all;
    }

    // Waits for the exit; the raw wait status.
    int wait()
    {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

    // Waits at most timeoutMs for the exit; false when still running.
    bool waitFor(int timeoutMs, int& status)
    {
        for (int waited = 0;; waited += 10) {
            const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                return true;
            }
            if (waited >= timeoutMs)
                return false;
            ::usleep(10000);
        }
    }

    void kill(int signal = SIGKILL) { ::kill(m_pid, signal); }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

// A program built beside the running test binary.
inline std::string siblingProgram(const std::string& name)
{
    return (std::filesystem::canonical("/proc/self/exe").parent_path() / name).string();
}
