#include "common/SocketsAPI.h"

SocketLibraryInfo SocketsAPI::m_wsaData = {0x0101, "POSIX sockets"};
bool SocketsAPI::m_bUseOwnDns = false;

SocketsAPI::SocketsAPI() = default;

SocketsAPI::~SocketsAPI() = default;
