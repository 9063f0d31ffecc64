#include "app/AuthorizeCommand.h"

#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "oauth/SignIn.h"
#include "proxy/LoginAddress.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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

// On a desktop, for a user at the terminal, the browser opens the page
// itself; the address is printed either way.
void openInBrowser(const std::string& uri)
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!::isatty(STDOUT_FILENO) || ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')))
        return;
    char program[] = "xdg-open";
    std::string address = uri;
    char* const argv[] = {program, address.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, program, nullptr, nullptr, argv, environ) == 0)
        ::waitpid(child, nullptr, 0);
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
    const SignInRequest request{programContext().programFolder,
                                      programContext().dataRoot,
                                      accountOfFile(address.accountFile),
                                      address.host,
                                      args.size() > 1 ? args[1] : std::string(),
                                      HttpsOptions{settings.caFile, 30}};
    const SignInResult result = signIn(
        request,
        [&](const std::string& uri, const std::string& code, const std::string& direct) {
            if (code.empty()) {
                std::printf("To let Quillfence Pro collect %s, sign in with a browser on this computer at\n\n"
                            "    %s\n\n",
                            args[0].c_str(), uri.c_str());
                openInBrowser(uri);
            } else {
                std::printf("To let Quillfence Pro collect %s, open\n\n    %s\n\nand enter the code %s\n",
                            args[0].c_str(), uri.c_str(), code.c_str());
                if (!direct.empty())
                    std::printf("(or open %s, which holds the code)\n", direct.c_str());
            }
            std::printf("Waiting for the sign-in...\n");
            std::fflush(stdout);
        },
        [&] { return interrupted.load(); });
    using Outcome = SignInResult::Outcome;
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
