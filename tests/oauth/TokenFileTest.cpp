#include "oauth/TokenFile.h"

#include "oauth/SecretKeeper.h"

#include "support/TestHelpers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>

namespace {

unsigned modeOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

OAuthGrant sample()
{
    return OAuthGrant{"microsoft", "M.C5_BAY.0.U.-Cr*!refresh", "EwBwA8l6BAAU.access", 1800000000};
}

TEST(TokenFile, AGrantIsKeptForTheUserAloneAndReadBackWhole)
{
    TempDir root;
    const std::string folder = oauthTokenFolder(root.path());
    std::string error;
    ASSERT_TRUE(saveOAuthGrant(folder, "me@pop.example", sample(), error)) << error;
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(oauthTokenPath(folder, "me@pop.example")), 0600u);
    OAuthGrant read;
    ASSERT_EQ(loadOAuthGrant(folder, "me@pop.example", read, error), GrantRead::Found) << error;
    EXPECT_EQ(read.provider, "microsoft");
    EXPECT_EQ(read.refreshToken, sample().refreshToken);
    EXPECT_EQ(read.accessToken, sample().accessToken);
    EXPECT_EQ(read.expires, 1800000000);

    // A folder made looser by hand is closed again by the next save.
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ASSERT_TRUE(saveOAuthGrant(folder, "me@pop.example", sample(), error)) << error;
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(loadOAuthGrant(folder, "other@pop.example", read, error), GrantRead::Missing);
}

TEST(TokenFile, AGrantOthersCouldReadOrThatIsNotAPlainFileIsRefused)
{
    TempDir root;
    const std::string folder = oauthTokenFolder(root.path());
    std::string error;
    ASSERT_TRUE(saveOAuthGrant(folder, "me@pop.example", sample(), error)) << error;
    const std::string path = oauthTokenPath(folder, "me@pop.example");
    OAuthGrant read;

    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    EXPECT_EQ(loadOAuthGrant(folder, "me@pop.example", read, error), GrantRead::Refused);
    EXPECT_NE(error.find("others may read it"), std::string::npos) << error;
    EXPECT_EQ(read.refreshToken, "");

    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(::symlink(path.c_str(), oauthTokenPath(folder, "link@pop.example").c_str()), 0);
    EXPECT_EQ(loadOAuthGrant(folder, "link@pop.example", read, error), GrantRead::Refused);

    writeFile(oauthTokenPath(folder, "empty@pop.example"), "expires=5\n");
    ASSERT_EQ(::chmod(oauthTokenPath(folder, "empty@pop.example").c_str(), 0600), 0);
    EXPECT_EQ(loadOAuthGrant(folder, "empty@pop.example", read, error), GrantRead::Refused);
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;

    for (const char* name : {"../me@pop.example", ".hidden", ""})
        EXPECT_EQ(loadOAuthGrant(folder, name, read, error), GrantRead::Refused) << name;
}

TEST(TokenFile, AnAnswerHoldingALineBreakIsNotKept)
{
    TempDir root;
    const std::string folder = oauthTokenFolder(root.path());
    OAuthGrant grant = sample();
    grant.accessToken = "abc\nrefresh_token=planted";
    std::string error;
    EXPECT_FALSE(saveOAuthGrant(folder, "me@pop.example", grant, error));
    OAuthGrant read;
    EXPECT_EQ(loadOAuthGrant(folder, "me@pop.example", read, error), GrantRead::Missing);
    EXPECT_FALSE(saveOAuthGrant(folder, "../escape", sample(), error));
}

// A keyring in memory, as the desktop's would answer.
class MemoryKeeper : public SecretKeeper
{
public:
    std::map<std::string, std::string> secrets;
    bool refuses = false;      // keep() fails
    bool unreachable = false;  // find() cannot ask

    std::string name() const override { return "the test keyring"; }
    bool keep(const std::string& account, const std::string& secret, std::string& error) override
    {
        if (refuses) {
            error = "locked";
            return false;
        }
        secrets[account] = secret;
        return true;
    }
    Found find(const std::string& account, std::string& secret, std::string& error) override
    {
        if (unreachable) {
            error = "no answer";
            return Found::Unreachable;
        }
        const auto it = secrets.find(account);
        if (it == secrets.end())
            return Found::No;
        secret = it->second;
        return Found::Yes;
    }
};

class TokenFileWithAKeyring : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto keeper = std::make_unique<MemoryKeeper>();
        m_keeper = keeper.get();
        setSecretKeeper(std::move(keeper));
    }
    void TearDown() override { setSecretKeeper(nullptr); }
    MemoryKeeper* m_keeper = nullptr;
};

TEST_F(TokenFileWithAKeyring, TheTokensGoToTheKeyringAndTheFileOnlyNamesIt)
{
    TempDir root;
    const std::string folder = oauthTokenFolder(root.path());
    std::string error;
    ASSERT_TRUE(saveOAuthGrant(folder, "me@pop.example", sample(), error)) << error;
    const std::string file = readFile(oauthTokenPath(folder, "me@pop.example"));
    EXPECT_EQ(file.find(sample().refreshToken), std::string::npos) << file;
    EXPECT_EQ(file.find(sample().accessToken), std::string::npos) << file;
    EXPECT_NE(file.find("kept_in=keyring"), std::string::npos) << file;
    EXPECT_NE(m_keeper->secrets["me@pop.example"].find(sample().refreshToken), std::string::npos);
    OAuthGrant read;
    ASSERT_EQ(loadOAuthGrant(folder, "me@pop.example", read, error), GrantRead::Found) << error;
    EXPECT_EQ(read.refreshToken, sample().refreshToken);
    EXPECT_EQ(read.accessToken, sample().accessToken);
    EXPECT_EQ(read.expires, sample().expires);

    m_keeper->unreachable = true;
    EXPECT_EQ(loadOAuthGrant(folder, "me@pop.example", read, error), GrantRead::Refused);
    EXPECT_NE(error.find("cannot be reached now (no answer)"), std::string::npos) << error;
    m_keeper->unreachable = false;
    m_keeper->secrets.clear();
    EXPECT_EQ(loadOAuthGrant(folder, "me@pop.example", read, error), GrantRead::Refused);
    EXPECT_NE(error.find("no longer holds"), std::string::npos) << error;
    // Without the keyring the file alone is no sign-in either.
    setSecretKeeper(nullptr);
    EXPECT_EQ(loadOAuthGrant(folder, "me@pop.example", read, error), GrantRead::Refused);
}

TEST_F(TokenFileWithAKeyring, AKeyringThatCannotKeepThemLeavesThemInTheFile)
{
    TempDir root;
    const std::string folder = oauthTokenFolder(root.path());
    m_keeper->refuses = true;
    std::string error;
    ASSERT_TRUE(saveOAuthGrant(folder, "me@pop.example", sample(), error)) << error;
    EXPECT_TRUE(m_keeper->secrets.empty());
    const std::string path = oauthTokenPath(folder, "me@pop.example");
    EXPECT_NE(readFile(path).find(sample().refreshToken), std::string::npos);
    EXPECT_EQ(modeOf(path), 0600u);
    OAuthGrant read;
    ASSERT_EQ(loadOAuthGrant(folder, "me@pop.example", read, error), GrantRead::Found) << error;
    EXPECT_EQ(read.refreshToken, sample().refreshToken);
}

} // namespace
