// The ways the proxy logs in to the mail server, one row each in a table:
// the suffix of USER that chooses it, what its login needs from the
// greeting and from USER, and the exchange that proves the password.  A new
// way of logging in is one row and its exchange.
#pragma once

#include <string>

class UpstreamConnection;

// How the proxy logs in upstream: USER/PASS, APOP, AUTH MSN, or an OAuth
// 2.0 access token (upstream/OAuthSasl).
enum class LoginMethod { UserPass = 0, Apop = 1, Msn = 2, OAuth = 3 };

// How the upstream connection is protected: STLS when the server offers
// it, TLS from the first byte ($TLS, port 995), or STLS required ($STLS).
enum class TlsMode { Opportunistic, Implicit, Stls };

// What an exchange is given.
struct LoginCredentials {
    std::string user;
    std::string password;    // $OAUTH: the access token
    std::string host;        // for the security package and OAUTHBEARER
    int port = 0;
    std::string timestamp;   // APOP: the greeting's "<...>"
};

struct LoginMethodRow {
    LoginMethod method;
    const char* suffix;        // after '$' in USER, any case; null: the default
    bool sendsUser;            // USER goes to the server before PASS
    bool needsTimestamp;       // the greeting must carry "<...>"
    bool needsTls;             // never tried on a plain connection
    // Sends what proves the password; returns the server's last reply, or
    // an "-ERR ..." text of the proxy's own when it could not try.
    std::string (*exchange)(UpstreamConnection& server, const LoginCredentials& credentials);
};

const LoginMethodRow& loginMethodRow(LoginMethod method);
// The method a USER suffix names; false for none.
bool loginMethodOfSuffix(const std::string& suffix, LoginMethod& method);

enum class TimestampFault { None, Missing, TooLong };
// The APOP timestamp of a greeting: from its first '<' to the next '>'.
// Missing without a '<'; empty when no '>' follows it.  Pure.
TimestampFault apopTimestampOf(const std::string& greeting, std::string& timestamp);
// Beyond this length an APOP timestamp is refused, not cut.
constexpr size_t kMaxTimestamp = 79;
