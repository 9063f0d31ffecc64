#include "oauth/DeviceSignIn.h"

#include "oauth/OAuthFlows.h"
#include "oauth/OAuthProviders.h"
#include "oauth/TokenFile.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace {

using Outcome = DeviceSignInResult::Outcome;

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

DeviceSignInResult failed(Outcome outcome, std::string error, std::string provider = {})
{
    DeviceSignInResult result;
    result.outcome = outcome;
    result.error = std::move(error);
    result.provider = std::move(provider);
    return result;
}

} // namespace

DeviceSignInResult signInWithDeviceCode(
    const DeviceSignInRequest& request,
    const std::function<void(const std::string& address, const std::string& code, const std::string& direct)>& shown,
    const std::function<bool()>& stopped)
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
    if (provider->deviceEndpoint.empty() || provider->tokenEndpoint.empty())
        return failed(Outcome::Unusable, name + " has no device_endpoint or token_endpoint in its table", name);

    DeviceAuthorization device;
    if (!requestDeviceAuthorization(*provider, request.https, device, error))
        return failed(Outcome::Failed, error, name);
    shown(device.verificationUri, device.userCode, device.verificationUriComplete);

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(device.expiresIn);
    int interval = device.interval;
    for (int failures = 0; std::chrono::steady_clock::now() < end;) {
        if (!pause(interval, stopped))
            return failed(Outcome::Stopped, "stopped before the sign-in was finished; nothing was kept", name);
        const TokenAnswer answer = pollDeviceToken(*provider, request.https, device.deviceCode);
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
            break;
        }
        const OAuthGrant grant{name, answer.refreshToken, answer.accessToken,
                               static_cast<long long>(std::time(nullptr)) + answer.expiresIn};
        if (!saveOAuthGrant(oauthTokenFolder(request.dataRoot), request.account, grant, error))
            return failed(Outcome::Failed, "the sign-in could not be kept: " + error, name);
        DeviceSignInResult result;
        result.outcome = Outcome::SignedIn;
        result.provider = name;
        result.refreshable = !answer.refreshToken.empty();
        return result;
    }
    return failed(Outcome::Failed, "the code expired before the sign-in was finished", name);
}
