#include "upstream/LoginMethods.h"

#include "common/Base64.h"
#include "common/CEventLog.h"
#include "common/MD5.h"
#include "upstream/OAuthSasl.h"
#include "upstream/ReplyText.h"
#include "upstream/SecurityInterface.h"
#include "upstream/UpstreamConnection.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The largest security token handled, whatever a package declares.
constexpr unsigned long kMaxToken = 65536;
// A challenge of AUTH MSN carries a base64 token of up to kMaxToken bytes.
constexpr size_t kMaxChallengeLine = 4 * (65536 / 3 + 1) + 8;

std::string userPass(UpstreamConnection& server, const LoginCredentials& credentials)
{
    server.send("PASS " + credentials.password + "\r\n", true);
    return server.readLine();
}

std::string apop(UpstreamConnection& server, const LoginCredentials& credentials)
{
    MD5_CTX context;
    MD5Init(&context);
    const std::string text = credentials.timestamp + credentials.password;
    MD5Update(&context, reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
    unsigned char digest[16];
    MD5Final(digest, &context);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    server.send("APOP " + credentials.user + " " + hex + "\r\n");
    return server.readLine();
}

std::string msnExchange(UpstreamConnection& server, const LoginCredentials& credentials,
                        const QfSecurityFunctionTable& sspi, unsigned long maxToken, void* credentialsHandle)
{
    std::vector<unsigned char> input(maxToken), output(maxToken);
    server.send("AUTH MSN\r\n");
    std::string reply = server.readLine(kMaxChallengeLine);
    void* context = nullptr;
    // The context goes however the exchange ends, before the credentials.
    struct Drop {
        const QfSecurityFunctionTable& sspi;
        void*& context;
        ~Drop()
        {
            if (context != nullptr)
                sspi.DeleteSecurityContext(context);
        }
    } drop{sspi, context};
    while (beginsWith(reply, "+") && !beginsWith(reply, "+OK")) {
        unsigned long inputLength = 0;
        const bool haveInput = reply.size() > 2;
        if (haveInput) {
            std::vector<char> decoded(reply.size() + 3);
            const int n = MimeDecodeLine(reply.c_str() + 2, decoded.data());
            inputLength = std::min<unsigned long>(static_cast<unsigned long>(n), maxToken);
            std::memcpy(input.data(), decoded.data(), inputLength);
        }
        unsigned long outputLength = maxToken;
        void* next = nullptr;
        const long status = sspi.InitializeSecurityContext(credentialsHandle, context, &next, credentials.host.c_str(),
                                                           haveInput ? input.data() : nullptr, inputLength,
                                                           output.data(), &outputLength);
        if (next != nullptr)
            context = next;
        if (status < 0) {
            reply = formatText("-ERR Internal error, InitializeSecurityContext failed, error %08x",
                               static_cast<unsigned>(status));
            break;
        }
        outputLength = std::min(outputLength, maxToken);
        std::string token(4 * ((outputLength + 2) / 3) + 1, '\0');
        MimeEncodeStr(reinterpret_cast<const char*>(output.data()), token.data(), static_cast<int>(outputLength));
        token.resize(std::strlen(token.c_str()));
        server.send(token + "\r\n");
        reply = server.readLine(kMaxChallengeLine);
        if (!beginsWith(reply, "+"))
            break;
    }
    return reply;
}

std::string msn(UpstreamConnection& server, const LoginCredentials& credentials)
{
    if (!SecurityInterface::available())
        return "-ERR MSN authentication package not available";
    const QfSecurityFunctionTable& sspi = *SecurityInterface::table();
    QfSecPackageInfo info{};
    long status = sspi.QuerySecurityPackageInfo("MSN", &info);
    if (status != 0) {
        CEventLog().LogEvent(1, "QuerySecurityPackageInfo failed, error %08x", static_cast<unsigned>(status));
        return formatText("-ERR Internal error, QuerySecurityPackageInfo failed, error %08x",
                          static_cast<unsigned>(status));
    }
    void* handle = nullptr;
    status = sspi.AcquireCredentialsHandle("MSN", credentials.user.c_str(), "", credentials.password.c_str(), &handle);
    if (status != 0) {
        CEventLog().LogEvent(1, "AcquireCredentialsHandle, error %08x", static_cast<unsigned>(status));
        return formatText("-ERR Internal error, AcquireCredentialsHandle failed, error %08x",
                          static_cast<unsigned>(status));
    }
    // Tokens are bounded whatever the package claims.
    const unsigned long maxToken = std::min<unsigned long>(std::max<unsigned long>(info.maxToken, 1), kMaxToken);
    // The handle is given back however the exchange ends.
    struct Release {
        const QfSecurityFunctionTable& sspi;
        void* handle;
        ~Release() { sspi.FreeCredentialsHandle(handle); }
    } release{sspi, handle};
    return msnExchange(server, credentials, sspi, maxToken, handle);
}

std::string oauth(UpstreamConnection& server, const LoginCredentials& credentials)
{
    return oauthExchange(server, credentials.user, credentials.host, credentials.port, credentials.password);
}

const LoginMethodRow kMethods[] = {
    {LoginMethod::UserPass, nullptr, true, false, false, &userPass},
    {LoginMethod::Apop, "APOP", false, true, false, &apop},
    {LoginMethod::Msn, "MSN", false, false, false, &msn},
    {LoginMethod::OAuth, "OAUTH", false, false, true, &oauth},
};

} // namespace

const LoginMethodRow& loginMethodRow(LoginMethod method)
{
    for (const LoginMethodRow& row : kMethods)
        if (row.method == method)
            return row;
    return kMethods[0];
}

bool loginMethodOfSuffix(const std::string& suffix, LoginMethod& method)
{
    for (const LoginMethodRow& row : kMethods) {
        if (row.suffix != nullptr && ::strcasecmp(row.suffix, suffix.c_str()) == 0) {
            method = row.method;
            return true;
        }
    }
    return false;
}

TimestampFault apopTimestampOf(const std::string& greeting, std::string& timestamp)
{
    timestamp.clear();
    const size_t open = greeting.find('<');
    if (open == std::string::npos)
        return TimestampFault::Missing;
    const size_t close = greeting.find('>', open);
    if (close == std::string::npos)
        return TimestampFault::None;
    if (close - open + 1 > kMaxTimestamp)
        return TimestampFault::TooLong;
    timestamp = greeting.substr(open, close - open + 1);
    return TimestampFault::None;
}
