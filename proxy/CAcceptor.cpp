#include "proxy/CAcceptor.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/PeerOwner.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "common/UniqueFd.h"
#include "filter/FilterContext.h"
#include "proxy/CSession.h"
#include "proxy/LoopbackListeners.h"
#include "proxy/MainWindowLink.h"
#include "proxy/SessionList.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

void fail(const char* text)
{
    CEventLog().LogEvent(1, "%s", text);
    if (MainWindowLink* link = mainWindowLink())
        link->listenerFailed(text);
}

// True when the client of handle may be served: it runs as the proxy's own
// user (ownUser is then true), or other users are allowed.  A refused
// client gets kRefusal and is closed here, at once: its connection never
// becomes a session, so it can never hold back the user's own sessions.
bool admitted(SocketHandle handle, bool allowOtherUsers, bool& ownUser)
{
    ownUser = false;
    std::string why;
    const std::optional<uid_t> owner = peerOwner(handle, why);
    const uid_t own = ::geteuid();
    ownUser = owner && *owner == own;
    if (ownUser || allowOtherUsers)
        return true;
    if (owner)
        CEventLog().LogEvent(2, "Connection from user %u refused: only user %u is served (AllowOtherUsers is off)",
                             static_cast<unsigned>(*owner), static_cast<unsigned>(own));
    else
        CEventLog().LogEvent(2, "Connection refused: its user cannot be told (%s)", why.c_str());
    // Never waits: the client may not read, and the listener must go on.
    UniqueFd refused(handle);
    ::send(refused.get(), CAcceptor::kRefusal, std::strlen(CAcceptor::kRefusal), MSG_NOSIGNAL | MSG_DONTWAIT);
    return false;
}

// A client beyond the session bound is told so at once, in place of the
// greeting, and closed.
void refuseBusy(SocketHandle handle, int maxSessions)
{
    CEventLog().LogEvent(2, "Connection refused: %d sessions are running (MaxSessions)", maxSessions);
    char reply[128];
    std::snprintf(reply, sizeof reply,
                  "-ERR Quillfence Pro is serving %d sessions already (MaxSessions), try again later\r\n",
                  maxSessions);
    UniqueFd refused(handle);
    ::send(refused.get(), reply, std::strlen(reply), MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace

CAcceptor::CAcceptor(SessionSetup setup) : m_setup(std::move(setup))
{
    start();
}

unsigned CAcceptor::run()
{
    try {
        int port = static_cast<int>(settingDefault(Setting::ListenPort));
        bool allowOtherUsers = settingDefault(Setting::AllowOtherUsers) != 0;
        int maxSessions = static_cast<int>(settingDefault(Setting::MaxSessions));
        {
            CRegistry reg;
            if (openSettingKey(reg, settingInfo(Setting::ListenPort))) {
                querySetting(reg, Setting::ListenPort, port);
                querySetting(reg, Setting::AllowOtherUsers, allowOtherUsers);
                querySetting(reg, Setting::MaxSessions, maxSessions);
            }
        }
        LoopbackListeners listeners;
        int error = 0;
        std::string ipv6Trouble;
        if (!listeners.open(port, error, ipv6Trouble)) {
            char message[128];
            std::snprintf(message, sizeof message, "Unable to bind to port %d, error %d", port, error);
            fail(message);
            return 0;
        }
        if (!ipv6Trouble.empty())
            CEventLog().LogEvent(2, "Not listening on ::1 port %d (%s): only 127.0.0.1 is served", port,
                                 ipv6Trouble.c_str());
        CEventLog().LogEvent(4, "Accepting connections on port %d", port);
        if (MainWindowLink* link = mainWindowLink())
            link->listenerReady(port);

        while (!stopRequested()) {
            const SocketHandle handle = listeners.accept(kPollMs);
            if (handle == kInvalidSocket)
                continue;
            // Before the wait below: a client of another user is turned
            // away without waiting for the running session to end.
            bool ownUser = false;
            if (!admitted(handle, allowOtherUsers, ownUser))
                continue;
            if (SessionList::size() >= static_cast<size_t>(maxSessions)) {
                refuseBusy(handle, maxSessions);
                continue;
            }
            try {
                // Each session judges with the rules as they are now; the
                // sessions already running keep theirs.
                // What another process (quillfnc --set) has stored since
                // counts from this session on, the log level with it.
                CRegistry::refresh(programContext().settingsHive, "quilfpro");
                applyLogSettings();
                SessionSetup setup = m_setup;
                setup.rules = initialiseFilter();
                setup.ownUser = ownUser;
                // The session owns itself from here: its pointer is not kept,
                // as the session may end and delete itself at any time.
                new CSession(handle, setup);
            } catch (...) {
                // No session for this client; the next one is served.
                DebugX(__FILE__, __LINE__);
            }
        }
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
    return 0;
}
