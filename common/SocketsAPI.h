// SocketsAPI: the socket library's life span in the process.  POSIX sockets
// need no start-up, so successful() is always true; the object exists so that
// the program's start-up and shutdown read the same on every platform.
#pragma once

#include "common/CommonExport.h"

struct SocketLibraryInfo {
    unsigned short version;        // 0x0101
    char description[64];
};

class COMMONKIT_API SocketsAPI
{
public:
    SocketsAPI();
    ~SocketsAPI();
    SocketsAPI(const SocketsAPI&) = delete;
    SocketsAPI& operator=(const SocketsAPI&) = delete;

    bool successful() const { return m_result == 0; }
    static bool UseOwnDns() { return m_bUseOwnDns; }

    static SocketLibraryInfo m_wsaData;
    static bool m_bUseOwnDns;

private:
    int m_result = 0;
};
