// LoopbackRedirect: where the browser comes back to after a sign-in at the
// provider (RFC 8252, section 7.3): a listener on 127.0.0.1, on a port the
// system chooses, that takes the one redirect carrying this sign-in's state.
//
// Each connection may send one request of at most kMaxRequest bytes within
// kRequestMs; the redirect is "GET /?code=...&state=..." (or "error=...").
// A request for another path, or with another state, is answered and passed
// over: any program on the computer can connect, and only the browser that
// the provider sent back knows the state.  The browser is answered with a
// short page that says what happened.  One thread.
#pragma once

#include "common/UniqueFd.h"

#include <chrono>
#include <functional>
#include <string>

class LoopbackRedirect
{
public:
    static constexpr size_t kMaxRequest = 8192;
    static constexpr int kRequestMs = 5000;

    // False with error when no port could be had.
    bool open(std::string& error);
    // "http://127.0.0.1:<port>/"
    std::string redirectUri() const;

    enum class Outcome { Code, Refused, TimedOut, Stopped };
    // Waits for the redirect with state until deadline or stopped(); code
    // receives the code, or error the provider's refusal.
    Outcome waitForCode(const std::string& state, std::chrono::steady_clock::time_point deadline,
                        const std::function<bool()>& stopped, std::string& code, std::string& error);

private:
    UniqueFd m_listener;
    int m_port = 0;
};

// The value of name in a query ("a=1&b=2"), percent-decoded; false when
// it is not there.
bool queryValue(const std::string& query, const std::string& name, std::string& value);
