// The argument of USER given to the proxy, which names the upstream login:
//   <user><separator><server>[:<port>][$<login method>][$TLS|$STLS]
// The last separator splits the user from the server.  The suffixes come at
// the end in any order, at most one login method (those of
// upstream/LoginMethods) and one TLS mode, letters in any case.  The server
// is a name, an IPv4 address or "[IPv6 address]"; a port that is missing or
// below 1 is 110, one beyond INT_MAX is INT_MAX, and port 995 without a TLS
// suffix means TLS from the first byte.
// parseLoginAddress() is a pure function of its text; formatLoginAddress()
// writes the text it reads back.
#pragma once

#include "upstream/LoginMethods.h"

#include <cstddef>
#include <string>

struct LoginAddress {
    std::string user;
    std::string host;
    int port = 110;
    LoginMethod method = LoginMethod::UserPass;
    TlsMode tls = TlsMode::Opportunistic;
    // The account state file's name: user, "@", the server (host and port)
    // without its suffixes, ".dat"; characters that cannot stand in a file
    // name are '#'.
    std::string accountFile;
};

enum class LoginAddressFault {
    None,
    Syntax,    // not of the form above
    TooLong,   // the account file's name would pass kMaxAccountFile
};

constexpr size_t kMaxAccountFile = 511;
constexpr int kPop3sPort = 995;

// The account's name as its kept files use it: the account state file's
// name without its ".dat".
std::string accountOfFile(const std::string& accountFile);

LoginAddressFault parseLoginAddress(const std::string& argument, char separator, LoginAddress& address);

// The shortest text that parseLoginAddress reads back as address (user,
// host, port, method and TLS mode; accountFile is not used): the port when
// it is not 110, a TLS suffix only where the port does not say it (995
// alone means TLS from the first byte), a host with ':' in brackets.  Not every address can be said: STLS when offered on port 995
// reads back as TLS from the first byte, and a user or host holding the
// separator or '$' reads back otherwise.  Callers that build an address from
// the user's fields parse the text again to find out.
std::string formatLoginAddress(const LoginAddress& address, char separator);
