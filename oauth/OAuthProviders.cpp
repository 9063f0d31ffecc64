#include "oauth/OAuthProviders.h"

#include "common/WildcardMatch.h"

#include <strings.h>

#include <fstream>
#include <sstream>

namespace {

constexpr const char* kFileName = "oauth-providers.txt";
// Larger than any table of providers: a bigger file is not read.
constexpr std::streamsize kMaxFile = 256 * 1024;

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

bool setKey(OAuthProvider& provider, const std::string& key, const std::string& value)
{
    struct Key {
        const char* name;
        std::string OAuthProvider::*field;
    };
    static const Key kKeys[] = {
        {"client_id", &OAuthProvider::clientId},
        {"client_secret", &OAuthProvider::clientSecret},
        {"device_endpoint", &OAuthProvider::deviceEndpoint},
        {"authorization_endpoint", &OAuthProvider::authorizationEndpoint},
        {"authorization_parameters", &OAuthProvider::authorizationParameters},
        {"token_endpoint", &OAuthProvider::tokenEndpoint},
        {"scope", &OAuthProvider::scope},
    };
    if (::strcasecmp(key.c_str(), "servers") == 0) {
        provider.servers = words(value);
        return true;
    }
    for (const Key& known : kKeys) {
        if (::strcasecmp(key.c_str(), known.name) == 0) {
            provider.*known.field = value;
            return true;
        }
    }
    return false;
}

bool readFile(const std::string& path, std::string& text, bool& found)
{
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    if (!found)
        return true;
    std::string data(static_cast<size_t>(kMaxFile) + 1, '\0');
    in.read(data.data(), kMaxFile + 1);
    if (in.gcount() > kMaxFile)
        return false;
    text.assign(data.data(), static_cast<size_t>(in.gcount()));
    return true;
}

} // namespace

bool readOAuthProviders(const std::string& text, std::vector<OAuthProvider>& providers, std::string& error)
{
    std::istringstream in(text);
    OAuthProvider* current = nullptr;
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        const std::string line = trimmed(raw);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[') {
            const std::string name = line.back() == ']' ? trimmed(line.substr(1, line.size() - 2)) : "";
            if (name.empty() || name.find_first_of(" \t") != std::string::npos) {
                error = "line " + std::to_string(number) + ": a section is \"[name]\", one word";
                return false;
            }
            current = nullptr;
            for (OAuthProvider& known : providers)
                if (::strcasecmp(known.name.c_str(), name.c_str()) == 0)
                    current = &known;
            if (current == nullptr) {
                providers.push_back(OAuthProvider{});
                current = &providers.back();
                current->name = name;
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (current == nullptr || equals == std::string::npos) {
            error = "line " + std::to_string(number) + ": expected \"[name]\" or \"key = value\" in a section";
            return false;
        }
        const std::string key = trimmed(line.substr(0, equals));
        if (!setKey(*current, key, trimmed(line.substr(equals + 1)))) {
            error = "line " + std::to_string(number) + ": unknown key \"" + key + "\"";
            return false;
        }
    }
    return true;
}

bool loadOAuthProviders(const std::string& programFolder, const std::string& dataRoot,
                        std::vector<OAuthProvider>& providers, std::string& error)
{
    for (const std::string& folder : {programFolder, dataRoot}) {
        const std::string path = folder + "/" + kFileName;
        std::string text;
        bool found = false;
        if (!readFile(path, text, found)) {
            error = path + ": larger than any table of providers";
            return false;
        }
        if (found && !readOAuthProviders(text, providers, error)) {
            error = path + ", " + error;
            return false;
        }
    }
    return true;
}

const OAuthProvider* findOAuthProvider(const std::vector<OAuthProvider>& providers, const std::string& name)
{
    for (const OAuthProvider& provider : providers)
        if (::strcasecmp(provider.name.c_str(), name.c_str()) == 0)
            return &provider;
    return nullptr;
}

const OAuthProvider* oauthProviderOfServer(const std::vector<OAuthProvider>& providers, const std::string& host)
{
    for (const OAuthProvider& provider : providers)
        for (const std::string& pattern : provider.servers)
            if (WildcardPattern(pattern).matches(host.c_str(), host.size()))
                return &provider;
    return nullptr;
}
