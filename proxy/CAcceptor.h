// CAcceptor: the listener thread.  Listens on 127.0.0.1, and on ::1 where
// the machine has it, at the setting ListenPort (shipped as 1110: an
// ordinary user cannot bind ports below 1024) and gives every accepted
// client a CSession of its own, with the settings taken in again (what
// quillfnc --set stored meanwhile counts) and the rules loaded again for it.
// Sessions run side by side, at most MaxSessions at once: a client beyond
// that gets one "-ERR" line saying so and is closed.  Made once by the main window, with new; runs until the
// program stops it.
//
// Every local user can reach a loopback port.  A client whose socket
// belongs to another user than the proxy's own (or whose user cannot be
// told) is sent kRefusal and closed before any session is made for it,
// unless the setting AllowOtherUsers (read at the start) lets
// every local user in, for an installation that serves several.
#pragma once

#include "common/CWorkerThread.h"
#include "proxy/CSession.h"

class CAcceptor : public CWorkerThread
{
public:
    // The accept loop waits at most this long between looks at its stop flag.
    static constexpr int kPollMs = 500;
    // The one line a client of another user gets.
    static constexpr const char* kRefusal = "-ERR Quillfence Pro serves only its own user\r\n";

    // setup is given to every session (the rules judge when it is empty).
    explicit CAcceptor(SessionSetup setup = {});
    unsigned run() override;

private:
    SessionSetup m_setup;
};
