// A scripted POP3 server on loopback for session tests: answers each
// command line with the text the test gave for it, and records what it got.
// Connections are served one after another, each from the greeting on.
#pragma once

#include "support/Loopback.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeUpstream
{
public:
    // The greeting of RFC 1939's APOP example.
    static constexpr const char* kGreeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";

    // replies: command line (without CR LF) -> the whole answer to send.
    // A reply of kDrop closes the connection instead; delays holds pauses
    // (ms) before the replies to some commands.
    static constexpr const char* kDrop = "<drop>";

    explicit FakeUpstream(std::map<std::string, std::string> replies,
                          std::string greeting = kGreeting, std::map<std::string, int> delays = {})
        : m_replies(std::move(replies)), m_greeting(std::move(greeting)), m_delays(std::move(delays))
    {
        m_thread = std::thread([this] { serve(); });
    }
    ~FakeUpstream()
    {
        ::shutdown(m_listener.fd(), SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_connection)
                ::shutdown(m_connection.get(), SHUT_RDWR);
        }
        m_thread.join();
    }

    int port() const { return m_listener.port(); }

    // Sends the reply to command through send (given the connection and
    // the reply) instead of in one piece.
    using Sender = std::function<void(int, const std::string&)>;
    void sendWith(const std::string& command, Sender send)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_senders[command] = std::move(send);
    }
    std::vector<std::string> received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    void serve()
    {
        for (;;) {
            UniqueFd accepted = m_listener.accept();
            if (!accepted)
                return;   // the listener was shut down
            serveOne(std::move(accepted));
            std::lock_guard<std::mutex> lock(m_mutex);
            m_connection.reset();
        }
    }

    void serveOne(UniqueFd accepted)
    {
        int fd;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_connection = std::move(accepted);
            fd = m_connection.get();
        }
        sendAll(fd, m_greeting);
        std::string pending;
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                // The session closed its side: close ours, as a server does.
                ::shutdown(fd, SHUT_WR);
                return;
            }
            pending.append(chunk, static_cast<size_t>(n));
            size_t end;
            while ((end = pending.find("\r\n")) != std::string::npos) {
                const std::string command = pending.substr(0, end);
                pending.erase(0, end + 2);
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_received.push_back(command);
                }
                auto delay = m_delays.find(command);
                if (delay != m_delays.end())
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay->second));
                auto it = m_replies.find(command);
                if (it != m_replies.end() && it->second == kDrop) {
                    ::shutdown(fd, SHUT_RDWR);
                    return;
                }
                const std::string reply = it != m_replies.end() ? it->second : "-ERR unknown\r\n";
                Sender sender;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    auto custom = m_senders.find(command);
                    if (custom != m_senders.end())
                        sender = custom->second;
                }
                if (sender)
                    sender(fd, reply);
                else
                    sendAll(fd, reply);
            }
        }
    }

    LoopbackListener m_listener;
    UniqueFd m_connection;
    std::map<std::string, std::string> m_replies;
    std::string m_greeting;
    std::map<std::string, int> m_delays;
    std::map<std::string, Sender> m_senders;
    std::mutex m_mutex;
    std::vector<std::string> m_received;
    std::thread m_thread;
};
