// A plain POP3 client for tests: a loopback connection, whole-line reads
// with a time-out (so a broken server fails a test instead of hanging it).
#pragma once

#include "common/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>
#include <string>

class PopClient
{
public:
    explicit PopClient(int port, int timeoutMs = 5000) : m_timeoutMs(timeoutMs)
    {
        m_fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (!m_fd || ::connect(m_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }

    void send(const std::string& data)
    {
        size_t sent = 0;
        while (sent < data.size()) {
            ssize_t n = ::send(m_fd.get(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            sent += static_cast<size_t>(n);
        }
    }

    // One line with its CR LF; "" when the connection closed or nothing came
    // within the time-out.
    std::string line() { return line(m_timeoutMs); }
    std::string line(int timeoutMs)
    {
        for (;;) {
            const size_t end = m_buffer.find("\r\n");
            if (end != std::string::npos) {
                std::string out = m_buffer.substr(0, end + 2);
                m_buffer.erase(0, end + 2);
                return out;
            }
            if (!fill(timeoutMs))
                return "";
        }
    }

    std::string command(const std::string& text)
    {
        send(text + "\r\n");
        return line();
    }

    // A multi-line answer after its first line, up to and including ".\r\n".
    std::string body()
    {
        std::string all;
        for (;;) {
            const std::string next = line();
            if (next.empty())
                return all + "<EOF>";
            all += next;
            if (next == ".\r\n")
                return all;
        }
    }

    // True when the server closed the connection (within the time-out).
    bool closedByServer()
    {
        return m_buffer.empty() && !fill(m_timeoutMs) && m_closed;
    }

    // Nothing at all arrives within ms.
    bool silentFor(int ms) { return m_buffer.empty() && !fill(ms) && !m_closed; }

    int fd() const { return m_fd.get(); }

private:
    bool fill(int timeoutMs)
    {
        pollfd entry{m_fd.get(), POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0)
            return false;
        char chunk[65536];
        const ssize_t n = ::recv(m_fd.get(), chunk, sizeof chunk, 0);
        if (n <= 0) {
            m_closed = true;
            return false;
        }
        m_buffer.append(chunk, static_cast<size_t>(n));
        return true;
    }

    UniqueFd m_fd;
    std::string m_buffer;
    int m_timeoutMs;
    bool m_closed = false;
};
