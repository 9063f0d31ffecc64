// quillfnc --authorize NAME@SERVER [PROVIDER]: signs the account in with
// its OAuth 2.0 provider (oauth/DeviceSignIn) for the proxy's token logins
// ($OAUTH).  The command prints the address to open and the code to enter,
// then waits for the user to finish there, until the code expires or the
// command is interrupted.  Exit status 0 when the grant is kept, 1 when no
// provider fits or it refused or could not be reached, 2 when NAME@SERVER
// is not an account.
#pragma once

#include <atomic>
#include <string>
#include <vector>

int authorizeCommand(const std::vector<std::string>& args, const std::atomic<bool>& interrupted);
