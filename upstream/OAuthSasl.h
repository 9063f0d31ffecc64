// The two SASL mechanisms that log in with an OAuth 2.0 access token:
// XOAUTH2 and OAUTHBEARER (RFC 7628).  The responses are built here as
// bytes (before base64); oauthExchange() runs them on a POP3 connection
// (RFC 5034's AUTH), choosing OAUTHBEARER when the server's CAPA lists it
// under SASL, else XOAUTH2.  The connection must already run over TLS: the
// login method's row says so and UpstreamClient::begin() enforces it.
#pragma once

#include <string>

class UpstreamConnection;

enum class OAuthMechanism { XOAuth2, OAuthBearer };

// "user=" user ^A "auth=Bearer " token ^A ^A
std::string xoauth2Response(const std::string& user, const std::string& token);
// "n,a=" user "," ^A "host=" host ^A "port=" port ^A "auth=Bearer " token
// ^A ^A, with '=' and ',' in user written "=3D" and "=2C".
std::string oauthBearerResponse(const std::string& user, const std::string& host, int port,
                                const std::string& token);

// CAPA's "SASL" line names the mechanism; false when the server lists
// neither or has no SASL line (then XOAUTH2 is tried).
bool oauthMechanismOfCapa(const std::string& capaLine, OAuthMechanism& mechanism);

// CAPA, AUTH with the mechanism, the response; a failure challenge (the
// server's JSON status) is answered so that the server ends the exchange.
// Returns the server's last reply.  The response is masked in the log.
std::string oauthExchange(UpstreamConnection& server, const std::string& user, const std::string& host, int port,
                          const std::string& token);
