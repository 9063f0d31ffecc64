#include "oauth/LoopbackRedirect.h"

#include "oauth/Pkce.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void answer(int fd, const char* status, const std::string& sentence)
{
    const std::string body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Quillfence Pro</title>"
                             "</head><body><p>" + sentence + "</p></body></html>\n";
    const std::string reply = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: text/html; charset=utf-8\r\n" +
                              "Content-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + body;
    size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            return;   // a browser that does not read is not waited for
        sent += static_cast<size_t>(n);
    }
}

// The request line's target of a request read within kRequestMs; empty
// when none came whole.
std::string requestTarget(int fd)
{
    std::string request;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(LoopbackRedirect::kRequestMs);
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < LoopbackRedirect::kMaxRequest) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char piece[1024];
        const ssize_t n = ::recv(fd, piece, std::min(sizeof piece, LoopbackRedirect::kMaxRequest - request.size()), 0);
        if (n <= 0)
            return {};
        request.append(piece, static_cast<size_t>(n));
    }
    const size_t lineEnd = request.find("\r\n");
    if (lineEnd == std::string::npos || request.compare(0, 4, "GET ") != 0)
        return {};
    const std::string line = request.substr(4, lineEnd - 4);
    return line.substr(0, line.find(' '));
}

} // namespace

bool queryValue(const std::string& query, const std::string& name, std::string& value)
{
    size_t start = 0;
    while (start <= query.size()) {
        const size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (percentDecoded(pair.substr(0, equals)) == name) {
            value = equals == std::string::npos ? "" : percentDecoded(pair.substr(equals + 1));
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool LoopbackRedirect::open(std::string& error)
{
    m_listener = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!m_listener || ::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener.get(), 8) != 0 ||
        ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = std::string("no port on 127.0.0.1 for the browser to come back to: ") + std::strerror(errno);
        m_listener.reset();
        return false;
    }
    m_port = ntohs(address.sin_port);
    return true;
}

std::string LoopbackRedirect::redirectUri() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

LoopbackRedirect::Outcome LoopbackRedirect::waitForCode(const std::string& state,
                                                        std::chrono::steady_clock::time_point deadline,
                                                        const std::function<bool()>& stopped, std::string& code,
                                                        std::string& error)
{
    while (std::chrono::steady_clock::now() < deadline) {
        if (stopped())
            return Outcome::Stopped;
        pollfd waiting{m_listener.get(), POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        UniqueFd connection(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection)
            continue;
        const std::string target = requestTarget(connection.get());
        const size_t question = target.find('?');
        if (target.substr(0, question) != "/") {
            answer(connection.get(), "404 Not Found", "Nothing here.");
            continue;
        }
        const std::string query = question == std::string::npos ? "" : target.substr(question + 1);
        std::string given;
        if (!queryValue(query, "state", given) || given != state) {
            answer(connection.get(), "400 Bad Request", "This is not the sign-in Quillfence Pro is waiting for.");
            continue;
        }
        if (queryValue(query, "error", error)) {
            std::string description;
            if (queryValue(query, "error_description", description))
                error += ": " + description.substr(0, 300);
            answer(connection.get(), "200 OK", "The sign-in was not completed. You can close this window.");
            return Outcome::Refused;
        }
        if (!queryValue(query, "code", code) || code.empty()) {
            answer(connection.get(), "400 Bad Request", "The provider sent no code.");
            continue;
        }
        answer(connection.get(), "200 OK",
               "Quillfence Pro is signed in. You can close this window and go back to your mail program.");
        return Outcome::Code;
    }
    return Outcome::TimedOut;
}
