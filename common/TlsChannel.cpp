#include "common/TlsChannel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>

#include <cerrno>

struct TlsChannel::State {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    std::string host;
    std::string setupError;
    ~State()
    {
        if (ssl)
            SSL_free(ssl);
        if (context)
            SSL_CTX_free(context);
    }
};

namespace {

bool isAddress(const std::string& host)
{
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// OpenSSL's socket BIO writes with write(): to a peer that has gone, that
// raises SIGPIPE.  This BIO is the socket BIO with its write made by
// send(MSG_NOSIGNAL), so a gone peer is an EPIPE error like any other, at
// no cost per record.
int sendWithoutSignal(BIO* bio, const char* data, int length)
{
    int fd = -1;
    BIO_get_fd(bio, &fd);
    errno = 0;
    const ssize_t sent = ::send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
    BIO_clear_retry_flags(bio);
    if (sent <= 0 && BIO_sock_should_retry(static_cast<int>(sent)))
        BIO_set_retry_write(bio);
    return static_cast<int>(sent);
}

const BIO_METHOD* socketWithoutSignal()
{
    static BIO_METHOD* const method = [] {
        const BIO_METHOD* base = BIO_s_socket();
        const int index = BIO_get_new_index();
        BIO_METHOD* made = index < 0 ? nullptr
                                     : BIO_meth_new(index | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                                    "socket without SIGPIPE");
        if (made == nullptr)
            return made;
        // No puts: the socket BIO's would write(); TLS never calls it.
        BIO_meth_set_write(made, sendWithoutSignal);
        BIO_meth_set_read(made, BIO_meth_get_read(base));
        BIO_meth_set_ctrl(made, BIO_meth_get_ctrl(base));
        BIO_meth_set_create(made, BIO_meth_get_create(base));
        BIO_meth_set_destroy(made, BIO_meth_get_destroy(base));
        return made;
    }();
    return method;
}

// The TLS connection's transport: fd through socketWithoutSignal().
bool attachSocket(SSL* ssl, int fd)
{
    const BIO_METHOD* method = socketWithoutSignal();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (bio == nullptr)
        return false;
    BIO_set_fd(bio, fd, BIO_NOCLOSE);
    SSL_set_bio(ssl, bio, bio);   // the connection owns it now
    return true;
}

// The oldest OpenSSL error of this thread, as text, and the queue emptied.
std::string openSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : text;
}

} // namespace

TlsChannel::TlsChannel(int fd, const TlsOptions& options) : m_state(std::make_unique<State>())
{
    State& s = *m_state;
    s.host = options.host;
    ERR_clear_error();
    s.context = SSL_CTX_new(TLS_client_method());
    if (s.context == nullptr) {
        s.setupError = "TLS cannot be set up: " + openSslError();
        return;
    }
    SSL_CTX_set_min_proto_version(s.context, TLS1_2_VERSION);
    SSL_CTX_set_mode(s.context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (options.verify) {
        SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_default_verify_paths(s.context);
        if (!options.caFile.empty() && SSL_CTX_load_verify_locations(s.context, options.caFile.c_str(), nullptr) != 1) {
            s.setupError = "the trusted certificate file " + options.caFile + " cannot be read";
            return;
        }
    }
    s.ssl = SSL_new(s.context);
    if (s.ssl == nullptr || !attachSocket(s.ssl, fd)) {
        s.setupError = "TLS cannot be set up: " + openSslError();
        return;
    }
    if (!isAddress(options.host))
        SSL_set_tlsext_host_name(s.ssl, options.host.c_str());
    if (options.verify) {
        X509_VERIFY_PARAM* param = SSL_get0_param(s.ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const int named = isAddress(options.host) ? X509_VERIFY_PARAM_set1_ip_asc(param, options.host.c_str())
                                                  : X509_VERIFY_PARAM_set1_host(param, options.host.c_str(), 0);
        if (named != 1)
            s.setupError = "the server name " + options.host + " cannot be checked";
    }
}

TlsChannel::~TlsChannel() = default;

bool TlsChannel::ready(std::string& error) const
{
    if (m_state->ssl && m_state->setupError.empty())
        return true;
    error = m_state->setupError.empty() ? "TLS cannot be set up" : m_state->setupError;
    return false;
}

TlsChannel::Result TlsChannel::handshake(std::string& error)
{
    State& s = *m_state;
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_connect(s.ssl);
    if (rc == 1)
        return Done;
    const int reason = SSL_get_error(s.ssl, rc);
    if (reason == SSL_ERROR_WANT_READ)
        return WantRead;
    if (reason == SSL_ERROR_WANT_WRITE)
        return WantWrite;
    const long verified = SSL_get_verify_result(s.ssl);
    if (verified != X509_V_OK) {
        error = "unable to verify the certificate of " + s.host + ": " +
                X509_verify_cert_error_string(verified);
    } else {
        const std::string detail = openSslError();
        if (!detail.empty())
            error = "TLS handshake with " + s.host + " failed: " + detail;
        else
            error = "the server " + s.host + " closed the connection during the TLS handshake";
    }
    return Failed;
}

TlsChannel::Result TlsChannel::read(char* buffer, size_t size, size_t& count)
{
    count = 0;
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_read(m_state->ssl, buffer, static_cast<int>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size));
    if (rc > 0) {
        count = static_cast<size_t>(rc);
        return Done;
    }
    switch (SSL_get_error(m_state->ssl, rc)) {
    case SSL_ERROR_WANT_READ:
        return WantRead;
    case SSL_ERROR_WANT_WRITE:
        return WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return Closed;
    case SSL_ERROR_SYSCALL:
        // The connection ended without the close notice.
        if (errno == 0)
            return Closed;
        return Failed;
    default:
        if (errno == 0)
            errno = ECONNRESET;
        return Failed;
    }
}

TlsChannel::Result TlsChannel::write(const char* data, size_t size, size_t& count)
{
    count = 0;
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_write(m_state->ssl, data, static_cast<int>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size));
    if (rc > 0) {
        count = static_cast<size_t>(rc);
        return Done;
    }
    switch (SSL_get_error(m_state->ssl, rc)) {
    case SSL_ERROR_WANT_READ:
        return WantRead;
    case SSL_ERROR_WANT_WRITE:
        return WantWrite;
    default:
        if (errno == 0)
            errno = EPIPE;
        return Failed;
    }
}

void TlsChannel::close()
{
    if (m_state->ssl)
        SSL_shutdown(m_state->ssl);
    ERR_clear_error();
}
