#include "oauth/OAuthFlows.h"

#include <cstdlib>

namespace {

std::string field(const HttpsAnswer& answer, const char* name)
{
    const auto it = answer.fields.find(name);
    return it == answer.fields.end() ? std::string() : it->second;
}

int seconds(const HttpsAnswer& answer, const char* name, int fallback, int most)
{
    const std::string text = field(answer, name);
    const long value = text.empty() ? fallback : std::strtol(text.c_str(), nullptr, 10);
    return value < 1 ? fallback : static_cast<int>(value > most ? most : value);
}

void addClient(const OAuthProvider& provider, FormFields& form)
{
    form.emplace_back("client_id", provider.clientId);
    if (!provider.clientSecret.empty())
        form.emplace_back("client_secret", provider.clientSecret);
}

TokenAnswer tokenRequest(const OAuthProvider& provider, const HttpsOptions& https, FormFields form)
{
    TokenAnswer result;
    addClient(provider, form);
    HttpsAnswer answer;
    if (!postHttpsForm(provider.tokenEndpoint, form, https, answer, result.error))
        return result;
    const std::string error = field(answer, "error");
    if (answer.status == 200 && error.empty()) {
        result.accessToken = field(answer, "access_token");
        if (result.accessToken.empty()) {
            result.error = provider.tokenEndpoint + " granted no access_token";
            return result;
        }
        result.refreshToken = field(answer, "refresh_token");
        // A day at most: a token said to last longer is refreshed anyway.
        result.expiresIn = seconds(answer, "expires_in", 3600, 86400);
        result.outcome = TokenAnswer::Outcome::Granted;
        return result;
    }
    if (error == "authorization_pending") {
        result.outcome = TokenAnswer::Outcome::Pending;
        return result;
    }
    if (error == "slow_down") {
        result.outcome = TokenAnswer::Outcome::SlowDown;
        return result;
    }
    result.outcome = error.empty() ? TokenAnswer::Outcome::Failed : TokenAnswer::Outcome::Refused;
    result.error = error.empty() ? provider.tokenEndpoint + " answered HTTP " + std::to_string(answer.status) : error;
    const std::string description = field(answer, "error_description");
    if (!description.empty())
        result.error += ": " + description.substr(0, 300);
    return result;
}

} // namespace

bool requestDeviceAuthorization(const OAuthProvider& provider, const HttpsOptions& https,
                                DeviceAuthorization& authorization, std::string& error)
{
    FormFields form;
    addClient(provider, form);
    form.emplace_back("scope", provider.scope);
    HttpsAnswer answer;
    if (!postHttpsForm(provider.deviceEndpoint, form, https, answer, error))
        return false;
    authorization = DeviceAuthorization{};
    authorization.deviceCode = field(answer, "device_code");
    authorization.userCode = field(answer, "user_code");
    // "verification_url" is the older name some providers still send.
    authorization.verificationUri = field(answer, "verification_uri");
    if (authorization.verificationUri.empty())
        authorization.verificationUri = field(answer, "verification_url");
    authorization.verificationUriComplete = field(answer, "verification_uri_complete");
    authorization.interval = seconds(answer, "interval", 5, 60);
    authorization.expiresIn = seconds(answer, "expires_in", 900, 3600);
    if (answer.status != 200 || authorization.deviceCode.empty() || authorization.userCode.empty() ||
        authorization.verificationUri.empty()) {
        const std::string refusal = field(answer, "error");
        error = provider.deviceEndpoint + " gave no device code (HTTP " + std::to_string(answer.status) +
                (refusal.empty() ? "" : ", " + refusal) + ")";
        const std::string description = field(answer, "error_description");
        if (!description.empty())
            error += ": " + description.substr(0, 300);
        return false;
    }
    return true;
}

TokenAnswer pollDeviceToken(const OAuthProvider& provider, const HttpsOptions& https,
                            const std::string& deviceCode)
{
    return tokenRequest(provider, https,
                        {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"}, {"device_code", deviceCode}});
}

TokenAnswer exchangeAuthorizationCode(const OAuthProvider& provider, const HttpsOptions& https,
                                      const std::string& code, const std::string& redirectUri,
                                      const std::string& verifier)
{
    return tokenRequest(provider, https,
                        {{"grant_type", "authorization_code"},
                         {"code", code},
                         {"redirect_uri", redirectUri},
                         {"code_verifier", verifier}});
}

TokenAnswer refreshAccessToken(const OAuthProvider& provider, const HttpsOptions& https,
                               const std::string& refreshToken)
{
    return tokenRequest(provider, https,
                        {{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}, {"scope", provider.scope}});
}
