// LoopbackListeners: the proxy's listening sockets, on 127.0.0.1 and on ::1
// at one port, and on no other address.  127.0.0.1 must be had; ::1 is taken
// when the machine has it (a client told "localhost" may try it first), and
// its failure is only reported.  Both close with the object.
#pragma once

#include "common/UniqueFd.h"

#include <string>
#include <vector>

class LoopbackListeners
{
public:
    // Binds and listens on port (0: one the system picks, the same for
    // both).  False, with nothing listening, when 127.0.0.1 cannot be had;
    // error is then its errno.  ipv6Trouble tells why ::1 is not served, or
    // is empty.
    bool open(int port, int& error, std::string& ipv6Trouble);
    // The port listened on, 0 before open succeeds.
    int port() const { return m_port; }
    // True when ::1 is listened on as well.
    bool servesIpv6() const { return m_sockets.size() > 1; }
    // Waits at most ms for a client on either address; its connection (with
    // close-on-exec), or -1 when none came or the accept failed.
    int accept(int ms);

private:
    std::vector<UniqueFd> m_sockets;
    size_t m_next = 0;   // the address looked at first: each in turn
    int m_port = 0;
};
