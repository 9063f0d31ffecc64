#include "proxy/LoginCheck.h"

#include "proxy/LoginAddress.h"
#include "upstream/ReplyText.h"
#include "upstream/UpstreamClient.h"

#include "common/CRegistry.h"
#include "oauth/AccessTokens.h"
#include "common/SettingValues.h"
#include "common/Socket.h"
#include "common/StopToken.h"

#include <chrono>
#include <optional>
#include <cstring>

namespace {

const char kStopped[] = "The check was stopped.";

struct CheckSettings {
    char separator = static_cast<char>(defaultOf(Setting::SeparatorChar));
    int deadline = defaultOf(Setting::UpstreamDeadline);
    UpstreamClient::TlsSettings tls;
};

CheckSettings readCheckSettings()
{
    CheckSettings settings;
    CRegistry reg;
    if (!openSettingKey(reg, settingInfo(Setting::SeparatorChar)))
        return settings;
    int separator = 0;
    if (querySetting(reg, Setting::SeparatorChar, separator))
        settings.separator = static_cast<char>(separator);
    querySetting(reg, Setting::UpstreamDeadline, settings.deadline);
    querySetting(reg, Setting::TlsCAFile, settings.tls.caFile);
    querySetting(reg, Setting::TlsVerify, settings.tls.verify);
    return settings;
}

std::string connectFailure(const LoginAddress& address, int error)
{
    if (error == Socket::kHostNotFound)
        return "The server name " + address.host + " was not found.";
    return formatText("Unable to connect to %s:%d: %s.", address.host.c_str(), address.port, std::strerror(error));
}

std::string deadlineText(int seconds)
{
    return formatText("The mail server did not complete the login within %d seconds.", seconds);
}

// The login after the connection: false with result.text when it failed.
bool logIn(UpstreamClient& server, const LoginAddress& address, const std::string& password,
           const CheckSettings& settings, LoginCheckResult& result)
{
    std::string reply;
    if (!server.begin(address.user, address.tls, address.method, settings.tls, reply)) {
        result.text = reply.empty() ? deadlineText(settings.deadline) : "Not logged in: " + reply;
        return false;
    }
    if (!beginsWith(reply, "+OK")) {
        result.text = "The server refused the user name: " + reply;
        return false;
    }
    result.encrypted = server.connection().secure();
    std::string secret = password;
    if (address.method == LoginMethod::OAuth) {
        // The kept sign-in stands for the password, as in a session.
        const OAuthContext context = programOAuthContext(settings.tls.caFile, settings.deadline);
        const std::string who = address.user + settings.separator + address.host +
                                (address.port == 110 ? "" : ":" + std::to_string(address.port));
        if (!currentAccessToken(context, accountOfFile(address.accountFile), who, secret,
                                reply)) {
            result.text = "Not logged in: " + reply;
            return false;
        }
    }
    reply = server.authenticate(secret);
    if (!beginsWith(reply, "+OK")) {
        result.text = "Not logged in: " + reply;
        return false;
    }
    result.loggedIn = true;
    const std::string where = formatText("%s:%d", address.host.c_str(), address.port);
    if (result.encrypted && settings.tls.verify)
        result.text = "Logged in to " + where + " over TLS.";
    else if (result.encrypted)
        result.text = "Logged in to " + where + " over TLS, but the server's certificate was not checked "
                      "(TlsVerify is off).";
    else if (address.method == LoginMethod::UserPass)
        result.text = "Logged in to " + where + ", but without encryption: the password crossed the network as "
                      "plain text.";
    else
        result.text = "Logged in to " + where + ", but without encryption: the mail crosses the network as "
                      "plain text.";
    result.text += " The server said: " + reply;
    return true;
}

} // namespace

LoginCheckResult checkLogin(const std::string& loginName, const std::string& password)
{
    const CheckSettings settings = readCheckSettings();
    LoginCheckResult result;
    LoginAddress address;
    switch (parseLoginAddress(loginName, settings.separator, address)) {
    case LoginAddressFault::Syntax:
        result.text = formatText("\"%s\" is not a login of the form name%cserver[:port].", loginName.c_str(),
                                 settings.separator);
        return result;
    case LoginAddressFault::TooLong:
        result.text = "The user name and server are too long.";
        return result;
    case LoginAddressFault::None:
        break;
    }
    if (password.empty()) {
        result.text = "A password is needed to try the login.";
        return result;
    }

    // Made inside the try: making its socket can fail too.
    std::optional<UpstreamClient> client;
    try {
        client.emplace();
        UpstreamClient& server = *client;
        server.connection().setDeadline(std::chrono::steady_clock::now() + std::chrono::seconds(settings.deadline));
        if (server.connect(address.host, address.port) != 0) {
            if (StopToken::requested())
                result.text = kStopped;
            else if (server.connection().deadlinePassed())
                result.text = deadlineText(settings.deadline);
            else
                result.text = connectFailure(address, server.connection().lastError());
            return result;
        }
        if (!logIn(server, address, password, settings, result))
            return result;
    } catch (const UpstreamLost&) {
        result.text = client->connection().deadlinePassed() ? deadlineText(settings.deadline)
                                                            : "The server closed the connection during the login.";
        return result;
    } catch (long) {   // Socket::kInterrupted
        result.text = kStopped;
        return result;
    } catch (...) {
        result.text = "The login could not be tried: the connection could not be made here.";
        return result;
    }
    // Logged in: how the session ends changes nothing of that.
    try {
        client->command("QUIT\r\n");
        client->connection().close(1000);
    } catch (...) {
        client->drop();
    }
    return result;
}
