#include "oauth/TokenFile.h"

#include "support/TestHelpers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

} // namespace
