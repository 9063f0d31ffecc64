// The built program, run as a process for tests: temporary data roots and
// runtime folder, a free loopback port written into its settings hive, and
// readers for its output and event log.
#pragma once

#include "support/Loopback.h"
#include "support/PopClient.h"
#include "support/Subprocess.h"
#include "support/TestHelpers.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

class ProxyProgram
{
public:
    ProxyProgram() : m_port(freeLoopbackPort())
    {
        std::filesystem::create_directories(m_dir / "rt");
        ::chmod((m_dir / "rt").c_str(), 0700);
        setting("LISTENPORT", std::to_string(m_port));
    }

    int port() const { return m_port; }
    const TempDir& folder() const { return m_dir; }

    // Runs a copy of the program from a program folder of its own, so that
    // a test can put files beside it (default.dat, shared.txt, user.txt).
    std::string ownProgramFolder()
    {
        const std::string folder = m_dir / "program";
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(QUILLFNC_PATH, folder + "/quillfnc",
                                   std::filesystem::copy_options::overwrite_existing);
        m_program = folder + "/quillfnc";
        return folder;
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
        std::filesystem::create_directories(m_dir / "data/Corvanta Ltd/config");
        writeFile(m_dir / "data/Corvanta Ltd/config/quilfpro_usr.dat", hive);
    }

    std::vector<std::string> environment() const
    {
        return {"XDG_DATA_HOME=" + (m_dir / "data"), "QUILLFENCE_COMMON_ROOT=" + (m_dir / "common"),
                "QUILLFENCE_GLOBAL_ROOT=" + (m_dir / "global"), "XDG_RUNTIME_DIR=" + (m_dir / "rt"),
                "DISPLAY=", "WAYLAND_DISPLAY="};
    }

    // Starts the program; waitForListener: until it says where it listens.
    std::unique_ptr<Subprocess> start(bool waitForListener = true)
    {
        auto process = std::make_unique<Subprocess>(std::vector<std::string>{m_program, "-nogui"},
                                                    environment(), true);
        if (waitForListener) {
            std::string line;
            if (!process->readLine(line, 10000) || line.find("listening on 127.0.0.1:") == std::string::npos)
                throw std::runtime_error("the program did not start listening: '" + line + "'");
        }
        return process;
    }

    // Runs the program with args to its end; its output.
    std::string runOnce(const std::string& arg, int& status)
    {
        Subprocess process({m_program, arg}, environment(), true);
        const std::string output = process.readAll();
        status = process.wait();
        return output;
    }

    // Everything the event log holds so far.
    std::string log() const
    {
        std::string all;
        if (std::filesystem::exists(logFolder()))
            for (const auto& entry : std::filesystem::directory_iterator(logFolder()))
                if (entry.path().filename().string().rfind("qf", 0) == 0)
                    all += readFile(entry.path());
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
};
