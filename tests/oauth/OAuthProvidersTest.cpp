#include "oauth/OAuthProviders.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

namespace {

TEST(OAuthProviders, TheShippedTableReadsAndServesTheProvidersMailServers)
{
    TempDir noUserFile;
    std::vector<OAuthProvider> providers;
    std::string error;
    ASSERT_TRUE(loadOAuthProviders(QF_SHIPPED_PROVIDERS_FOLDER, noUserFile.path(), providers, error)) << error;
    const OAuthProvider* microsoft = oauthProviderOfServer(providers, "outlook.office365.com");
    ASSERT_NE(microsoft, nullptr);
    EXPECT_EQ(microsoft->name, "microsoft");
    EXPECT_TRUE(microsoft->deviceEndpoint.starts_with("https://"));
    EXPECT_NE(microsoft->scope.find("offline_access"), std::string::npos);
    const OAuthProvider* google = oauthProviderOfServer(providers, "POP.GMAIL.COM");
    ASSERT_NE(google, nullptr);
    EXPECT_EQ(google->name, "google");
    EXPECT_EQ(oauthProviderOfServer(providers, "mail.example.org"), nullptr);
    // No client id is shipped: each user registers their own.
    for (const OAuthProvider& provider : providers)
        EXPECT_EQ(provider.clientId, "") << provider.name;
}

TEST(OAuthProviders, TheUsersFileChangesAShippedProviderKeyByKeyAndAddsItsOwn)
{
    TempDir program, user;
    writeFile(program / "oauth-providers.txt",
              "[mail]\nservers = pop.mail.example *.mail.example\ntoken_endpoint = https://id.example/token\n"
              "scope = pop\n");
    writeFile(user / "oauth-providers.txt",
              "  # mine\n[Mail]\nclient_id = my-app\n\n[work]\r\nservers = pop.work.example\r\n"
              "device_endpoint = https://id.work.example/device\r\n");
    std::vector<OAuthProvider> providers;
    std::string error;
    ASSERT_TRUE(loadOAuthProviders(program.path(), user.path(), providers, error)) << error;
    ASSERT_EQ(providers.size(), 2u);
    const OAuthProvider* mail = findOAuthProvider(providers, "MAIL");
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(mail->clientId, "my-app");
    EXPECT_EQ(mail->tokenEndpoint, "https://id.example/token");
    EXPECT_EQ(oauthProviderOfServer(providers, "eu.mail.example"), mail);
    const OAuthProvider* work = oauthProviderOfServer(providers, "pop.work.example");
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work->deviceEndpoint, "https://id.work.example/device");
}

TEST(OAuthProviders, ALineThatIsNotOfTheTableIsAnErrorNamingIt)
{
    const struct {
        const char* text;
        const char* error;
    } rows[] = {
        {"client_id = x\n", "line 1: expected"},
        {"[a]\nscope = x\nclientid = y\n", "line 3: unknown key \"clientid\""},
        {"[a b]\n", "line 1: a section"},
        {"[]\n", "line 1: a section"},
        {"[a]\njust words\n", "line 2: expected"},
    };
    for (const auto& row : rows) {
        std::vector<OAuthProvider> providers;
        std::string error;
        EXPECT_FALSE(readOAuthProviders(row.text, providers, error)) << row.text;
        EXPECT_TRUE(error.starts_with(row.error)) << row.text << " gave " << error;
    }
    TempDir program, user;
    writeFile(user / "oauth-providers.txt", "[a]\nnope = 1\n");
    std::vector<OAuthProvider> providers;
    std::string error;
    EXPECT_FALSE(loadOAuthProviders(program.path(), user.path(), providers, error));
    EXPECT_NE(error.find(user / "oauth-providers.txt"), std::string::npos) << error;
}

} // namespace
