// The OAuth 2.0 providers the proxy can get tokens from: a shipped table
// (oauth-providers.txt in the program folder) and the user's own file of the
// same name in the data root, whose sections add providers or change the
// shipped ones key by key (a client id of the user's own, say).
//
//   # comment
//   [name]
//   servers = outlook.office365.com *.outlook.com    mail servers it serves
//   client_id = ...            client_secret = ...   (when the provider wants one)
//   device_endpoint = https://...                    RFC 8628
//   authorization_endpoint = https://...             RFC 8252 (loopback redirect)
//   authorization_parameters = a=1&b=2               added to its address as they stand
//   token_endpoint = https://...
//   scope = ...                                      space-separated
//
// Reading is a pure function of the text; an unknown key or a line outside
// a section is an error naming its line, never passed over.
#pragma once

#include <string>
#include <vector>

struct OAuthProvider {
    std::string name;
    std::vector<std::string> servers;   // host names, "*" as a wildcard
    std::string clientId;
    std::string clientSecret;
    std::string deviceEndpoint;
    std::string authorizationEndpoint;
    std::string authorizationParameters;
    std::string tokenEndpoint;
    std::string scope;
};

// Adds the providers of text to providers (a section of a name already
// there changes that provider); false with error ("line N: ...").
bool readOAuthProviders(const std::string& text, std::vector<OAuthProvider>& providers, std::string& error);

// The shipped table, then the user's file when there is one.
bool loadOAuthProviders(const std::string& programFolder, const std::string& dataRoot,
                        std::vector<OAuthProvider>& providers, std::string& error);

// The provider named name (any case), or the first that serves host; null
// for none.
const OAuthProvider* findOAuthProvider(const std::vector<OAuthProvider>& providers, const std::string& name);
const OAuthProvider* oauthProviderOfServer(const std::vector<OAuthProvider>& providers, const std::string& host);
