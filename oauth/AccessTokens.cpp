#include "oauth/AccessTokens.h"

#include "common/CEventLog.h"
#include "common/ProgramContext.h"
#include "oauth/OAuthFlows.h"
#include "oauth/OAuthProviders.h"
#include "oauth/TokenFile.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>

namespace {

std::mutex& accountMutex(const std::string& account)
{
    static std::mutex guard;
    static std::map<std::string, std::unique_ptr<std::mutex>> mutexes;
    const std::lock_guard<std::mutex> lock(guard);
    std::unique_ptr<std::mutex>& held = mutexes[account];
    if (!held)
        held = std::make_unique<std::mutex>();
    return *held;
}

std::string toRun(const std::string& who)
{
    return "run: quillfnc --authorize " + who;
}

} // namespace

OAuthContext programOAuthContext(const std::string& caFile, long long secondsLeft)
{
    OAuthContext context{programContext().programFolder, programContext().dataRoot, {}};
    context.https.caFile = caFile;
    context.https.timeoutSeconds = static_cast<int>(std::clamp<long long>(secondsLeft, 1, 30));
    return context;
}

bool currentAccessToken(const OAuthContext& context, const std::string& account, const std::string& who,
                        std::string& token, std::string& reply)
{
    // One renewal of an account at a time in the process: a login check
    // beside a session of the same account must not spend a refresh token
    // the other has just had rotated; the second reads what the first kept.
    const std::lock_guard<std::mutex> lock(accountMutex(account));
    const std::string folder = oauthTokenFolder(context.dataRoot);
    OAuthGrant grant;
    std::string error;
    switch (loadOAuthGrant(folder, account, grant, error)) {
    case GrantRead::Missing:
        reply = "-ERR " + who + " has not signed in with its provider yet, " + toRun(who);
        return false;
    case GrantRead::Refused:
        CEventLog().LogEvent(1, "The sign-in of %s cannot be used: %s", who.c_str(), error.c_str());
        reply = "-ERR The sign-in of " + who + " cannot be used (" + error + "), " + toRun(who);
        return false;
    case GrantRead::Found:
        break;
    }
    const long long now = static_cast<long long>(std::time(nullptr));
    if (!grant.accessToken.empty() && grant.expires - now > kRefreshMargin) {
        token = grant.accessToken;
        return true;
    }
    std::vector<OAuthProvider> providers;
    if (!loadOAuthProviders(context.programFolder, context.dataRoot, providers, error)) {
        CEventLog().LogEvent(1, "The table of sign-in providers cannot be read: %s", error.c_str());
        reply = "-ERR The table of sign-in providers cannot be read: " + error;
        return false;
    }
    const OAuthProvider* provider = findOAuthProvider(providers, grant.provider);
    if (provider == nullptr || grant.refreshToken.empty()) {
        reply = "-ERR The sign-in of " + who + " has ended and cannot be renewed here, " + toRun(who);
        return false;
    }
    const TokenAnswer answer = refreshAccessToken(*provider, context.https, grant.refreshToken);
    switch (answer.outcome) {
    case TokenAnswer::Outcome::Granted:
        break;
    case TokenAnswer::Outcome::Refused:
    case TokenAnswer::Outcome::Pending:
    case TokenAnswer::Outcome::SlowDown:
        CEventLog().LogEvent(1, "%s refused to renew the sign-in of %s: %s", provider->name.c_str(), who.c_str(),
                             answer.error.c_str());
        reply = "-ERR " + provider->name + " refused to renew the sign-in of " + who + " (" + answer.error + "), " +
                toRun(who);
        return false;
    case TokenAnswer::Outcome::Failed:
        CEventLog().LogEvent(1, "The sign-in of %s could not be renewed: %s", who.c_str(), answer.error.c_str());
        reply = "-ERR The sign-in of " + who + " could not be renewed, try again later (" + answer.error + ")";
        return false;
    }
    grant.accessToken = answer.accessToken;
    grant.expires = now + answer.expiresIn;
    if (!answer.refreshToken.empty())
        grant.refreshToken = answer.refreshToken;
    if (!saveOAuthGrant(folder, account, grant, error)) {
        // The provider may have retired the old refresh token: without the
        // new one kept, the next sign-in would fail.
        CEventLog().LogEvent(1, "The renewed sign-in of %s cannot be kept: %s", who.c_str(), error.c_str());
        reply = "-ERR The renewed sign-in of " + who + " cannot be kept (" + error + ")";
        return false;
    }
    CEventLog().LogEvent(4, "The sign-in of %s was renewed by %s", who.c_str(), provider->name.c_str());
    token = grant.accessToken;
    return true;
}

void forgetAccessToken(const OAuthContext& context, const std::string& account)
{
    const std::string folder = oauthTokenFolder(context.dataRoot);
    OAuthGrant grant;
    std::string error;
    if (loadOAuthGrant(folder, account, grant, error) != GrantRead::Found || grant.expires == 0)
        return;
    grant.expires = 0;
    if (!saveOAuthGrant(folder, account, grant, error))
        CEventLog().LogEvent(2, "The refused access token of %s could not be set aside: %s", account.c_str(),
                             error.c_str());
}
