#include "app/AuthorizeCommand.h"

#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "oauth/DeviceSignIn.h"
#include "proxy/LoginAddress.h"

#include <cstdio>

namespace {

constexpr int kUsageError = 2;

struct AuthorizeSettings {
    char separator;
    std::string caFile;
};

AuthorizeSettings readSettings()
{
    CRegistry reg;
    openSettingKey(reg, settingInfo(Setting::SeparatorChar));
    // A value not stored (or no settings at all) reads as its default.
    return {static_cast<char>(settingNumber(reg, Setting::SeparatorChar)), settingText(reg, Setting::TlsCAFile)};
}

} // namespace

int authorizeCommand(const std::vector<std::string>& args, const std::atomic<bool>& interrupted)
{
    const AuthorizeSettings settings = readSettings();
    LoginAddress address;
    if (parseLoginAddress(args.at(0), settings.separator, address) != LoginAddressFault::None) {
        std::fprintf(stderr, "quillfnc: \"%s\" is not an account of the form name%cserver[:port]\n",
                     args[0].c_str(), settings.separator);
        return kUsageError;
    }
    const DeviceSignInRequest request{programContext().programFolder,
                                      programContext().dataRoot,
                                      address.accountFile.substr(0, address.accountFile.size() - 4),
                                      address.host,
                                      args.size() > 1 ? args[1] : std::string(),
                                      HttpsOptions{settings.caFile, 30}};
    const DeviceSignInResult result = signInWithDeviceCode(
        request,
        [&](const std::string& uri, const std::string& code, const std::string& direct) {
            std::printf("To let Quillfence Pro collect %s, open\n\n    %s\n\nand enter the code %s\n",
                        args[0].c_str(), uri.c_str(), code.c_str());
            if (!direct.empty())
                std::printf("(or open %s, which holds the code)\n", direct.c_str());
            std::printf("Waiting for the sign-in...\n");
            std::fflush(stdout);
        },
        [&] { return interrupted.load(); });
    using Outcome = DeviceSignInResult::Outcome;
    if (result.outcome != Outcome::SignedIn) {
        std::fprintf(stderr, "quillfnc: %s\n", result.error.c_str());
        return 1;
    }
    if (result.refreshable)
        std::printf("Signed in.\n");
    else
        std::printf("Signed in, but %s gave no refresh token: the sign-in lasts until its token ends.\n",
                    result.provider.c_str());
    std::printf("In the mail client, log in as %s$OAUTH (over POP3S: port 995, or add $TLS); any password "
                "will do.\n",
                args[0].substr(0, args[0].find('$', args[0].rfind(settings.separator))).c_str());
    return 0;
}
