// A POP3 server on loopback holding a fixed mailbox, for tests that run the
// program against a server: it takes any number of connections, each on a
// thread of its own, so that a client that vanishes in the middle of a reply
// (a killed program) never holds up the next one.  Unless deleteAtQuit()
// is called, nothing is ever deleted: DELE is answered and forgotten, and
// every session sees the same mailbox.  With it, the messages a session
// marked go when it sends QUIT, as a real server's do; each message keeps
// its uid ("uid-" and its first position).
#pragma once

#include "support/Loopback.h"

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MailboxServer
{
public:
    // messages: each text as it goes on the wire (dot-stuffed, without the
    // final "." line).  topDelayMs: a pause before every TOP reply.
    MailboxServer(std::vector<std::string> messages, int topDelayMs)
        : m_messages(std::move(messages)), m_topDelayMs(topDelayMs)
    {
        for (size_t i = 0; i < m_messages.size(); ++i)
            m_uids.push_back("uid-" + std::to_string(i + 1));
        m_acceptor = std::thread([this] { acceptAll(); });
    }
    ~MailboxServer()
    {
        ::shutdown(m_listener.fd(), SHUT_RDWR);
        m_acceptor.join();
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (int fd : m_open)
                ::shutdown(fd, SHUT_RDWR);
            threads.swap(m_threads);
        }
        for (auto& thread : threads)
            thread.join();
    }
    MailboxServer(const MailboxServer&) = delete;
    MailboxServer& operator=(const MailboxServer&) = delete;

    int port() const { return m_listener.port(); }
    void deleteAtQuit() { m_deleteAtQuit = true; }
    // RETR is answered "-ERR" (TOP still works), as by a server that will
    // not give a message whole.
    void refuseRetr() { m_refuseRetr = true; }
    // DELE is answered "-ERR" and nothing is marked while refuse is true.
    void refuseDele(bool refuse) { m_refuseDele = refuse; }
    // The reply to QUIT (after its deletions, if any).
    void quitReply(std::string reply) { m_quitReply = std::move(reply); }
    // The uids of the messages the mailbox holds now.
    std::vector<std::string> uids()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_uids;
    }
    const std::vector<std::string>& messages() const { return m_messages; }

    // How many commands have come in so far, over all connections.
    size_t commandCount()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_commands.size();
    }

    // Waits (at most timeoutMs) until command has come in as the from-th
    // command or later; false when it has not.
    bool waitForCommand(const std::string& command, size_t from, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (size_t i = from; i < m_commands.size(); ++i)
                if (m_commands[i] == command)
                    return true;
            return false;
        });
    }

    // Every command so far, over all connections, in order.
    std::vector<std::string> commands()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_commands;
    }

private:
    void acceptAll()
    {
        for (;;) {
            UniqueFd fd = m_listener.accept();
            if (!fd)
                return;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_open.push_back(fd.get());
            m_threads.emplace_back([this, connection = fd.release()] { serve(connection); });
        }
    }

    static bool sendText(int fd, const std::string& text)
    {
        for (size_t sent = 0; sent < text.size();) {
            const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    // The numbered message of "VERB n" or "VERB n 0"; null for anything else.
    const std::string* numbered(const std::string& command, const std::string& verb, bool top)
    {
        if (command.compare(0, verb.size() + 1, verb + " ") != 0)
            return nullptr;
        const std::string rest = command.substr(verb.size() + 1);
        size_t end = 0;
        int n = 0;
        try {
            n = std::stoi(rest, &end);
        } catch (...) {
            return nullptr;
        }
        if (rest.substr(end) != (top ? " 0" : "") || n < 1 || n > static_cast<int>(m_messages.size()))
            return nullptr;
        return &m_messages[static_cast<size_t>(n - 1)];
    }

    std::string reply(const std::string& command)
    {
        if (command == "USER me" || command == "PASS secret" || command == "NOOP")
            return "+OK\r\n";
        if (command == "LIST" || command == "UIDL") {
            std::string text = "+OK\r\n";
            for (size_t i = 0; i < m_messages.size(); ++i) {
                const std::string number = std::to_string(i + 1);
                text += number + " " + (command == "LIST" ? std::to_string(m_messages[i].size()) : m_uids[i]) + "\r\n";
            }
            return text + ".\r\n";
        }
        if (m_refuseRetr && numbered(command, "RETR", false))
            return "-ERR message unavailable\r\n";
        if (const std::string* text = numbered(command, "RETR", false))
            return "+OK " + std::to_string(text->size()) + " octets\r\n" + *text + ".\r\n";
        if (const std::string* text = numbered(command, "TOP", true)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_topDelayMs));
            return "+OK\r\n" + text->substr(0, text->find("\r\n\r\n") + 4) + ".\r\n";
        }
        if (numbered(command, "DELE", false))
            return m_refuseDele ? "-ERR message locked\r\n" : "+OK deleted\r\n";
        return "-ERR unknown command\r\n";
    }

    void serve(int fd)
    {
        std::string pending;
        std::vector<size_t> marked;   // DELE n of this connection
        bool open = sendText(fd, "+OK mailbox ready\r\n");
        char chunk[4096];
        while (open) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            pending.append(chunk, static_cast<size_t>(n));
            for (size_t end; open && (end = pending.find("\r\n")) != std::string::npos;) {
                const std::string command = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (numbered(command, "DELE", false) && !m_refuseDele)
                    marked.push_back(static_cast<size_t>(std::stoi(command.substr(5)) - 1));
                {
                    // A QUIT is seen by waitForCommand once its deletions
                    // are done.
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (command == "QUIT" && m_deleteAtQuit) {
                        std::sort(marked.begin(), marked.end());
                        marked.erase(std::unique(marked.begin(), marked.end()), marked.end());
                        for (auto it = marked.rbegin(); it != marked.rend(); ++it) {
                            m_messages.erase(m_messages.begin() + static_cast<long>(*it));
                            m_uids.erase(m_uids.begin() + static_cast<long>(*it));
                        }
                    }
                    m_commands.push_back(command);
                }
                m_changed.notify_all();
                if (command == "QUIT") {
                    sendText(fd, m_quitReply);
                    open = false;
                } else {
                    open = sendText(fd, reply(command));
                }
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_open.begin(); it != m_open.end(); ++it)
            if (*it == fd) {
                m_open.erase(it);
                break;
            }
        ::close(fd);
    }

    LoopbackListener m_listener;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_uids;
    bool m_deleteAtQuit = false;
    bool m_refuseRetr = false;
    std::atomic<bool> m_refuseDele{false};
    std::string m_quitReply = "+OK bye\r\n";
    const int m_topDelayMs;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_commands;
    std::vector<int> m_open;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};
