// DeviceSignIn: an account's sign-in with its OAuth 2.0 provider by the
// device authorization grant (RFC 8628), from the provider's table to the
// kept grant (oauth/TokenFile).  The command line's --authorize and the
// settings window's "Authorize..." button both run it.
//
// The provider is the one named, else the first of the table that serves
// the account's host.  shown is told the address to open and the code to
// enter as soon as the provider has given them; the sign-in then polls at
// the provider's pace until the user has finished, the provider refuses,
// the code expires or stopped() turns true (asked every 100 ms).
// Blocking; call it on a thread of its own where a window must go on.
#pragma once

#include "oauth/HttpsForm.h"

#include <functional>
#include <string>

struct DeviceSignInRequest {
    std::string programFolder;   // the shipped providers
    std::string dataRoot;        // the user's providers and the kept grants
    std::string account;         // the account state file's name without ".dat"
    std::string host;            // the mail server, to find the provider
    std::string provider;        // empty: by the host
    HttpsOptions https;
};

struct DeviceSignInResult {
    enum class Outcome { SignedIn, Refused, Failed, Stopped, Unusable } outcome = Outcome::Failed;
    std::string provider;        // the provider's name, once known
    bool refreshable = false;    // a refresh token was granted
    std::string error;           // a sentence when not signed in
};

DeviceSignInResult signInWithDeviceCode(
    const DeviceSignInRequest& request,
    const std::function<void(const std::string& address, const std::string& code, const std::string& direct)>& shown,
    const std::function<bool()>& stopped);
