// What a band does with a judged message: the subject rewrite with the
// decision block, the report entry, the archive copy, its merge and the
// daily tidy, and the viewer's entries.
#include "filter/Archive.h"
#include "filter/BandActions.h"

#include "common/CVDateTime.h"

#include "FilterHarness.h"

#include <sys/time.h>

namespace {

const std::string kMessage = crlf("Received: from relay\nFrom: Sender <sender@example.org>\nSubject: Hello\n"
                                  "To: me@example.net\n\nBody line\n..stuffed\n.\n");

class BandActions : public FilterHarness
{
protected:
    void SetUp() override
    {
        FilterHarness::SetUp();
        for (int band = 1; band <= 5; ++band) {
            const std::string n = std::to_string(band);
            setting(("Subject" + n).c_str(), band == 4 ? 1 : 0);
            setting(("Archive" + n).c_str(), band == 4 ? 1 : 0);
            CRegistry reg;
            reg.CreateKey(eRegUser, "quilfpro", "/", true);
            reg.SetValue(("ArchivePath" + n).c_str(), (archiveRoot() + "/band" + n).c_str());
        }
        std::filesystem::remove_all(archiveRoot());
    }

    static std::string archiveRoot() { return programContext().dataRoot + "/test-archive"; }
    static std::string band4() { return archiveRoot() + "/band4/"; }

    static std::string today(const char* suffix)
    {
        CVDateTime now;
        char name[32];
        std::snprintf(name, sizeof name, "SF%02d%02d%02d%s", now.year() % 100, now.month(), now.day(), suffix);
        return name;
    }

    // A rule rated 70 (band 4 with the default thresholds) over text.
    void judgeInBandFour(const std::string& text, const std::string& extra = "")
    {
        rules(rule("Seventy", 70, extra + "adddecisiondetails(\"why\")\nisspam()"));
        loadRules();
        judge(text);
    }
};

TEST_F(BandActions, TheSubjectIsRewrittenAndTheDecisionBlockEndsTheHeader)
{
    judgeInBandFour(kMessage);
    EXPECT_EQ(readFile(m_path),
              crlf("Received: from relay\nFrom: Sender <sender@example.org>\nSubject: SPAM - Hello\n"
                   "To: me@example.net\n"
                   "X-Quillfence-Pro: Rule 'Seventy' detected spam from Sender <sender@example.org>, rating total 7.0\n"
                   "\twhy\n\nBody line\n..stuffed\n.\n"));
}

TEST_F(BandActions, AMessageWithoutASubjectGetsOne)
{
    judgeInBandFour(crlf("From: a@example.org\n\nbody\n.\n"));
    EXPECT_EQ(readFile(m_path), crlf("From: a@example.org\nSubject: SPAM - \n"
                                     "X-Quillfence-Pro: Rule 'Seventy' detected spam from a@example.org, rating total 7.0\n"
                                     "\twhy\n\nbody\n.\n"));
}

TEST_F(BandActions, AFoldedSubjectIsReplacedWholeAndLongLinesStayWhole)
{
    // The 300-byte header line would have a piece starting "Subject:" if it
    // were read in 255-byte pieces.
    const std::string longLine = "X-Long: " + std::string(247, 'y') + "Subject: not one";
    judgeInBandFour(crlf("Subject: first part\n second part\n\tthird part\n" + longLine + "\nFrom: a@example.org\n\n"
                         "body\n.\n"));
    const auto lines = splitLines(readFile(m_path));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Subject: SPAM - first part", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("third part"), std::string::npos) << "the whole subject, unfolded: " << lines[0];
    EXPECT_EQ(lines[1], longLine + "\r") << "no old continuation lines; the long line kept as it was";
}

TEST_F(BandActions, TemplatesExpandHeadersAndUserMacros)
{
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegUser, "quilfpro", "/", true));
    reg.SetValue("SubjectMacro4", "[%%USER1%%] %%SUBJECT%% (%%FROM%%) %%NOPE%%");
    judgeInBandFour(kMessage, "setusermacro(1, \"pills\")\n");
    EXPECT_NE(readFile(m_path).find("\r\nSubject: [pills] Hello (Sender <sender@example.org>) \r\n"), std::string::npos)
        << readFile(m_path);
}

TEST_F(BandActions, ABandThatDoesNotMarkLeavesTheMessageAlone)
{
    setting("Subject4", 0);
    judgeInBandFour(kMessage);
    EXPECT_EQ(readFile(m_path), kMessage) << "no subject change, no decision block";
}

TEST_F(BandActions, HeaderValuesCannotBreakTheLinesTheyAreCopiedInto)
{
    // A bare CR and a bare LF inside header values, and a body line ".".
    const std::string text = "From: evil\rX-Forged: 1 <e@x.org>\r\nSubject: one\ntwo\r\n\r\nbody\r\n..\r\n.\r\n";
    judgeInBandFour(text);
    const std::string spool = readFile(m_path);
    const std::string header = spool.substr(0, spool.find("\r\n\r\n") + 2);
    for (const std::string& line : splitLines(header))
        EXPECT_TRUE(line.empty() || line.back() == '\r') << "every header line ends in CR LF: " << line;
    context().closeReport();
    for (const std::string& line : splitLines(readFile(context().reportPath)))
        EXPECT_EQ(line.find('\r'), std::string::npos) << "report lines are whole lines: " << line;
}

TEST_F(BandActions, ReportEntriesFollowTheBandsSetting)
{
    setting("CollectionEmail4", 0);
    judgeInBandFour(kMessage);
    EXPECT_EQ(report(), "") << "band 4 reports nothing";

    rules(rule("Friend", 50, "isok()"));
    loadRules();
    judge(kMessage);
    EXPECT_EQ(report(), "-----------------\nFrom: Sender <sender@example.org>\nSubject: Hello\n=================\n"
                        "Message OK\n=================\n"
                        "Rule 'Friend' detected message from Sender <sender@example.org> OK\n"
                        "-----------------\n\n");
}

TEST_F(BandActions, AnArchivedCopyIsStagedThenMergedOnlyWhenTheServerConfirms)
{
    judgeInBandFour(kMessage);
    const std::string staged = readFile(band4() + today(".tmp"));
    EXPECT_EQ(staged, readFile(m_path)) << "the marked message, its decision block once";
    EXPECT_FALSE(std::filesystem::exists(band4() + today(".txt")));

    mergeArchives(false);   // a QUIT the server refused
    EXPECT_FALSE(std::filesystem::exists(band4() + today(".tmp")));
    EXPECT_FALSE(std::filesystem::exists(band4() + today(".txt")));

    judgeInBandFour(kMessage);
    mergeArchives(true);
    const std::string first = readFile(band4() + today(".txt"));
    EXPECT_EQ(first, staged);
    EXPECT_FALSE(std::filesystem::exists(band4() + today(".tmp"))) << "gone once merged";

    judgeInBandFour(crlf("Subject: second\n\nsecond body\n.\n"));
    mergeArchives(true);
    const std::string both = readFile(band4() + today(".txt"));
    EXPECT_EQ(both.substr(0, first.size()), first) << "a later session appends";
    EXPECT_NE(both.find("second body"), std::string::npos);
}

TEST_F(BandActions, AnUnmarkedCopyGetsTheDecisionBlock)
{
    setting("Subject4", 0);
    judgeInBandFour(kMessage);
    EXPECT_EQ(readFile(band4() + today(".tmp")),
              crlf("Received: from relay\nFrom: Sender <sender@example.org>\nSubject: Hello\nTo: me@example.net\n"
                   "X-Quillfence-Pro: Rule 'Seventy' detected spam from Sender <sender@example.org>, rating total 7.0\n"
                   "\twhy\n\nBody line\n..stuffed\n.\n"));
    EXPECT_EQ(readFile(m_path), kMessage) << "the delivered message unchanged";
}

TEST_F(BandActions, AStagingFileThatCannotBeMergedIsKept)
{
    judgeInBandFour(kMessage);
    // The day file's name is taken by a folder: the append fails.
    std::filesystem::create_directory(band4() + today(".txt"));
    mergeArchives(true);
    EXPECT_TRUE(std::filesystem::exists(band4() + today(".tmp"))) << "kept for the next session";
    std::filesystem::remove(band4() + today(".txt"));
    mergeArchives(true);
    EXPECT_FALSE(std::filesystem::exists(band4() + today(".tmp")));
    EXPECT_NE(readFile(band4() + today(".txt")).find("Body line"), std::string::npos);
}

void dayFile(const std::string& folder, int daysAgo)
{
    CVDateTime day(CVDateTime::currentTime() - daysAgo * 86400L);
    char name[32];
    std::snprintf(name, sizeof name, "sf%02d%02d%02d.txt", day.year() % 100, day.month(), day.day());
    writeFile(folder + name, "x");
}

size_t filesIn(const std::string& folder)
{
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST_F(BandActions, TheDailyTidyDeletesOnlyOldDayFiles)
{
    setting("Tidy", 1);
    setting("TidyDays", 7);
    setting("LastReportDay", -1);
    loadRules();
    dayFile(band4(), 8);
    dayFile(band4(), 7);
    dayFile(band4(), 0);
    for (const char* other : {"sfnotes.txt", "SF1.txt", "sf99999999.txt", "notes.txt"})
        writeFile(band4() + other, "keep");
    dailyTidy();
    EXPECT_EQ(filesIn(band4()), 6u) << "the 8-day-old file alone is gone";
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegUser, "quilfpro", "/", true));
    int stored = -2;
    reg.QueryValue("LastReportDay", stored);
    EXPECT_EQ(stored, CVDateTime().dayOfYear());

    dayFile(band4(), 9);
    dailyTidy();
    EXPECT_EQ(filesIn(band4()), 7u) << "once a day";
}

TEST_F(BandActions, WithTidyOffTheDailyStepOnlyRecordsTheDay)
{
    setting("Tidy", 0);
    setting("LastReportDay", -1);
    loadRules();
    dayFile(band4(), 30);
    dailyTidy();
    EXPECT_EQ(filesIn(band4()), 1u);
    EXPECT_EQ(filterSettings().lastReportDay, CVDateTime().dayOfYear());
}

TEST_F(BandActions, TheViewerIsToldWhereTheArchivesAre)
{
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegUser, "quilfpro", "/", true));
    reg.DeleteValue("ArchivePath2");
    registerArchiveLocations();
    CRegistry top;
    ASSERT_TRUE(top.OpenKey(eRegUser, "cvmsgvwr", "/Locations/Quillfence Pro", false));
    std::string text;
    EXPECT_TRUE(top.QueryValue("DisplayName", text));
    EXPECT_EQ(text, "Quillfence Pro");
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE("band " + std::to_string(n));
        CRegistry band;
        ASSERT_TRUE(band.OpenKey(eRegUser, "cvmsgvwr", ("/Locations/Quillfence Pro/Rating Band " + std::to_string(n)).c_str(),
                                 false));
        int value = 0;
        EXPECT_TRUE(band.QueryValue("Type", value));
        EXPECT_EQ(value, 2);
        EXPECT_TRUE(band.QueryValue("Icon", value));
        EXPECT_EQ(value, 11 - n);
        band.QueryValue("File", text);
        EXPECT_EQ(text, "sf*.txt");
        band.QueryValue("Parse", text);
        EXPECT_EQ(text, "sf%02d%02d%02d");
        band.QueryValue("DisplayName", text);
        EXPECT_EQ(text, "Rating Band " + std::to_string(n));
        band.QueryValue("Data", text);
        EXPECT_EQ(text, n == 2 ? programContext().dataRoot + "/archive/rating2"
                               : archiveRoot() + "/band" + std::to_string(n));
    }
}

} // namespace
