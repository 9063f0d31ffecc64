// What a band does with a judged message: the subject rewrite with the
// decision block, the report entry, the archive copy, its merge and the
// daily tidy, and the viewer's entries.
#include "filter/Archive.h"
#include "store/ArchiveMessages.h"
#include "filter/BandActions.h"
#include "store/StagingFile.h"

#include "common/CVDateTime.h"

#include "FilterHarness.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <csignal>

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

    // The staging files of band 4, by path.
    static std::vector<std::string> stagingFiles()
    {
        std::vector<std::string> paths;
        if (std::filesystem::exists(band4()))
            for (const auto& entry : std::filesystem::directory_iterator(band4()))
                if (entry.path().extension() == ".tmp")
                    paths.push_back(entry.path());
        return paths;
    }

    // The copies a staging file holds, as the day file would get them.
    static std::vector<std::string> stagedCopies(const std::string& path)
    {
        const std::string text = readFile(path);
        UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        StagingContents contents;
        EXPECT_TRUE(StagingFile::read(file.get(), contents));
        std::vector<std::string> copies;
        for (const StagedCopy& copy : contents.copies)
            copies.push_back(text.substr(static_cast<size_t>(copy.offset), static_cast<size_t>(copy.length)));
        return copies;
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
    ASSERT_EQ(stagingFiles().size(), 1u) << "one staging file of the session's own";
    EXPECT_EQ(stagedCopies(stagingFiles()[0]), std::vector<std::string>{readFile(m_path)})
        << "the marked message, its decision block once";
    EXPECT_FALSE(std::filesystem::exists(band4() + today(".txt")));

    discardStagedArchives(context());   // a QUIT the server refused
    EXPECT_TRUE(stagingFiles().empty());
    EXPECT_FALSE(std::filesystem::exists(band4() + today(".txt")));

    judgeInBandFour(kMessage);
    const std::string staged = stagedCopies(stagingFiles()[0]).at(0);
    EXPECT_TRUE(mergeStagedArchives(context()));
    const std::string first = readFile(band4() + today(".txt"));
    EXPECT_EQ(first, staged) << "the copy alone, without the staging records";
    EXPECT_TRUE(stagingFiles().empty()) << "gone once merged";

    judgeInBandFour(crlf("Subject: second\n\nsecond body\n.\n"));
    EXPECT_TRUE(mergeStagedArchives(context()));
    const std::string both = readFile(band4() + today(".txt"));
    EXPECT_EQ(both.substr(0, first.size()), first) << "a later session appends";
    EXPECT_NE(both.find("second body"), std::string::npos);
}

// A folder given without a leading "/" is the data folder's, whatever
// folder the program runs in; an empty one is the default.
TEST_F(BandActions, ARelativeArchiveFolderIsTheDataFoldersAndAnEmptyOneTheDefault)
{
    CRegistry reg;
    ASSERT_TRUE(reg.CreateKey(eRegUser, "quilfpro", "/", true));
    const std::string relative = programContext().dataRoot + "/test-archive/relative/";
    for (const auto& [value, folder] : {std::pair<std::string, std::string>{"test-archive/relative", relative},
                                        {"", programContext().dataRoot + "/archive/rating4/"}}) {
        SCOPED_TRACE("ArchivePath4 \"" + value + "\"");
        reg.SetValue("ArchivePath4", value.c_str());
        std::filesystem::remove_all(folder);
        judgeInBandFour(kMessage);
        EXPECT_TRUE(mergeStagedArchives(context()));
        EXPECT_TRUE(std::filesystem::exists(folder + today(".txt")));
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "test-archive"));
}

TEST_F(BandActions, AnUnmarkedCopyGetsTheDecisionBlock)
{
    setting("Subject4", 0);
    judgeInBandFour(kMessage);
    ASSERT_EQ(stagingFiles().size(), 1u);
    EXPECT_EQ(stagedCopies(stagingFiles()[0]),
              std::vector<std::string>{crlf(
                  "Received: from relay\nFrom: Sender <sender@example.org>\nSubject: Hello\nTo: me@example.net\n"
                  "X-Quillfence-Pro: Rule 'Seventy' detected spam from Sender <sender@example.org>, rating total 7.0\n"
                  "\twhy\n\nBody line\n..stuffed\n.\n")});
    EXPECT_EQ(readFile(m_path), kMessage) << "the delivered message unchanged";
}

TEST_F(BandActions, AStagingFileThatCannotBeMergedIsKeptForTheAccountsNextSession)
{
    context().archiveAccount = "me@mail.example.dat";
    context().archiveKey = "uid-1";
    judgeInBandFour(kMessage);
    // The day file's name is taken by a folder: the append fails.
    std::filesystem::create_directory(band4() + today(".txt"));
    EXPECT_FALSE(mergeStagedArchives(context()));
    m_registration.reset();
    m_context.reset();   // the session ends: its file is a leftover now
    ASSERT_EQ(stagingFiles().size(), 1u) << "kept for the next session";
    std::filesystem::remove(band4() + today(".txt"));

    const auto never = [](const std::string&) { return false; };
    mergeLeftoverArchives("other@mail.example.dat", never);
    EXPECT_EQ(stagingFiles().size(), 1u) << "another account's session leaves it alone";
    mergeLeftoverArchives("me@mail.example.dat", never);
    EXPECT_TRUE(stagingFiles().empty());
    EXPECT_NE(readFile(band4() + today(".txt")).find("Body line"), std::string::npos);
}

TEST_F(BandActions, ALeftoverCopyOfAMessageJudgedAgainIsDroppedAndTheRestMergedOnce)
{
    context().archiveAccount = "me@mail.example.dat";
    for (const char* key : {"kept-on-server", "gone-from-server"}) {
        context().archiveKey = key;
        judgeInBandFour(crlf(std::string("Subject: ") + key + "\n\nbody of " + key + "\n.\n"));
    }
    // A session that holds its file: never taken for a leftover.
    mergeLeftoverArchives("me@mail.example.dat", [](const std::string&) { return false; });
    EXPECT_EQ(stagingFiles().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(band4() + today(".txt")));

    m_registration.reset();
    m_context.reset();   // killed before its QUIT was confirmed
    std::vector<std::string> asked;
    mergeLeftoverArchives("me@mail.example.dat", [&](const std::string& key) {
        asked.push_back(key);
        return key == "kept-on-server";
    });
    EXPECT_EQ(asked, (std::vector<std::string>{"kept-on-server", "gone-from-server"}));
    const std::string day = readFile(band4() + today(".txt"));
    EXPECT_EQ(day.find("body of kept-on-server"), std::string::npos) << "archived again by the session judging it";
    EXPECT_NE(day.find("body of gone-from-server"), std::string::npos) << day;
    EXPECT_TRUE(stagingFiles().empty());
    mergeLeftoverArchives("me@mail.example.dat", [](const std::string&) { return false; });
    EXPECT_EQ(readFile(band4() + today(".txt")), day) << "merged once";
}

// A merge that a crash cut off part-way: the copies it had appended are
// found by the offset it noted, and the day file holds each copy once.
// Once begun, a merge takes every copy: none is dropped then.
TEST_F(BandActions, AMergeCutShortByACrashIsCompletedWithoutDoubling)
{
    const std::string earlier = crlf("Subject: earlier\n\nearlier body\n.\n");
    for (const bool appendedAll : {false, true}) {
        SCOPED_TRACE(appendedAll ? "the crash came after the whole copy" : "the crash came mid-copy");
        std::filesystem::remove_all(archiveRoot());
        context().archiveAccount = "me@mail.example.dat";
        context().archiveKey = "uid-1";
        judgeInBandFour(kMessage);
        const std::string staging = stagingFiles().at(0);
        const std::string copy = stagedCopies(staging).at(0);
        m_registration.reset();
        m_context.reset();
        writeFile(band4() + today(".txt"), earlier + (appendedAll ? copy : copy.substr(0, copy.size() / 2)));
        appendFile(staging, "QFMERGE " + std::to_string(earlier.size()) + "\r\n");

        // Any account's session finishes it, before it appends anything.
        mergeLeftoverArchives("someone.else@mail.example.dat", [](const std::string&) { return true; });
        EXPECT_TRUE(readFile(band4() + today(".txt")) == earlier + copy);
        EXPECT_TRUE(stagingFiles().empty());
    }
}

// RLIMIT_FSIZE stands in for a full disk: a write past limit bytes of a
// file fails (EFBIG) part-way, as one on a full file system would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        m_signal = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        struct rlimit low = m_saved;
        low.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &low);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_signal);
    }

private:
    struct rlimit m_saved {};
    void (*m_signal)(int);
};

TEST_F(BandActions, AMessageWithoutAWholeArchiveCopyIsNotDeletedAndTheReportSaysSo)
{
    setting("AllowThrough4", 0);
    const std::string big = crlf("Subject: first\n\n" + std::string(4000, 'x') + "\n.\n");
    judgeInBandFour(big);
    EXPECT_FALSE(context().notices.size()) << "a whole copy: deleted";
    const std::string staging = stagingFiles().at(0);
    const size_t before = std::filesystem::file_size(staging);
    {
        const FileSizeLimit full(before + 60);
        EXPECT_TRUE(judge(kMessage)) << "the copy could not be written whole: not deleted";
    }
    EXPECT_EQ(std::filesystem::file_size(staging), before) << "what was written of the copy went again";
    ASSERT_EQ(context().notices.size(), 1u);
    EXPECT_NE(context().notices[0].find("From: Sender <sender@example.org>\n"), std::string::npos);
    EXPECT_NE(context().notices[0].find("Not deleted"), std::string::npos);

    m_session.refusesWhole = true;   // TOP works, RETR is refused
    EXPECT_TRUE(judge(kMessage, true)) << "only the header could be had: not deleted";
    EXPECT_TRUE(context().keptUnarchived);
    EXPECT_EQ(context().notices.size(), 2u);
    m_session.refusesWhole = false;
    EXPECT_FALSE(judge(kMessage, true)) << "fetched whole: deleted";
    EXPECT_FALSE(context().keptUnarchived);

    EXPECT_TRUE(mergeStagedArchives(context()));
    std::vector<std::string> days;
    splitArchive(readFile(band4() + today(".txt")), [&](const std::string& text) { days.push_back(text); });
    ASSERT_EQ(days.size(), 2u) << "the first copy and the last: no copy cut short, no header alone";
    EXPECT_NE(days[0].find(std::string(4000, 'x')), std::string::npos);
    EXPECT_NE(days[1].find("Body line"), std::string::npos);
}

TEST_F(BandActions, AMergeThatFailsPartWayLeavesTheDayFileAsItWas)
{
    // A day file larger than the staging file: the merge fails in the
    // day file, past the first copy.
    const std::string earlier = crlf("Subject: earlier\n\n" + std::string(20000, 'e') + "\n.\n");
    std::filesystem::create_directories(band4());
    writeFile(band4() + today(".txt"), earlier);
    context().archiveAccount = "me@mail.example.dat";
    judgeInBandFour(crlf("Subject: one\n\n" + std::string(3000, 'q') + "\n.\n"));
    judgeInBandFour(crlf("Subject: two\n\n" + std::string(3000, 'z') + "\n.\n"));
    {
        const FileSizeLimit full(earlier.size() + 4000);   // room for one copy, not both
        EXPECT_FALSE(mergeStagedArchives(context()));
    }
    EXPECT_TRUE(readFile(band4() + today(".txt")) == earlier) << "no copy, and no part of one";
    m_registration.reset();
    m_context.reset();
    mergeLeftoverArchives("me@mail.example.dat", [](const std::string&) { return false; });
    const std::string day = readFile(band4() + today(".txt"));
    EXPECT_EQ(std::count(day.begin(), day.end(), 'q'), 3000);
    EXPECT_EQ(std::count(day.begin(), day.end(), 'z'), 3000);
    EXPECT_TRUE(stagingFiles().empty());
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
