// TLS on a Socket against a server in this process (OpenSSL, a throw-away
// self-signed certificate): a server that has gone makes a send fail with
// an error, never with SIGPIPE, whatever the process does with that signal.
#include "common/Socket.h"

#include "support/Loopback.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <signal.h>

#include <cerrno>
#include <string>
#include <thread>

namespace {

// A key and a certificate naming localhost, signed by that key.
class ServerIdentity
{
public:
    ServerIdentity() : m_key(EVP_EC_gen("P-256")), m_certificate(X509_new())
    {
        X509_set_version(m_certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(m_certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(m_certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(m_certificate), 3600);
        X509_set_pubkey(m_certificate, m_key);
        X509_NAME* name = X509_get_subject_name(m_certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1,
                                   -1, 0);
        X509_set_issuer_name(m_certificate, name);
        m_signed = X509_sign(m_certificate, m_key, EVP_sha256()) > 0;
    }
    ~ServerIdentity()
    {
        X509_free(m_certificate);
        EVP_PKEY_free(m_key);
    }
    ServerIdentity(const ServerIdentity&) = delete;
    ServerIdentity& operator=(const ServerIdentity&) = delete;

    bool usable() const { return m_key != nullptr && m_signed; }
    // Completes a TLS handshake as the server on fd (blocking); true when done.
    bool accept(int fd) const
    {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        bool done = false;
        if (context && SSL_CTX_use_certificate(context, m_certificate) == 1 &&
            SSL_CTX_use_PrivateKey(context, m_key) == 1) {
            SSL* ssl = SSL_new(context);
            done = ssl && SSL_set_fd(ssl, fd) == 1 && SSL_accept(ssl) == 1;
            SSL_free(ssl);
        }
        SSL_CTX_free(context);
        return done;
    }

private:
    EVP_PKEY* m_key;
    X509* m_certificate;
    bool m_signed = false;
};

// SIGPIPE at its default (ending the process) while it lives.
class DefaultSigpipe
{
public:
    DefaultSigpipe() { m_old = ::signal(SIGPIPE, SIG_DFL); }
    ~DefaultSigpipe() { ::signal(SIGPIPE, m_old); }
    DefaultSigpipe(const DefaultSigpipe&) = delete;
    DefaultSigpipe& operator=(const DefaultSigpipe&) = delete;

private:
    void (*m_old)(int);
};

TEST(TlsSocket, SendToAServerThatHasGoneRaisesAnErrorNotASignal)
{
    const ServerIdentity identity;
    ASSERT_TRUE(identity.usable());
    const DefaultSigpipe defaultSigpipe;
    auto pair = connectLoopback();
    bool accepted = false;
    std::thread server([&] {
        accepted = identity.accept(pair.peer.get());
        pair.peer.reset();   // gone, without a close notice
    });
    std::string error;
    const bool started = pair.socket->startTls(TlsOptions{"localhost", "", false}, error);
    server.join();
    ASSERT_TRUE(started) << error;
    ASSERT_TRUE(accepted);
    ASSERT_TRUE(pair.socket->secure());

    const std::string block(64 * 1024, 'x');
    int thrown = 0;
    try {
        for (int i = 0; i < 100; ++i)
            pair.socket->send(block.data(), static_cast<unsigned>(block.size()));
    } catch (int code) {
        thrown = code;
    }
    EXPECT_TRUE(thrown == EPIPE || thrown == ECONNRESET) << "the send failed with " << thrown;
}

} // namespace
