// checkLogin: logs in to the mail server that a login name names, as a
// session does when a mail client gives USER that name: the same address
// grammar and separator, TLS mode, login method and exchanges, and the
// settings TlsCAFile, TlsVerify and UpstreamDeadline.  Then QUIT.  Nothing
// of the mailbox is listed, read or deleted, and nothing is stored but the
// renewed sign-in of a token login ($OAUTH).
// Blocking: it ends within about UpstreamDeadline seconds, or sooner when
// the calling thread's stop flag (StopToken) is set; the name lookup of
// the server comes before either and may take the resolver's own time.
#pragma once

#include <string>

struct LoginCheckResult {
    bool loggedIn = false;
    bool encrypted = false;   // the connection ran over TLS
    std::string text;         // what happened, a sentence or two for the user
};

LoginCheckResult checkLogin(const std::string& loginName, const std::string& password);
