// SignIn: an account's sign-in with its OAuth 2.0 provider, from the
// providers' table to the kept grant (oauth/TokenFile).  The command line's
// --authorize and the setup wizard's "Authorize..." both run it.
//
// The provider is the one named, else the first of the table that serves
// the account's host.  With a device endpoint it runs the device
// authorization grant (RFC 8628): shown is told the address to open, on any
// device, and the code to enter there.  Without one, the authorization-code
// grant with PKCE (RFC 7636) and a loopback redirect (RFC 8252): shown is
// told the provider's sign-in page, to open in a browser of this computer,
// and no code; the browser comes back to oauth/LoopbackRedirect.  Either
// ends when the user has finished, the provider refuses, the sign-in
// expires (the provider's time, or kBrowserMinutes) or stopped() turns true
// (asked every 100 ms).  Blocking; a window runs it on a thread of its own.
#pragma once

#include "oauth/HttpsForm.h"

#include <functional>
#include <string>

struct SignInRequest {
    std::string programFolder;   // the shipped providers
    std::string dataRoot;        // the user's providers and the kept grants
    std::string account;         // the account state file's name without ".dat"
    std::string host;            // the mail server, to find the provider
    std::string provider;        // empty: by the host
    HttpsOptions https;
};

struct SignInResult {
    enum class Outcome { SignedIn, Refused, Failed, Stopped, Unusable } outcome = Outcome::Failed;
    std::string provider;        // the provider's name, once known
    bool refreshable = false;    // a refresh token was granted
    std::string error;           // a sentence when not signed in
};

constexpr int kBrowserMinutes = 10;

// address: where to sign in; code: what to enter there (empty for the
// browser sign-in); direct: an address that holds the code, when the
// provider gives one.
using SignInShown =
    std::function<void(const std::string& address, const std::string& code, const std::string& direct)>;

SignInResult signIn(const SignInRequest& request, const SignInShown& shown, const std::function<bool()>& stopped);
