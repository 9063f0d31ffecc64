// A second local user for tests that need a client of another user: the
// account "qftestpeer", made with useradd when it is missing (which needs
// root), and loopback clients run as that user with runuser.
#pragma once

#include "support/Subprocess.h"

#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

inline constexpr const char* kOtherUserName = "qftestpeer";

// The other user's uid; none, with why, when it is not there and cannot be
// made.
inline std::optional<uid_t> otherTestUser(std::string& why)
{
    if (const passwd* entry = ::getpwnam(kOtherUserName))
        return entry->pw_uid;
    if (::geteuid() != 0) {
        why = std::string("the user ") + kOtherUserName + " is missing and only root can add it";
        return std::nullopt;
    }
    Subprocess add({"/usr/sbin/useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                    kOtherUserName},
                   {}, true);
    const std::string output = add.readAll();
    const int status = add.wait();
    if (const passwd* entry = ::getpwnam(kOtherUserName))
        return entry->pw_uid;
    why = "useradd " + std::string(kOtherUserName) + " failed (status " + std::to_string(status) + "): " + output;
    return std::nullopt;
}

// A POP3 client run as the other user: connects to 127.0.0.1:port, prints
// "connected", then "line <first line>" for the first line it receives.
// It then sends each of commands and prints "line <reply>" for each (the
// first line of the reply); in any case it then prints "closed" when the
// server closes the connection.  "timeout" when nothing comes for 10 s.
// Its output is on the Subprocess's pipe.
inline std::unique_ptr<Subprocess> otherUserClient(int port, const std::vector<std::string>& commands)
{
    static const char* const kScript = R"(
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10)
print("connected", flush=True)
data = b""
def line():
    global data
    while b"\r\n" not in data:
        chunk = s.recv(4096)
        if not chunk:
            return None
        data += chunk
    first, data = data.split(b"\r\n", 1)
    return first.decode("latin-1")
def lines_until_dot():
    while line() not in (".", None):
        pass
try:
    print("line", line(), flush=True)
    for command in sys.argv[2:]:
        s.sendall(command.encode() + b"\r\n")
        reply = line()
        print("line", reply, flush=True)
        if command.split()[0].upper() in ("LIST", "UIDL", "RETR", "TOP") and len(command.split()) != 2 \
                and reply and reply.startswith("+OK"):
            lines_until_dot()
    if not data and s.recv(4096) == b"":
        print("closed", flush=True)
except socket.timeout:
    print("timeout", flush=True)
)";
    std::vector<std::string> argv{"/usr/sbin/runuser", "-u", kOtherUserName, "--", "/usr/bin/python3", "-c",
                                  kScript, std::to_string(port)};
    argv.insert(argv.end(), commands.begin(), commands.end());
    return std::make_unique<Subprocess>(argv, std::vector<std::string>{}, true);
}

// The same client, sending only QUIT when quit is true.
inline std::unique_ptr<Subprocess> otherUserClient(int port, bool quit)
{
    return otherUserClient(port, quit ? std::vector<std::string>{"QUIT"} : std::vector<std::string>{});
}
