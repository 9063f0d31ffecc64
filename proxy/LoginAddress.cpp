#include "proxy/LoginAddress.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string accountFileName(const std::string& user, const std::string& server)
{
    std::string name = user + "@" + server + ".dat";
    for (char& c : name)
        if (std::strchr("\"*/:<>?\\", c) != nullptr)
            c = '#';
    return name;
}

// Takes the suffixes off the end of server; false for an unknown one or a
// second of a kind.
bool takeSuffixes(std::string& server, LoginAddress& address)
{
    bool methodGiven = false, tlsGiven = false;
    for (size_t dollar; (dollar = server.rfind('$')) != std::string::npos;) {
        const std::string suffix = server.substr(dollar + 1);
        server.resize(dollar);
        bool* given = &methodGiven;
        if (::strcasecmp(suffix.c_str(), "TLS") == 0)
            address.tls = TlsMode::Implicit, given = &tlsGiven;
        else if (::strcasecmp(suffix.c_str(), "STLS") == 0)
            address.tls = TlsMode::Stls, given = &tlsGiven;
        else if (!loginMethodOfSuffix(suffix, address.method))
            return false;
        if (*given)
            return false;
        *given = true;
    }
    return true;
}

} // namespace

std::string accountOfFile(const std::string& accountFile)
{
    return accountFile.substr(0, accountFile.size() - (accountFile.ends_with(".dat") ? 4 : 0));
}

LoginAddressFault parseLoginAddress(const std::string& argument, char separator, LoginAddress& address)
{
    address = LoginAddress{};
    const size_t at = argument.rfind(separator);   // the last separator counts
    if (at == std::string::npos || at == 0 || at + 1 == argument.size())
        return LoginAddressFault::Syntax;
    address.user = argument.substr(0, at);
    std::string server = argument.substr(at + 1);
    if (!takeSuffixes(server, address) || server.empty())
        return LoginAddressFault::Syntax;
    const bool tlsGiven = address.tls != TlsMode::Opportunistic;
    address.accountFile = accountFileName(address.user, server);
    if (address.accountFile.size() > kMaxAccountFile)
        return LoginAddressFault::TooLong;

    std::string portText;
    address.host = server;
    if (server[0] == '[') {
        const size_t close = server.find(']');
        if (close == std::string::npos || (close + 1 < server.size() && server[close + 1] != ':'))
            return LoginAddressFault::Syntax;
        address.host = server.substr(1, close - 1);
        if (close + 1 < server.size())
            portText = server.substr(close + 2);
    } else if (const size_t colon = server.rfind(':'); colon != std::string::npos) {
        address.host = server.substr(0, colon);
        portText = server.substr(colon + 1);
    }
    if (!portText.empty()) {
        const long value = std::strtol(portText.c_str(), nullptr, 10);
        address.port = value < 1 ? 110 : (value > INT_MAX ? INT_MAX : static_cast<int>(value));
    }
    if (address.host.empty())
        return LoginAddressFault::Syntax;
    if (!tlsGiven && address.port == kPop3sPort)
        address.tls = TlsMode::Implicit;
    return LoginAddressFault::None;
}

std::string formatLoginAddress(const LoginAddress& address, char separator)
{
    std::string text = address.user + separator;
    text += address.host.find(':') == std::string::npos ? address.host : "[" + address.host + "]";
    const bool ownPort = address.tls == TlsMode::Implicit ? address.port == kPop3sPort : address.port == 110;
    if (!ownPort || address.tls == TlsMode::Implicit)
        text += ":" + std::to_string(address.port);
    if (address.tls == TlsMode::Implicit && !ownPort)
        text += "$TLS";
    else if (address.tls == TlsMode::Stls)
        text += "$STLS";
    if (const char* suffix = loginMethodRow(address.method).suffix)
        text += std::string("$") + suffix;
    return text;
}
