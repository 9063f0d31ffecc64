// The rule functions called from real rule scripts on real spooled
// messages.  Each rule writes what it saw as detail lines and reports spam,
// so the details come back in the decision headers.
#include "FilterHarness.h"

#include "filter/SessionNotices.h"

#include "common/Base64.h"

#include <fcntl.h>

#include <cstring>

extern "C" int32_t HEADERFIELDEXISTS(const void*);
extern "C" int32_t WILDCARDMATCHBODY(const void*);
extern "C" char* HEADERFIELDVALUE(int32_t*, const void*);
extern "C" int32_t MAXWHITESPACERUN(const void*);

namespace {

class RuleFunctions : public FilterHarness
{
protected:
    // Runs body as the only rule over message; its detail lines.
    std::vector<std::string> seen(const std::string& body, const std::string& message, bool headerOnly = false)
    {
        rules(rule("Probe", 10, body + "\nisspam()"));
        loadRules();
        judge(message, headerOnly);
        std::vector<std::string> details;
        for (const std::string& line : splitLines(context().decisionHeaders))
            if (!line.empty() && line[0] == '\t')
                details.push_back(line.substr(1));
        return details;
    }
};

const std::string kPlain =
    crlf("From: \"Doe, John\" <john@example.org>\nTo: \"Doe, Jane\" <jane@example.org>, bob@example.net\n"
         "Subject: Cheap pills\nDate: Sat, 05 Jul 2003 09:51:33 +0100\n\nHello there\n.\n");

const std::string kMultipart = crlf(
    "From: a@example.org\nSubject: parts\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"\n\n"
    "preamble\n--XX\nContent-Type: text/plain\n\nfirst part\n--XX\nContent-Type: text/html\n\n<b>second</b>\n"
    "--XX--\n.\n");

TEST_F(RuleFunctions, TheAddressWalkSkipsQuotedCommas)
{
    EXPECT_EQ(seen("adddecisiondetails(\"1=\" + getfirstaddress(\"To\"))\n"
                   "adddecisiondetails(\"2=\" + getnextaddress())\n"
                   "adddecisiondetails(\"3=\" + getnextaddress())\n"
                   "adddecisiondetails(\"from=\" + getfirstaddress(\"from\"))\n"
                   "adddecisiondetails(\"none=\" + getfirstaddress(\"X-Missing\"))\n"
                   "adddecisiondetails(\"parse=\" + parseaddress(\"Name <n@x.org>\"))",
                   kPlain),
              (std::vector<std::string>{"1=jane@example.org", "2=bob@example.net", "3=", "from=john@example.org",
                                        "none=", "parse=n@x.org"}));
}

TEST_F(RuleFunctions, DatesAreCheckedAsHeadersWriteThem)
{
    const struct {
        const char* date;
        bool valid;
    } cases[] = {
        {"05 Jul 2003 09:51", true},           {"Sat, 05 Jul 2003 09:51:33 +0100", true},
        {"Sun, 05 Jul 2003 09:51:33", false},  {"05 Jul 03 09:51:33", false},
        {"05 Jul 2003", false},                {"  sat, 5 jul 2003 09:51:33", true},
        {"05 Foo 2003 09:51:33", false},       {"abc", false},
        {"05-Jul-2003 10:00:00", true},        {"", false},
    };
    std::string body;
    for (const auto& c : cases)
        body += std::string("if isvaliddate(\"") + c.date + "\") then adddecisiondetails(\"valid " + c.date +
                "\") else adddecisiondetails(\"invalid " + c.date + "\")\n";
    const auto details = seen(body, kPlain);
    ASSERT_EQ(details.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(details[i], std::string(cases[i].valid ? "valid " : "invalid ") + cases[i].date);
}

TEST_F(RuleFunctions, SegmentsAndTheirHeaders)
{
    EXPECT_EQ(seen("adddecisiondetails(\"count=\" + str(getmsgsegmentcount()))\n"
                   "if selectmsgsegment(3) then adddecisiondetails(\"3=\" + headerfieldvalue(\"Content-Type\"))\n"
                   "if not selectmsgsegment(4) then adddecisiondetails(\"no 4\")\n"
                   "if not selectmsgsegment(0) then adddecisiondetails(\"no 0\")\n"
                   "if selectmsgsegment(1) then adddecisiondetails(\"1=\" + headerfieldvalue(\"subject\"))",
                   kMultipart),
              (std::vector<std::string>{"count=3", "3=text/html", "no 4", "no 0", "1=parts"}));
    // The next rule starts on chunk 1 again.
    rules(rule("Picks", 10, "selectmsgsegment(2)\nisspam()") +
          rule("Looks", 10, "adddecisiondetails(\"type=\" + headerfieldvalue(\"content-type\"))\nisspam()"));
    loadRules();
    judge(kMultipart);
    EXPECT_NE(context().decisionHeaders.find("\ttype=multipart/mixed; boundary=\"XX\"\n"), std::string::npos);
}

TEST_F(RuleFunctions, UserMacrosAreHeaderFields)
{
    EXPECT_EQ(seen("adddecisiondetails(\"count=\" + str(getheaderfieldcount()))\n"
                   "if headerfieldexists(\"USER1\") then adddecisiondetails(\"user1 there\")\n"
                   "setusermacro(2, \"two\")\n"
                   "adddecisiondetails(\"user2=\" + headerfieldvalue(\"user2\"))\n"
                   "adddecisiondetails(\"first=\" + getheaderfieldname(1) + \": \" + getheaderfieldvalue(1))",
                   kPlain),
              (std::vector<std::string>{"count=8", "user1 there", "user2=two", "first=DATE: Sat, 05 Jul 2003 09:51:33 +0100"}));
}

TEST_F(RuleFunctions, HeaderOnlyMessagesAreFetchedOnlyForTheBody)
{
    seen("if headerfieldexists(\"subject\") then adddecisiondetails(\"header\")\n"
         "adddecisiondetails(str(countheaderwordinstances(\"CHEAP\")))",
         kPlain, true);
    EXPECT_EQ(m_session.fetches, 0) << "header rules never fetch";
    const auto details = seen("if wildcardmatchbody(\"*Hello*\") then adddecisiondetails(\"body\")\n"
                              "adddecisiondetails(str(countbodywordinstances(\"THERE\")))",
                              kPlain, true);
    EXPECT_EQ(m_session.fetches, 1) << "fetched once for all body tests";
    EXPECT_EQ(details, (std::vector<std::string>{"body", "1"}));
}

TEST_F(RuleFunctions, TextChecksNeedNoMessage)
{
    EXPECT_EQ(seen("adddecisiondetails(\"ws=\" + str(maxwhitespacerun(\"a  b\" + chr(9) + \"   c\")))\n"
                   "adddecisiondetails(\"empty=\" + str(maxwhitespacerun(\"\")))\n"
                   "if wildcardmatch(\"Hello World\", \"*world\") then adddecisiondetails(\"match\")\n"
                   "if wildcardmatchheader(\"*Cheap pills*\") then adddecisiondetails(\"header match\")\n"
                   "if wildcardmatchrawbody(\"*there*\") then adddecisiondetails(\"raw match\")\n"
                   "adddecisiondetails(\"size=\" + str(messagesize()))",
                   kPlain),
              (std::vector<std::string>{"ws=4", "empty=0", "match", "header match", "raw match",
                                        "size=" + std::to_string(kPlain.size())}));
}

TEST_F(RuleFunctions, FilesOpenedByARuleAreItsOwnNumbers)
{
    const std::string path = programContext().dataRoot + "/state/rule-file.txt";
    writeFile(path, "x");
    EXPECT_EQ(seen("integer h = fileopen(\"" + path + "\", \"r\", 0)\n"
                   "adddecisiondetails(\"h=\" + str(h))\n"
                   "adddecisiondetails(\"stranger=\" + str(fileclose(99)))\n"
                   "adddecisiondetails(\"zero=\" + str(fileclose(0)))\n"
                   "adddecisiondetails(\"close=\" + str(fileclose(h)))\n"
                   "adddecisiondetails(\"again=\" + str(fileclose(h)))\n"
                   "adddecisiondetails(\"missing=\" + str(fileopen(\"/no/such/file\", \"r\", 0)))",
                   kPlain),
              (std::vector<std::string>{"h=1", "stranger=0", "zero=0", "close=1", "again=0", "missing=0"}));
}

TEST_F(RuleFunctions, FilesLeftOpenAreClosedAfterTheMessage)
{
    const std::string path = programContext().dataRoot + "/state/left-open.txt";
    writeFile(path, "x");
    auto openDescriptors = [] {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            (void)entry;
            ++count;
        }
        return count;
    };
    // A first message opens what stays open anyway (report file, log).
    seen("adddecisiondetails(\"warm\")", kPlain);
    const int before = openDescriptors();
    seen("fileopen(\"" + path + "\", \"r\", 0)\nfileopen(\"" + path + "\", \"r\", 0)", kPlain);
    EXPECT_EQ(openDescriptors(), before) << "the rule's files are closed with its message";
}

// ClamAV chosen as the engine, with the signatures in database, for the
// length of a test.
class ClamChosen
{
public:
    explicit ClamChosen(const std::string& database)
    {
        EXPECT_TRUE(m_av.CreateKey(eRegUser, "quilfpro", "/antivirus", true));
        m_av.SetValue("Engine", 0);
        m_av.SetValue("ClamDatabase", database.c_str());
    }
    ~ClamChosen()
    {
        m_av.DeleteValue("Engine");
        m_av.DeleteValue("ClamDatabase");
    }
    ClamChosen(const ClamChosen&) = delete;
    ClamChosen& operator=(const ClamChosen&) = delete;

private:
    CRegistry m_av;
};

// The body of a multipart message of boundary "B": a text entity, then the
// EICAR test file as the attachment x.com, in base64.
std::string eicarParts()
{
    const std::string eicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
    std::string encoded(4 * ((eicar.size() + 2) / 3) + 1, '\0');
    MimeEncodeStr(eicar.c_str(), encoded.data(), static_cast<int>(eicar.size()));
    encoded.resize(std::strlen(encoded.c_str()));
    return "--B\nContent-Type: text/plain\n\nhello\n--B\n"
           "Content-Type: application/octet-stream; name=\"x.com\"\n"
           "Content-Transfer-Encoding: base64\n\n" + encoded + "\n--B--\n.\n";
}

TEST_F(RuleFunctions, IsInfectedScansAndReplacesTheAttachment)
{
    const std::string database = programContext().dataRoot + "/clamdb";
    std::filesystem::create_directories(database);
    // The EICAR test file's MD5 and size.
    writeFile(database + "/test.hdb", "44d88612fea8a8f36de82e1278abb02f:68:Quillfence-Test-Eicar\n");
    const ClamChosen clam(database);
    const std::string message =
        crlf("From: a@example.org\nSubject: file\nContent-Type: multipart/mixed; boundary=\"B\"\n\n" + eicarParts());
    EXPECT_EQ(seen("if isinfected() then adddecisiondetails(\"infected\")\n"
                   "if not isinfected() then adddecisiondetails(\"clean now\")",
                   message),
              (std::vector<std::string>{"infected", "clean now"}))
        << "after the replacement the message is clean";
    const std::string spool = readFile(m_path);
    EXPECT_EQ(spool.find("EICAR"), std::string::npos);
    EXPECT_NE(spool.find("Removed Attachment (x.com).txt"), std::string::npos) << spool;
    EXPECT_NE(spool.find("hello"), std::string::npos);
}

TEST_F(RuleFunctions, IsInfectedWithoutSignaturesSaysSoInTheMessageAndTheReport)
{
    // ClamAV chosen, its database folder empty (freshclam never ran).
    const std::string database = programContext().dataRoot + "/clamdb-empty";
    std::filesystem::create_directories(database);
    const ClamChosen clam(database);
    const std::string body = eicarParts();
    const std::string header = "From: a@example.org\nSubject: file\nContent-Type: multipart/mixed; boundary=\"B\"\n";
    // No rating: band 1, whose messages are neither marked nor rewritten.
    rules(rule("Scan", 10, "if isinfected() then adddecisiondetails(\"infected\")"));
    loadRules();
    for (int message = 1; message <= 2; ++message) {
        SCOPED_TRACE("message " + std::to_string(message));
        judge(crlf(header + "\n" + body));
        EXPECT_EQ(readFile(m_path),
                  crlf(header + "X-Quillfence-Pro: attachments not scanned: no virus signatures in " + database +
                       "\n\n" + body))
            << "delivered as it came, saying it was not scanned";
    }
    // A message without attachments needs no scan and gets no line.
    judge(crlf("From: a@example.org\nSubject: plain\n\nhello\n.\n"));
    EXPECT_EQ(readFile(m_path), crlf("From: a@example.org\nSubject: plain\n\nhello\n.\n"));

    EXPECT_TRUE(writeSessionNotices(context()));
    std::string report;
    for (const std::string& notice : context().notices)
        report += notice;
    const std::string told = "Virus scanning is inactive: no virus signatures in " + database + ".\n"
                             "Run freshclam as root (\"sudo freshclam\") to fetch the virus signatures.\n";
    const size_t at = report.find(told);
    EXPECT_NE(at, std::string::npos) << report;
    EXPECT_EQ(report.find("Virus scanning is inactive", at + 1), std::string::npos) << "once for the session";
}

TEST_F(RuleFunctions, AScannedSessionWritesNoScanningNotice)
{
    rules(rule("Plain", 10, "adddecisiondetails(\"x\")"));
    loadRules();
    judge(kPlain);
    EXPECT_FALSE(writeSessionNotices(context())) << "no scanner made, no settings set aside";
    EXPECT_EQ(readFile(m_path), kPlain);
}

TEST(RuleFunctionsAlone, WithoutAContextTheyAnswerNeutrally)
{
    // Called on a thread with no registered context (as from the main
    // thread): nothing crashes, the neutral answers come back.
    const char* name = "Subject";
    char slots[8];
    std::memcpy(slots, &name, sizeof name);
    EXPECT_EQ(HEADERFIELDEXISTS(slots), 0);
    EXPECT_EQ(WILDCARDMATCHBODY(slots), -1) << "the pattern tests answer true";
    int32_t length = 99;
    EXPECT_EQ(HEADERFIELDVALUE(&length, slots), nullptr);
    EXPECT_EQ(length, 0);
    const char* null = nullptr;
    std::memcpy(slots, &null, sizeof null);
    EXPECT_EQ(MAXWHITESPACERUN(slots), 0);
    EXPECT_EQ(WILDCARDMATCHBODY(slots), 0) << "a null text is false for every function";
}

} // namespace
