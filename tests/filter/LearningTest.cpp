// Learning through the token store: counts after learning, relearning and
// unlearning; batches that never commit; the learn folders; the archive's
// messages; and rating by what was learned.
#include "FilterHarness.h"

#include "store/ArchiveMessages.h"
#include "learning/LearnBatch.h"
#include "learning/LearnFolders.h"
#include "filter/LearnedRating.h"
#include "learning/TokenStore.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::string message(const std::string& subject, const std::string& body, const char* lineEnd = "\r\n")
{
    return "From: someone@example.org" + std::string(lineEnd) + "Subject: " + subject + lineEnd + lineEnd + body +
           lineEnd;
}

class Learning : public ::testing::Test
{
protected:
    std::string save(const std::string& name, const std::string& text)
    {
        const std::string path = m_dir / name;
        writeFile(path, text);
        return path;
    }
    TokenCounts word(TokenStore& store, const std::string& token) { return store.counts(tokenHash(token)); }

    TempDir m_dir;
    std::string m_path = m_dir / "tokens.db";
};

TEST_F(Learning, AMessageCountsOnceAndMovesWhenLearnedAsTheOtherKind)
{
    const std::string first = save("first.eml", message("zebra offer", "zebra stripes"));
    const std::string copy = save("copy.eml", message("zebra offer", "zebra stripes", "\n"));
    TokenStore store(m_path, true);
    struct Step {
        const char* what;
        bool learn;
        MailKind kind;
        const std::string* path;
        LearnBatch::Outcome outcome;
        int64_t spam, ham;   // messages and the counts of "ZEBRA" after it
    };
    const Step steps[] = {
        {"learned as spam", true, MailKind::Spam, &first, LearnBatch::Outcome::Added, 1, 0},
        {"again as spam", true, MailKind::Spam, &first, LearnBatch::Outcome::Unchanged, 1, 0},
        {"a copy with LF line ends", true, MailKind::Spam, &copy, LearnBatch::Outcome::Unchanged, 1, 0},
        {"learned as ham", true, MailKind::Ham, &first, LearnBatch::Outcome::Moved, 0, 1},
        {"unlearned as spam", false, MailKind::Spam, &first, LearnBatch::Outcome::Unchanged, 0, 1},
        {"unlearned as ham", false, MailKind::Ham, &first, LearnBatch::Outcome::Removed, 0, 0},
        {"unlearned again", false, MailKind::Ham, &first, LearnBatch::Outcome::Unchanged, 0, 0},
        {"learned as spam again", true, MailKind::Spam, &first, LearnBatch::Outcome::Added, 1, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        LearnBatch batch(store);
        const auto outcome = step.learn ? batch.learnFile(*step.path, step.kind) : batch.unlearnFile(*step.path, step.kind);
        EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(step.outcome));
        batch.commit();
        EXPECT_EQ(store.messages(MailKind::Spam), step.spam);
        EXPECT_EQ(store.messages(MailKind::Ham), step.ham);
        EXPECT_EQ(word(store, "ZEBRA").spam, step.spam);
        EXPECT_EQ(word(store, "ZEBRA").ham, step.ham);
        EXPECT_EQ(word(store, "subject:ZEBRA").spam, step.spam);
    }
}

TEST_F(Learning, PruningDropsStaleTokensAndOlderOnesOfASingleMessage)
{
    const int64_t now = today();
    {
        TokenStore store(m_path, true);
        store.begin();
        store.addMessages(MailKind::Spam, 5);
        store.addMessages(MailKind::Ham, 4);
        store.addToken(tokenHash("fresh"), 3, 1, now);
        store.addToken(tokenHash("fresh-single"), 1, 0, now);      // learned today: kept
        store.addToken(tokenHash("older-single"), 0, 1, now - 1);  // goes
        store.addToken(tokenHash("stale"), 4, 2, now - 91);        // goes
        store.addToken(tokenHash("just-kept"), 2, 0, now - 90);
        for (int i = 0; i < 2000; ++i)   // enough that compacting shows
            store.addToken(tokenHash("filler " + std::to_string(i)), 1, 0, now - 2);
        store.setLearned(MessageDigest{1, 2, 3}, MailKind::Spam, now - 91);
        store.setLearned(MessageDigest{4, 5, 6}, MailKind::Ham, now - 90);
        store.commit();
    }
    const auto before = std::filesystem::file_size(m_path);
    TokenStore store(m_path, true);
    EXPECT_EQ(store.tokenCount(), 2005);
    EXPECT_THROW(store.pruneTokens(now - 90, now), TokenStoreError) << "outside a transaction";
    store.begin();
    EXPECT_EQ(store.pruneTokens(now - 90, now), 2002);
    store.commit();
    store.compact();
    EXPECT_EQ(store.tokenCount(), 3);
    for (const char* kept : {"fresh", "fresh-single", "just-kept"})
        EXPECT_GT(store.counts(tokenHash(kept)).spam, 0) << kept;
    for (const char* gone : {"older-single", "stale", "filler 7"}) {
        EXPECT_EQ(store.counts(tokenHash(gone)).spam, 0) << gone;
        EXPECT_EQ(store.counts(tokenHash(gone)).ham, 0) << gone;
    }
    EXPECT_EQ(store.messages(MailKind::Spam), 5) << "the message counts stay";
    EXPECT_EQ(store.messages(MailKind::Ham), 4);
    EXPECT_EQ(store.learnedAs(MessageDigest{1, 2, 3}), std::nullopt) << "learned before the days";
    EXPECT_EQ(store.learnedAs(MessageDigest{4, 5, 6}), MailKind::Ham);
    EXPECT_LT(std::filesystem::file_size(m_path), before) << "the file gave the space back";
}

TEST_F(Learning, OneBatchSeesItsOwnChangesAndCountsEachTokenOncePerMessage)
{
    const std::string a = save("a.eml", message("apple", "apple apple apple"));
    const std::string b = save("b.eml", message("banana", "apple banana"));
    TokenStore store(m_path, true);
    LearnBatch batch(store);
    EXPECT_EQ(batch.learnFile(a, MailKind::Spam), LearnBatch::Outcome::Added);
    EXPECT_EQ(batch.learnFile(b, MailKind::Spam), LearnBatch::Outcome::Added);
    EXPECT_EQ(batch.learnFile(a, MailKind::Spam), LearnBatch::Outcome::Unchanged);
    EXPECT_EQ(batch.learnFile(b, MailKind::Ham), LearnBatch::Outcome::Moved);
    EXPECT_EQ(batch.learnFile(m_dir / "missing.eml", MailKind::Ham), LearnBatch::Outcome::Unreadable);
    batch.commit();
    EXPECT_EQ(store.messages(MailKind::Spam), 1);
    EXPECT_EQ(store.messages(MailKind::Ham), 1);
    EXPECT_EQ(word(store, "APPLE").spam, 1) << "a word repeated in a message counts once";
    EXPECT_EQ(word(store, "APPLE").ham, 1);
    EXPECT_EQ(word(store, "BANANA").spam, 0);
    EXPECT_EQ(word(store, "BANANA").ham, 1);
}

TEST_F(Learning, ABatchThatNeverCommitsLeavesTheStoreAsItWas)
{
    const std::string a = save("a.eml", message("kept", "kept words"));
    const std::string b = save("b.eml", message("dropped", "dropped words"));
    {
        TokenStore store(m_path, true);
        LearnBatch batch(store);
        batch.learnFile(a, MailKind::Ham);
        batch.commit();
    }
    {
        TokenStore store(m_path, true);
        LearnBatch batch(store);
        batch.learnFile(b, MailKind::Spam);
        batch.unlearnFile(a, MailKind::Ham);
    }
    TokenStore store(m_path, false);
    EXPECT_EQ(store.messages(MailKind::Spam), 0);
    EXPECT_EQ(store.messages(MailKind::Ham), 1);
    EXPECT_EQ(word(store, "KEPT").ham, 1);
    EXPECT_EQ(word(store, "DROPPED").spam, 0);
}

TEST_F(Learning, AStoreNotThereYetHasLearnedNothing)
{
    TokenStore store(m_dir / "none.db", false);
    EXPECT_EQ(store.messages(MailKind::Spam), 0);
    EXPECT_EQ(word(store, "ANY").spam, 0);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "none.db")) << "reading makes no store";
    EXPECT_THROW(TokenStore(m_dir / "no/such/folder.db", true), TokenStoreError);
}

TEST_F(Learning, SavedMessagesAreLearnedAndRemovedOnlyOnceCommitted)
{
    const std::string root = m_dir / "root";
    std::filesystem::create_directories(root);
    ASSERT_TRUE(makeLearnFolders(root));
    const std::string spam = learnFolder(root, MailKind::Spam);
    const std::string ham = learnFolder(root, MailKind::Ham);
    writeFile(spam + "/one.eml", message("cheap", "cheap pills"));
    writeFile(spam + "/two.eml", message("cheaper", "cheaper pills"));
    writeFile(ham + "/three.eml", message("minutes", "meeting minutes"));
    writeFile(ham + "/.being-saved", message("partial", "partial"));
    writeFile(ham + "/four.tmp", message("partial", "partial"));

    // A store that cannot be opened: nothing is learned, nothing removed.
    std::filesystem::create_directories(tokenStorePath(root));
    EXPECT_EQ(learnSavedMessages(root), 0);
    EXPECT_TRUE(std::filesystem::exists(spam + "/one.eml"));
    EXPECT_TRUE(std::filesystem::exists(ham + "/three.eml"));
    std::filesystem::remove(tokenStorePath(root));

    EXPECT_EQ(learnSavedMessages(root), 3);
    EXPECT_FALSE(std::filesystem::exists(spam + "/one.eml"));
    EXPECT_FALSE(std::filesystem::exists(spam + "/two.eml"));
    EXPECT_FALSE(std::filesystem::exists(ham + "/three.eml"));
    EXPECT_TRUE(std::filesystem::exists(ham + "/.being-saved")) << "files being written are left alone";
    EXPECT_TRUE(std::filesystem::exists(ham + "/four.tmp"));
    TokenStore store(tokenStorePath(root), false);
    EXPECT_EQ(store.messages(MailKind::Spam), 2);
    EXPECT_EQ(store.messages(MailKind::Ham), 1);
    EXPECT_EQ(word(store, "PILLS").spam, 2);
    EXPECT_EQ(learnSavedMessages(root), 0) << "nothing left to take in";
}

TEST(ArchiveMessages, ADayFileIsSplitBackIntoItsMessages)
{
    std::vector<std::string> messages;
    splitArchive("Subject: one\r\n\r\n..dotted\r\nbody\r\n.\r\nSubject: two\r\n\r\nsecond\r\n.\r\nSubject: cut",
                 [&](const std::string& text) { messages.push_back(text); });
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "Subject: one\r\n\r\n.dotted\r\nbody\r\n");
    EXPECT_EQ(messages[1], "Subject: two\r\n\r\nsecond\r\n");
    EXPECT_EQ(messages[2], "Subject: cut") << "a copy cut short is kept";

    TempDir folder;
    writeFile(folder / "SF030705.txt", "");
    writeFile(folder / "sf030704.txt", "");
    writeFile(folder / "SF030706.tmp", "");
    writeFile(folder / "SFnotes.txt", "");
    const auto days = archiveDayFiles(folder.path());
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0], folder / "SF030705.txt");
    EXPECT_EQ(days[1], folder / "sf030704.txt");
}

TEST_F(Learning, RatingIsNeutralUntilFiftyOfEachKindAreLearned)
{
    const std::string spammy = save("spammy.eml", message("cheap pills now", "buy cheap pills online now"));
    const std::string hammy = save("hammy.eml", message("meeting minutes", "the project meeting agenda"));
    TokenStore store(m_path, true);
    const auto learnMany = [&](int count, int from) {
        LearnBatch batch(store);
        for (int i = from; i < from + count; ++i) {
            const std::string n = std::to_string(i);
            batch.learnText(message("cheap pills " + n, "buy cheap pills online " + n), MailKind::Spam);
            batch.learnText(message("meeting minutes " + n, "the project meeting agenda " + n), MailKind::Ham);
        }
        batch.commit();
    };
    const auto rate = [&](const std::string& path) {
        LearnedRating rating(m_path);
        FILE* file = std::fopen(path.c_str(), "rb");
        const int probability = rating.probability(file);
        std::fclose(file);
        return probability;
    };
    learnMany(49, 0);
    EXPECT_EQ(rate(spammy), 50);
    EXPECT_EQ(rate(hammy), 50);
    learnMany(1, 49);
    EXPECT_EQ(LearnedRating(m_path).learned(MailKind::Spam), 50);
    EXPECT_GE(rate(spammy), 99);
    EXPECT_LE(rate(hammy), 1);
}

} // namespace

namespace {

// SPAMPROBABILITY() and LEARNEDCOUNT() from a rule, over a header-only
// spool as a session has it: the body is fetched only once enough has been
// learned for the probability to say something.
class LearnedRuleFunctions : public FilterHarness
{
protected:
    void TearDown() override
    {
        std::filesystem::remove_all(learnRoot(programContext().dataRoot));
        FilterHarness::TearDown();
    }

    std::vector<std::string> seen(const std::string& text)
    {
        rules(rule("Probe", 10,
                   "adddecisiondetails(str(spamprobability()))\n"
                   "adddecisiondetails(str(learnedcount(\"spam\")) + \" \" + str(learnedcount(\"Ham\")) + \" \" + "
                   "str(learnedcount(\"junk\")))\nisspam()"));
        loadRules();
        // A new context, as each session has.
        m_registration.reset();
        m_context.reset();
        judge(text, true);
        std::vector<std::string> details;
        for (const std::string& line : splitLines(context().decisionHeaders))
            if (!line.empty() && line[0] == '\t')
                details.push_back(line.substr(1));
        return details;
    }

    static void learn(int count)
    {
        const std::string& root = programContext().dataRoot;
        ASSERT_TRUE(makeLearnFolders(root));
        TokenStore store(tokenStorePath(root), true);
        LearnBatch batch(store);
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            batch.learnText(crlf("Subject: pills " + n + "\n\nbuy cheap pills online " + n + "\n"), MailKind::Spam);
            batch.learnText(crlf("Subject: minutes " + n + "\n\nthe project meeting agenda " + n + "\n"),
                            MailKind::Ham);
        }
        batch.commit();
    }
};

TEST_F(LearnedRuleFunctions, TheProbabilityNeedsFiftyOfEachKindAndOnlyThenTheBody)
{
    const std::string spammy = crlf("Subject: hello\n\nbuy cheap pills online now\n.\n");
    EXPECT_EQ(seen(spammy), (std::vector<std::string>{"50", "0 0 0"}));
    EXPECT_EQ(m_session.fetches, 0) << "nothing learned: no download";
    learn(50);
    EXPECT_EQ(seen(spammy), (std::vector<std::string>{"100", "50 50 0"}));
    EXPECT_EQ(m_session.fetches, 1);
    EXPECT_EQ(seen(crlf("Subject: hello\n\nthe project meeting agenda\n.\n")),
              (std::vector<std::string>{"0", "50 50 0"}));
}

// The shipped rule "Learned from your mail", after a rule that marks every
// message: a message the classifier is sure is wanted mail loses the other
// rule's points; one it takes for spam gains its own.
TEST_F(LearnedRuleFunctions, TheShippedRuleLetsThroughWhatItIsSureIsWanted)
{
    const std::string shipped = readFile(std::filesystem::path(QF_SHIPPED_INCLUDE).parent_path() / "system.sfr");
    const size_t begin = shipped.find("#rule \"Learned from your mail\"");
    ASSERT_NE(begin, std::string::npos);
    const size_t end = shipped.find("#endrule", begin);
    ASSERT_NE(end, std::string::npos);
    rules(rule("Marks everything", 60, "isspam()") + shipped.substr(begin, end - begin) + "#endrule\n");
    learn(50);
    loadRules();
    const auto total = [this](const std::string& text) {
        m_registration.reset();
        m_context.reset();
        judge(text, true);
        return context().lastTotal;
    };
    EXPECT_DOUBLE_EQ(total(crlf("Subject: hello\n\nthe project meeting agenda\n.\n")), 0.0) << "sure it is wanted";
    EXPECT_NE(context().decisionHeaders.find("Learned wanted mail, spam probability 0 %"), std::string::npos)
        << context().decisionHeaders;
    EXPECT_DOUBLE_EQ(total(crlf("Subject: hello\n\nbuy cheap pills online now\n.\n")), kMaxTotal);
    // A message the classifier knows nothing of keeps the other rule's points.
    EXPECT_DOUBLE_EQ(total(crlf("Subject: hello\n\nquarterly gardening newsletter\n.\n")), 6.0);
}

} // namespace
