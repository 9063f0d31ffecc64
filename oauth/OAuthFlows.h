// The OAuth 2.0 exchanges with a provider's endpoints (oauth/HttpsForm):
// the device authorization grant (RFC 8628) and the authorization-code
// grant's exchange (RFC 6749, section 4.1.3, with RFC 7636's verifier) that
// a sign-in runs (oauth/SignIn), and the refresh of an access token (RFC 6749, section 6) that a session
// runs when its token is about to end.
#pragma once

#include "oauth/HttpsForm.h"
#include "oauth/OAuthProviders.h"

#include <string>

struct DeviceAuthorization {
    std::string deviceCode;
    std::string userCode;
    std::string verificationUri;
    std::string verificationUriComplete;   // may be empty
    int interval = 5;                      // seconds between polls
    int expiresIn = 900;
};

// The device and user codes; false with error.
bool requestDeviceAuthorization(const OAuthProvider& provider, const HttpsOptions& https,
                                DeviceAuthorization& authorization, std::string& error);

struct TokenAnswer {
    enum class Outcome {
        Granted,    // accessToken (and a refreshToken when the provider sent one)
        Pending,    // the user has not finished signing in (device grant)
        SlowDown,   // poll less often: 5 seconds more (device grant)
        Refused,    // the provider said no: error is its "error" and description
        Failed,     // no answer: error says why
    } outcome = Outcome::Failed;
    std::string accessToken;
    std::string refreshToken;
    long long expiresIn = 0;
    std::string error;
};

// One poll of the token endpoint for a device code.
TokenAnswer pollDeviceToken(const OAuthProvider& provider, const HttpsOptions& https,
                            const std::string& deviceCode);
// The tokens for the code a browser sign-in brought back to redirectUri,
// proven with the PKCE verifier.
TokenAnswer exchangeAuthorizationCode(const OAuthProvider& provider, const HttpsOptions& https,
                                      const std::string& code, const std::string& redirectUri,
                                      const std::string& verifier);
// A new access token for a refresh token.
TokenAnswer refreshAccessToken(const OAuthProvider& provider, const HttpsOptions& https,
                               const std::string& refreshToken);
