// TlsChannel: the client side of a TLS session (OpenSSL) over a connected
// socket, for Socket::startTls.
//
// TLS 1.2 or newer.  With verify set, the server's certificate must chain
// to the system's trusted certificates (or to those of caFile) and name
// host (a DNS name or an IP address); the name is also sent as SNI.  The
// socket works non-blocking underneath: read and write answer Want* when
// the socket must become readable or writable first, and records already
// received are read before the socket is waited on.
#pragma once

#include <memory>
#include <string>

struct TlsOptions {
    std::string host;     // the name the user gave for the server
    std::string caFile;   // another trusted certificate file, or empty
    bool verify = true;
};

class TlsChannel
{
public:
    enum Result { Done, WantRead, WantWrite, Closed, Failed };

    TlsChannel(int fd, const TlsOptions& options);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // False (with error) when the session could not even be set up.
    bool ready(std::string& error) const;
    // One step of the handshake.  On Failed, error says why, for the user.
    Result handshake(std::string& error);
    // At most size bytes; count receives how many.
    Result read(char* buffer, size_t size, size_t& count);
    Result write(const char* data, size_t size, size_t& count);
    // Sends the close notice, without waiting for the server's.
    void close();

private:
    struct State;
    std::unique_ptr<State> m_state;
};
