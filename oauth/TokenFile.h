// The sign-in kept for an account: what the provider granted, in
// <data root>/oauth/<account>.token ("key=value" lines).  The folder is made
// 0700 and the file written 0600, atomically (common/AtomicFile); a file
// that others may read, or that is not a regular file of the user's own, is
// refused, never used.  With a keyring (oauth/SecretKeeper) the tokens are
// kept there and the file says so ("kept_in=keyring"); a keyring that
// cannot keep them leaves them in the file, with a warning in the log.
// account is the account state file's name (proxy/LoginAddress), its ".dat"
// left off.
#pragma once

#include <string>

struct OAuthGrant {
    std::string provider;
    std::string refreshToken;
    std::string accessToken;
    long long expires = 0;   // when the access token ends, seconds since 1970
};

std::string oauthTokenFolder(const std::string& dataRoot);
std::string oauthTokenPath(const std::string& folder, const std::string& account);

// False with error when the grant could not be kept whole (a value holding
// a line break is refused).
bool saveOAuthGrant(const std::string& folder, const std::string& account, const OAuthGrant& grant,
                    std::string& error);

enum class GrantRead { Found, Missing, Refused };
// Refused, with error: a file open to others, not a regular file, damaged,
// or tokens in a keyring that cannot be reached or no longer holds them.
GrantRead loadOAuthGrant(const std::string& folder, const std::string& account, OAuthGrant& grant,
                         std::string& error);
