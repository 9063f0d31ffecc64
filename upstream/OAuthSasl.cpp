#include "upstream/OAuthSasl.h"

#include "common/Base64.h"
#include "common/CEventLog.h"
#include "upstream/ReplyText.h"
#include "upstream/UpstreamConnection.h"

#include <strings.h>

#include <sstream>
#include <vector>

namespace {

// A failure challenge carries a short JSON text; beyond this it is cut.
constexpr size_t kMaxChallengeLine = 4096;

std::string base64(const std::string& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    MimeEncodeStr(bytes.data(), out.data(), static_cast<int>(bytes.size()));
    out.resize(out.size() - 1);
    return out;
}

std::string unbase64(const std::string& text)
{
    std::vector<char> out(3 * (text.size() / 4) + 3);
    const int n = MimeDecodeLine(text.c_str(), out.data());
    return std::string(out.data(), static_cast<size_t>(n));
}

// The failure challenge's JSON, made fit for one log line.
std::string printable(const std::string& text)
{
    std::string out;
    for (const char c : text.substr(0, 300))
        out += (c >= ' ' && c <= '~') ? c : '?';
    return out;
}

} // namespace

std::string xoauth2Response(const std::string& user, const std::string& token)
{
    return "user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01";
}

std::string oauthBearerResponse(const std::string& user, const std::string& host, int port,
                                const std::string& token)
{
    std::string name;
    for (const char c : user) {
        if (c == '=')
            name += "=3D";
        else if (c == ',')
            name += "=2C";
        else
            name += c;
    }
    return "n,a=" + name + ",\x01" "host=" + host + "\x01" "port=" + std::to_string(port) +
           "\x01" "auth=Bearer " + token + "\x01\x01";
}

bool oauthMechanismOfCapa(const std::string& capaLine, OAuthMechanism& mechanism)
{
    std::istringstream words(capaLine);
    std::string word;
    if (!(words >> word) || ::strcasecmp(word.c_str(), "SASL") != 0)
        return false;
    bool xoauth2 = false;
    bool bearer = false;
    while (words >> word) {
        xoauth2 = xoauth2 || ::strcasecmp(word.c_str(), "XOAUTH2") == 0;
        bearer = bearer || ::strcasecmp(word.c_str(), "OAUTHBEARER") == 0;
    }
    if (bearer)
        mechanism = OAuthMechanism::OAuthBearer;
    else if (xoauth2)
        mechanism = OAuthMechanism::XOAuth2;
    return bearer || xoauth2;
}

std::string oauthExchange(UpstreamConnection& server, const std::string& user, const std::string& host, int port,
                          const std::string& token)
{
    // Over TLS the capabilities may differ from those listed before it.
    OAuthMechanism mechanism = OAuthMechanism::XOAuth2;
    server.send("CAPA\r\n");
    if (beginsWith(server.readLine(), "+OK")) {
        for (std::string line; (line = server.readLine()) != ".";)
            oauthMechanismOfCapa(line, mechanism);
    }
    const bool bearer = mechanism == OAuthMechanism::OAuthBearer;
    server.send(bearer ? "AUTH OAUTHBEARER\r\n" : "AUTH XOAUTH2\r\n");
    std::string reply = server.readLine();
    if (!beginsWith(reply, "+") || beginsWith(reply, "+OK"))
        return reply;
    server.send(base64(bearer ? oauthBearerResponse(user, host, port, token) : xoauth2Response(user, token)) + "\r\n",
                true);
    reply = server.readLine(kMaxChallengeLine);
    if (beginsWith(reply, "+") && !beginsWith(reply, "+OK")) {
        // The token was refused: the challenge says why, and the exchange
        // ends with the client's empty answer (OAUTHBEARER: ^A).
        CEventLog().LogEvent(2, "%s refused the token of %s: %s", host.c_str(), user.c_str(),
                             printable(unbase64(reply.substr(1))).c_str());
        server.send(bearer ? "AQ==\r\n" : "\r\n");
        reply = server.readLine();
    }
    return reply;
}
