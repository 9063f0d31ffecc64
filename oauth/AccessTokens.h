// The access token a session logs in with: the account's kept grant
// (oauth/TokenFile), refreshed at its provider when it ends within
// kRefreshMargin, the new token (and any new refresh token the provider
// rotates to) kept before it is used.  A refresh that fails for want of an
// answer keeps the grant as it was, to be tried again at the next session.
// Renewals of one account in one process take turns.
#pragma once

#include "oauth/HttpsForm.h"

#include <string>

struct OAuthContext {
    std::string programFolder;   // the shipped providers
    std::string dataRoot;        // the user's providers and the kept grants
    HttpsOptions https;
};

constexpr long long kRefreshMargin = 300;   // seconds

// The program's folders (common/ProgramContext), the authorities of caFile,
// and an answer within secondsLeft, 1 to 30.
OAuthContext programOAuthContext(const std::string& caFile, long long secondsLeft);

// True with token; else false with reply, an "-ERR ..." line (without CR LF)
// for the mail client that says what to run when the user must sign in
// again.  who is the account as the user types it (name@server).
bool currentAccessToken(const OAuthContext& context, const std::string& account, const std::string& who,
                        std::string& token, std::string& reply);

// The server refused the token: the next session refreshes it first.
void forgetAccessToken(const OAuthContext& context, const std::string& account);
