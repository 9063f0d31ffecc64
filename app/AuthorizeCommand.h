// quillfnc --authorize NAME@SERVER [PROVIDER]: signs the account in with
// its OAuth 2.0 provider (oauth/SignIn) for the proxy's token logins
// ($OAUTH).  The command prints the address to open and the code to enter
// (or, for a browser sign-in, the provider's page, which it also opens with
// xdg-open for a user at a desktop's terminal), then waits for the user to
// finish there, until the sign-in expires or the command is interrupted.  Exit status 0 when the grant is kept, 1 when no
// provider fits or it refused or could not be reached, 2 when NAME@SERVER
// is not an account.
#pragma once

#include <atomic>
#include <string>
#include <vector>

int authorizeCommand(const std::vector<std::string>& args, const std::atomic<bool>& interrupted);
