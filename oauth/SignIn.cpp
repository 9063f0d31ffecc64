#include "oauth/SignIn.h"

#include "oauth/LoopbackRedirect.h"
#include "oauth/OAuthFlows.h"
#include "oauth/OAuthProviders.h"
#include "oauth/Pkce.h"
#include "oauth/TokenFile.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace {

using Outcome = SignInResult::Outcome;

// Polls that get no answer in a row before the sign-in gives up.
constexpr int kMostFailures = 3;

// Waits seconds; false when stopped first.
bool pause(int seconds, const std::function<bool()>& stopped)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (stopped())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return !stopped();
}

SignInResult failed(Outcome outcome, std::string error, std::string provider = {})
{
    SignInResult result;
    result.outcome = outcome;
    result.error = std::move(error);
    result.provider = std::move(provider);
    return result;
}

SignInResult signedIn(const OAuthProvider& provider, const SignInRequest& request, const TokenAnswer& answer)
{
    const OAuthGrant grant{provider.name, answer.refreshToken, answer.accessToken,
                           static_cast<long long>(std::time(nullptr)) + answer.expiresIn};
    std::string error;
    if (!saveOAuthGrant(oauthTokenFolder(request.dataRoot), request.account, grant, error))
        return failed(Outcome::Failed, "the sign-in could not be kept: " + error, provider.name);
    SignInResult result;
    result.outcome = Outcome::SignedIn;
    result.provider = provider.name;
    result.refreshable = !answer.refreshToken.empty();
    return result;
}

SignInResult withDeviceCode(const OAuthProvider& provider, const SignInRequest& request, const SignInShown& shown,
                            const std::function<bool()>& stopped)
{
    const std::string& name = provider.name;
    DeviceAuthorization device;
    std::string error;
    if (!requestDeviceAuthorization(provider, request.https, device, error))
        return failed(Outcome::Failed, error, name);
    shown(device.verificationUri, device.userCode, device.verificationUriComplete);

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(device.expiresIn);
    int interval = device.interval;
    for (int failures = 0; std::chrono::steady_clock::now() < end;) {
        if (!pause(interval, stopped))
            return failed(Outcome::Stopped, "stopped before the sign-in was finished; nothing was kept", name);
        const TokenAnswer answer = pollDeviceToken(provider, request.https, device.deviceCode);
        switch (answer.outcome) {
        case TokenAnswer::Outcome::Pending:
            failures = 0;
            continue;
        case TokenAnswer::Outcome::SlowDown:
            interval += 5;
            continue;
        case TokenAnswer::Outcome::Failed:
            if (++failures < kMostFailures)
                continue;
            return failed(Outcome::Failed, answer.error, name);
        case TokenAnswer::Outcome::Refused:
            return failed(Outcome::Refused, name + " refused the sign-in: " + answer.error, name);
        case TokenAnswer::Outcome::Granted:
            return signedIn(provider, request, answer);
        }
    }
    return failed(Outcome::Failed, "the code expired before the sign-in was finished", name);
}

SignInResult withBrowser(const OAuthProvider& provider, const SignInRequest& request, const SignInShown& shown,
                         const std::function<bool()>& stopped)
{
    const std::string& name = provider.name;
    LoopbackRedirect redirect;
    std::string error;
    if (!redirect.open(error))
        return failed(Outcome::Failed, error, name);
    const std::string verifier = randomVerifier();
    const std::string state = randomVerifier().substr(0, 22);
    if (verifier.empty() || state.empty())
        return failed(Outcome::Failed, "the system's random source failed", name);
    std::string address = provider.authorizationEndpoint +
                          (provider.authorizationEndpoint.find('?') == std::string::npos ? "?" : "&") +
                          "response_type=code&client_id=" + percentEncoded(provider.clientId) +
                          "&redirect_uri=" + percentEncoded(redirect.redirectUri()) +
                          "&scope=" + percentEncoded(provider.scope) + "&state=" + state +
                          "&code_challenge=" + s256Challenge(verifier) + "&code_challenge_method=S256";
    if (!provider.authorizationParameters.empty())
        address += "&" + provider.authorizationParameters;
    shown(address, std::string(), std::string());

    std::string code;
    switch (redirect.waitForCode(state, std::chrono::steady_clock::now() + std::chrono::minutes(kBrowserMinutes),
                                 stopped, code, error)) {
    case LoopbackRedirect::Outcome::Code:
        break;
    case LoopbackRedirect::Outcome::Refused:
        return failed(Outcome::Refused, name + " refused the sign-in: " + error, name);
    case LoopbackRedirect::Outcome::Stopped:
        return failed(Outcome::Stopped, "stopped before the sign-in was finished; nothing was kept", name);
    case LoopbackRedirect::Outcome::TimedOut:
        return failed(Outcome::Failed,
                      "the browser did not come back within " + std::to_string(kBrowserMinutes) + " minutes", name);
    }
    const TokenAnswer answer = exchangeAuthorizationCode(provider, request.https, code, redirect.redirectUri(), verifier);
    if (answer.outcome == TokenAnswer::Outcome::Granted)
        return signedIn(provider, request, answer);
    return failed(answer.outcome == TokenAnswer::Outcome::Refused ? Outcome::Refused : Outcome::Failed,
                  name + " did not grant the sign-in: " + answer.error, name);
}

} // namespace

SignInResult signIn(const SignInRequest& request, const SignInShown& shown, const std::function<bool()>& stopped)
{
    const std::string userFile = request.dataRoot + "/oauth-providers.txt";
    std::vector<OAuthProvider> providers;
    std::string error;
    if (!loadOAuthProviders(request.programFolder, request.dataRoot, providers, error))
        return failed(Outcome::Unusable, error);
    const OAuthProvider* provider = request.provider.empty() ? oauthProviderOfServer(providers, request.host)
                                                             : findOAuthProvider(providers, request.provider);
    if (provider == nullptr)
        return failed(Outcome::Unusable,
                      request.provider.empty()
                          ? "no sign-in provider is known for " + request.host + ": name one, or describe it in " +
                                userFile
                          : "no sign-in provider is called \"" + request.provider + "\" (see " + userFile + ")");
    const std::string& name = provider->name;
    if (provider->clientId.empty())
        return failed(Outcome::Unusable,
                      name + " needs a client id: register an application with " + name +
                          " and give its id as \"client_id = ...\" under [" + name + "] in " + userFile,
                      name);
    if (provider->tokenEndpoint.empty() ||
        (provider->deviceEndpoint.empty() && provider->authorizationEndpoint.empty()))
        return failed(Outcome::Unusable,
                      name + " needs a token_endpoint and a device_endpoint or authorization_endpoint in its table",
                      name);
    return provider->deviceEndpoint.empty() ? withBrowser(*provider, request, shown, stopped)
                                            : withDeviceCode(*provider, request, shown, stopped);
}
