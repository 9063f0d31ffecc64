// A security package for the tests of the MSN login: it offers "NTLM" and
// "MSN".  Its tokens are text:
//   first step (no challenge)        "NEGOTIATE <user>"
//   after a challenge "CHALLENGE n"  "RESPONSE <user> <password> n"
// QF_TESTSEC_FAIL=query|credentials|context makes that call fail.
#include "upstream/SecurityPackage.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const QfSecPackageInfo kPackages[] = {{"NTLM", 1024}, {"MSN", 256}};

bool failing(const char* what)
{
    const char* fail = std::getenv("QF_TESTSEC_FAIL");
    return fail && std::strcmp(fail, what) == 0;
}

struct Credentials {
    std::string user, password;
};

struct Context {
    int step = 0;
};

long enumerate(unsigned long* count, const QfSecPackageInfo** packages)
{
    *count = 2;
    *packages = kPackages;
    return 0;
}

long query(const char* package, QfSecPackageInfo* info)
{
    if (failing("query") || std::strcmp(package, "MSN") != 0)
        return static_cast<long>(static_cast<int>(0x80090305));
    *info = kPackages[1];
    return 0;
}

long acquire(const char*, const char* user, const char*, const char* password, void** credentials)
{
    if (failing("credentials"))
        return static_cast<long>(static_cast<int>(0x8009030E));
    *credentials = new Credentials{user, password};
    return 0;
}

long initialize(void* credentials, void* context, void** newContext, const char*,
                const unsigned char* input, unsigned long inputLength, unsigned char* output,
                unsigned long* outputLength)
{
    if (failing("context"))
        return static_cast<long>(static_cast<int>(0x8009030C));
    auto* c = static_cast<Credentials*>(credentials);
    auto* state = context ? static_cast<Context*>(context) : new Context;
    *newContext = state;
    std::string token;
    if (input == nullptr) {
        token = "NEGOTIATE " + c->user;
    } else {
        const std::string challenge(reinterpret_cast<const char*>(input), inputLength);
        token = "RESPONSE " + c->user + " " + c->password + " " + challenge.substr(challenge.find(' ') + 1);
    }
    ++state->step;
    if (token.size() > *outputLength)
        return static_cast<long>(static_cast<int>(0x80090321));
    std::memcpy(output, token.data(), token.size());
    *outputLength = token.size();
    return input == nullptr ? 1 : 0;
}

long deleteContext(void* context)
{
    delete static_cast<Context*>(context);
    return 0;
}

long freeCredentials(void* credentials)
{
    delete static_cast<Credentials*>(credentials);
    return 0;
}

const QfSecurityFunctionTable kTable = {1, enumerate, query, acquire, initialize, deleteContext, freeCredentials};

} // namespace

extern "C" __attribute__((visibility("default"))) const QfSecurityFunctionTable* InitSecurityInterfaceA()
{
    return &kTable;
}
