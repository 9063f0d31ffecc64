// The pieces of an authorization-code sign-in from this computer: the PKCE
// code verifier and its S256 challenge (RFC 7636), a random state, and the
// percent-encoding of URL query values (RFC 3986: every byte but the
// unreserved characters).
#pragma once

#include <string>

// 43 characters of base64url from 32 random bytes; empty when the system's
// random source fails.
std::string randomVerifier();
// base64url(SHA-256(verifier)) without padding.
std::string s256Challenge(const std::string& verifier);
std::string percentEncoded(const std::string& text);
// '+' as a space and "%XY" as its byte; a '%' not followed by two hex
// digits is kept as it stands.
std::string percentDecoded(const std::string& text);
