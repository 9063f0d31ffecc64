#include "oauth/TokenFile.h"

#include "oauth/SecretKeeper.h"

#include "common/AtomicFile.h"
#include "common/CEventLog.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

// A grant is a few kilobytes; a larger file is not one.
constexpr size_t kMaxFile = 64 * 1024;

bool plainName(const std::string& account)
{
    return !account.empty() && account[0] != '.' && account.find('/') == std::string::npos &&
           account.find('\0') == std::string::npos;
}

bool oneLine(const std::string& value)
{
    return value.find_first_of("\r\n", 0) == std::string::npos && value.find('\0') == std::string::npos;
}

constexpr const char* kInKeyring = "keyring";

std::string tokenLines(const OAuthGrant& grant)
{
    return "refresh_token=" + grant.refreshToken + "\naccess_token=" + grant.accessToken + "\n";
}

// The "key=value" lines of text into grant; kept_in into keptIn.
void readLines(const std::string& text, OAuthGrant& grant, std::string& keptIn)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (key == "provider")
            grant.provider = value;
        else if (key == "refresh_token")
            grant.refreshToken = value;
        else if (key == "access_token")
            grant.accessToken = value;
        else if (key == "expires")
            grant.expires = std::strtoll(value.c_str(), nullptr, 10);
        else if (key == "kept_in")
            keptIn = value;
    }
}

} // namespace

std::string oauthTokenFolder(const std::string& dataRoot)
{
    return dataRoot + "/oauth";
}

std::string oauthTokenPath(const std::string& folder, const std::string& account)
{
    return folder + "/" + account + ".token";
}

bool saveOAuthGrant(const std::string& folder, const std::string& account, const OAuthGrant& grant,
                    std::string& error)
{
    if (!plainName(account)) {
        error = "not an account name: " + account;
        return false;
    }
    if (!oneLine(grant.provider) || !oneLine(grant.refreshToken) || !oneLine(grant.accessToken)) {
        error = "the provider's answer holds a line break";
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    // An older folder made with a looser mode is closed to others too.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        ::chmod(folder.c_str(), 0700) != 0) {
        error = folder + ": not a folder of this user's own";
        return false;
    }
    const std::string path = oauthTokenPath(folder, account);
    std::string text = "provider=" + grant.provider + "\nexpires=" + std::to_string(grant.expires) + "\n";
    bool inKeyring = false;
    if (SecretKeeper* keeper = secretKeeper()) {
        std::string why;
        inKeyring = keeper->keep(account, tokenLines(grant), why);
        if (!inKeyring)
            CEventLog().LogEvent(2, "%s could not keep the sign-in of %s (%s): its tokens are kept in %s",
                                 keeper->name().c_str(), account.c_str(), why.c_str(), path.c_str());
    }
    text += inKeyring ? std::string("kept_in=") + kInKeyring + "\n" : tokenLines(grant);
    AtomicFile file(path, 0600);
    if (!file.isOpen() || !file.write(text) || !file.commit()) {
        error = path + ": could not be written";
        return false;
    }
    return true;
}

GrantRead loadOAuthGrant(const std::string& folder, const std::string& account, OAuthGrant& grant,
                         std::string& error)
{
    grant = OAuthGrant{};
    if (!plainName(account)) {
        error = "not an account name: " + account;
        return GrantRead::Refused;
    }
    const std::string path = oauthTokenPath(folder, account);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT)
            return GrantRead::Missing;
        error = path + ": " + std::strerror(errno);
        return GrantRead::Refused;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        error = path + ": not a file of this user's own";
        return GrantRead::Refused;
    }
    if ((info.st_mode & 077) != 0) {
        error = path + ": others may read it (chmod 600 it, or authorize again)";
        return GrantRead::Refused;
    }
    std::string text;
    if (!readToEnd(fd.get(), text, kMaxFile)) {
        error = path + ": " + (text.size() > kMaxFile ? "too large to be a sign-in" : std::strerror(errno));
        return GrantRead::Refused;
    }
    std::string keptIn;
    readLines(text, grant, keptIn);
    if (keptIn == kInKeyring) {
        SecretKeeper* keeper = secretKeeper();
        std::string secret;
        switch (keeper == nullptr ? SecretKeeper::Found::Unreachable : keeper->find(account, secret, error)) {
        case SecretKeeper::Found::Yes:
            readLines(secret, grant, keptIn);
            break;
        case SecretKeeper::Found::No:
            error = "the keyring no longer holds the tokens that " + path + " names";
            return GrantRead::Refused;
        case SecretKeeper::Found::Unreachable:
            error = "its tokens are in the keyring, which cannot be reached now" +
                    (keeper == nullptr || error.empty() ? std::string() : " (" + error + ")");
            return GrantRead::Refused;
        }
    } else if (!keptIn.empty()) {
        error = path + ": kept in \"" + keptIn + "\", which this program does not know";
        return GrantRead::Refused;
    }
    if (grant.provider.empty() || (grant.refreshToken.empty() && grant.accessToken.empty())) {
        error = path + ": damaged (no provider or no token)";
        return GrantRead::Refused;
    }
    return GrantRead::Found;
}
