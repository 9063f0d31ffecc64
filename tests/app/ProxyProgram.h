// The built program, run as a process for tests: temporary data roots and
// runtime folder, a free loopback port written into its settings hive, and
// readers for its output and event log.
#pragma once

#include "support/Loopback.h"
#include "support/PopClient.h"
#include "support/Subprocess.h"
#include "support/TestHelpers.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ProxyProgram
{
public:
    ProxyProgram() : m_port(freeLoopbackPort())
    {
        std::filesystem::create_directories(m_dir / "rt");
        ::chmod((m_dir / "rt").c_str(), 0700);
        setting("LISTENPORT", std::to_string(m_port));
        // As the shipped default.dat has it: band 1 (mail no rule found
        // fault with) is neither marked nor archived.
        setting("SUBJECT1", "0");
        setting("ARCHIVE1", "0");
    }

    int port() const { return m_port; }
    const TempDir& folder() const { return m_dir; }

    // Runs a copy of the program and its libraries from a program folder of
    // its own, so that a test can put files beside it (default.dat,
    // shared.txt, user.txt).  The copy loads the libraries beside it.
    std::string ownProgramFolder()
    {
        namespace fs = std::filesystem;
        const std::string folder = m_dir / "program";
        fs::create_directories(folder);
        const fs::path built = fs::path(QUILLFNC_PATH).parent_path();
        for (const auto& entry : fs::directory_iterator(built)) {
            const std::string name = entry.path().filename().string();
            if (name == "quillfnc" || (name.rfind("lib", 0) == 0 && name.find(".so") != std::string::npos))
                fs::copy(entry.path(), folder + "/" + name,
                         fs::copy_options::overwrite_existing | fs::copy_options::copy_symlinks);
        }
        m_program = folder + "/quillfnc";
        return folder;
    }
    // The test's own rules only (its user.sfr): an empty system.sfr, newer
    // than the program's, keeps the first run from installing the shipped
    // rules, which would rate the test's messages as well.
    void withoutShippedRules()
    {
        const std::string rules = dataRoot() + "/rules";
        std::filesystem::create_directories(rules);
        for (const char* folder : {"data", "data/Corvanta Ltd", "data/Corvanta Ltd/Quillfence Pro",
                                   "data/Corvanta Ltd/Quillfence Pro/rules"})
            ::chmod((m_dir / folder).c_str(), 0700);
        const std::string system = rules + "/system.sfr";
        writeFile(system, "");
        ::chmod(system.c_str(), 0600);
        std::filesystem::last_write_time(system, std::filesystem::file_time_type::clock::now() +
                                                     std::chrono::hours(24 * 365));
    }
    // Forgets the settings written so far: the program starts as on a first run.
    void noSettings()
    {
        m_settings.clear();
        std::filesystem::remove(m_dir / "data/Corvanta Ltd/config/quilfpro_usr.dat");
    }
    std::string dataRoot() const { return m_dir / "data/Corvanta Ltd/Quillfence Pro"; }
    std::string logFolder() const { return dataRoot() + "/log"; }

    // A value of the proxy's settings hive (path below "/", upper case),
    // written before the program starts.
    void setting(const std::string& name, const std::string& value)
    {
        m_settings[name] = value;
        std::string hive = "1\r\n\"/\"\r\n";
        for (const auto& [key, text] : m_settings)
            hive += "\"/" + key + "\" = " + text + "\r\n";
        hive += "~\r\n";
        // Private like the program's own files, whatever the test's umask.
        std::filesystem::create_directories(m_dir / "data/Corvanta Ltd/config");
        for (const char* folder : {"data", "data/Corvanta Ltd", "data/Corvanta Ltd/config"})
            ::chmod((m_dir / folder).c_str(), 0700);
        const std::string path = m_dir / "data/Corvanta Ltd/config/quilfpro_usr.dat";
        writeFile(path, hive);
        ::chmod(path.c_str(), 0600);
    }

    // Runs the program with its desktop side, on Qt's offscreen platform.
    void desktop() { m_desktop = true; }
    // Runs the program as installed, without QUILLFENCE_COMMON_ROOT: what
    // it keeps installation-wide goes where it finds a place itself
    // (XDG_STATE_HOME is the test's folder "state").
    void withoutCommonRoot() { m_commonRoot = false; }

    // The umask the program is started with (else the test's own).
    void startUmask(mode_t mask) { m_umask = mask; }
    // start() runs the program under this command (a tracer), which is
    // given the program's command line after its own.
    void startUnder(std::vector<std::string> command) { m_wrapper = std::move(command); }

    std::vector<std::string> environment() const
    {
        std::vector<std::string> env{"XDG_DATA_HOME=" + (m_dir / "data"),
                                     "QUILLFENCE_GLOBAL_ROOT=" + (m_dir / "global"),
                                     "XDG_RUNTIME_DIR=" + (m_dir / "rt"), "DISPLAY=", "WAYLAND_DISPLAY="};
        env.push_back(m_commonRoot ? "QUILLFENCE_COMMON_ROOT=" + (m_dir / "common")
                                   : "XDG_STATE_HOME=" + (m_dir / "state"));
        env.push_back(m_desktop ? "QT_QPA_PLATFORM=offscreen" : "QT_QPA_PLATFORM=");
        // The offscreen platform's notes on what it cannot do would mix
        // with the program's own output.
        env.push_back("QT_LOGGING_RULES=default.warning=false");
        // The leak checker of a sanitizer build cannot run under a tracer
        // and would end the program with an error of its own.
        if (!m_wrapper.empty())
            env.push_back("ASAN_OPTIONS=detect_leaks=0:abort_on_error=1");
        return env;
    }

    // Starts the program; waitForListener: until it says where it listens.
    // The free port was only free when it was picked: a test running beside
    // this one may bind it first, and the program is then started again on
    // another, a few times at the most.
    std::unique_ptr<Subprocess> start(bool waitForListener = true)
    {
        for (int attempt = 1;; ++attempt) {
            std::string line;
            std::unique_ptr<Subprocess> process = spawn();
            if (!waitForListener)
                return process;
            if (process->readLine(line, 10000) && line.find("listening on 127.0.0.1:") != std::string::npos)
                return process;
            const bool portTaken = line.find("Unable to bind to port " + std::to_string(m_port) + ",") !=
                                   std::string::npos;
            if (!portTaken || attempt == 3)
                throw std::runtime_error("the program did not start listening: '" + line + "'");
            stop(*process);
            m_port = freeLoopbackPort();
            setting("LISTENPORT", std::to_string(m_port));
        }
    }

    // Runs the program, its output and errors read through one pipe.
    std::unique_ptr<Subprocess> spawn()
    {
        // posix_spawn hands the caller's umask on: the test process takes
        // the program's for the length of the spawn.
        const mode_t previous = m_umask ? ::umask(*m_umask) : 0;
        std::unique_ptr<Subprocess> process;
        std::vector<std::string> argv = m_wrapper;
        argv.push_back(m_program);
        if (!m_desktop)
            argv.push_back("-nogui");
        try {
            process = std::make_unique<Subprocess>(argv, environment(), true);
        } catch (...) {
            if (m_umask)
                ::umask(previous);
            throw;
        }
        if (m_umask)
            ::umask(previous);
        return process;
    }

    // Runs the program with arg to its end; its output.
    std::string runOnce(const std::string& arg, int& status) { return run({arg}, status); }
    // Runs the program with args to its end; its output (stderr too when
    // withStderr).
    std::string run(const std::vector<std::string>& args, int& status, bool withStderr = true)
    {
        std::vector<std::string> argv{m_program};
        argv.insert(argv.end(), args.begin(), args.end());
        Subprocess process(argv, environment(), withStderr);
        const std::string output = process.readAll();
        status = process.wait();
        return output;
    }

    // Everything the event log holds so far, the days in order (so that
    // what a test saw earlier stays a prefix).
    std::string log() const
    {
        std::vector<std::string> days;
        if (std::filesystem::exists(logFolder()))
            for (const auto& entry : std::filesystem::directory_iterator(logFolder()))
                if (entry.path().filename().string().rfind("qf", 0) == 0)
                    days.push_back(entry.path());
        std::sort(days.begin(), days.end());
        std::string all;
        for (const std::string& day : days)
            all += readFile(day);
        return all;
    }

    // Polls the log (bounded) until it holds text.
    bool logShows(const std::string& text, int timeoutMs = 5000) const
    {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            if (log().find(text) != std::string::npos)
                return true;
            ::usleep(20000);
        }
        return false;
    }

    // A client is greeted and its QUIT answered: the proxy is serving.
    void expectServes() const
    {
        PopClient client(m_port);
        EXPECT_EQ(client.line(), "+OK Quillfence\r\n");
        EXPECT_EQ(client.command("QUIT"), "+OK Session closed.\r\n");
    }

    // Asks the running instance to stop and waits for its exit status.
    int stop(Subprocess& process)
    {
        int status = 0;
        runOnce("-stop", status);
        int exitStatus = -1;
        if (!process.waitFor(5000, exitStatus))
            return -1;
        return exitStatus;
    }

private:
    TempDir m_dir;
    int m_port;
    std::map<std::string, std::string> m_settings;
    std::string m_program = QUILLFNC_PATH;
    std::optional<mode_t> m_umask;
    bool m_desktop = false;
    bool m_commonRoot = true;
    std::vector<std::string> m_wrapper;
};
