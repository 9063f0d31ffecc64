// The virus scanner on real spooled messages: ClamAV's library with a tiny
// database of the test's own (the EICAR test file's MD5), a stub "sweep",
// and the general compatibility mode; the rewritten message, the notice
// part byte for byte, quarantine, names, and bounds.
#include "antivirus/MessageWalk.h"
#include "antivirus/VirusScanner.h"

#include "common/Base64.h"
#include "common/ProgramContext.h"

#include "support/TestHelpers.h"
#include "ScannerFixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using namespace avtest;

TEST_F(Scanner, AnInfectedAttachmentBecomesTheNoticeAndTheRestStays)
{
    auto scanner = clam();
    bool clean = true;
    const std::string message = withAttachment("x.exe", kEicar);
    const std::string out = scanned(*scanner, message, clean);
    EXPECT_FALSE(clean);
    const std::string attachmentStart = "--BND\r\nContent-Type: application/octet-stream";
    const std::string before = message.substr(0, message.find(attachmentStart) + 7);
    EXPECT_EQ(out, before + notice("x.exe", "Quillfence-Test-Eicar.UNOFFICIAL") + "--BND--\r\nepilogue\r\n.\r\n");
    EXPECT_EQ(readFile(stateFolder() + "/infection.txt"),
              "The virus scanner found the following issues:\n\n"
              "\tAttachment \"x.exe\" contains Quillfence-Test-Eicar.UNOFFICIAL virus\n");
    EXPECT_FALSE(fs::exists(stateFolder() + "/x.exe")) << "the work file is deleted without quarantine";
}

// The walk ends a header where the rules' parser does: a line without a
// colon, or of blanks alone, within the header must not hide the parts the
// rules see from the scan.
TEST_F(Scanner, ALineWithoutAColonOrOfBlanksInTheHeaderHidesNoAttachment)
{
    for (const char* odd : {"this line has no colon\r\n", " \t\r\n"}) {
        std::string message = withAttachment("x.exe", kEicar);
        message.insert(message.find("Subject:"), odd);
        auto scanner = clam();
        bool clean = true;
        const std::string out = scanned(*scanner, message, clean);
        EXPECT_FALSE(clean) << odd;
        const std::string before = message.substr(0, message.find("--BND\r\nContent-Type: application") + 7);
        EXPECT_EQ(out, before + notice("x.exe", "Quillfence-Test-Eicar.UNOFFICIAL") + "--BND--\r\nepilogue\r\n.\r\n")
            << "the rest stays as it was";
    }
}

TEST_F(Scanner, ACleanMessageStaysAsItWas)
{
    auto scanner = clam();
    bool clean = false;
    const std::string message = withAttachment("report.pdf", "just a harmless file\n");
    EXPECT_EQ(scanned(*scanner, message, clean), message);
    EXPECT_TRUE(clean);
    EXPECT_TRUE(scanner->workfilePath().empty());
    for (const auto& entry : fs::directory_iterator(stateFolder()))
        EXPECT_EQ(entry.path().filename(), "msg00001.msg") << "no work file left behind";
}

TEST_F(Scanner, QuarantineKeepsTheFilePrivateUnderANewName)
{
    auto scanner = clam();
    scanner->quarantine = true;
    scanner->quarantinePath = m_dir / "quarantine";
    bool clean = true;
    const std::string out = scanned(*scanner, withAttachment("x.exe", kEicar), clean);
    EXPECT_NE(out.find(notice("x.exe", "Quillfence-Test-Eicar.UNOFFICIAL", "x.exe_001")), std::string::npos) << out;
    const std::string kept = m_dir / "quarantine/x.exe_001";
    ASSERT_TRUE(fs::exists(kept));
    EXPECT_EQ(readFile(kept), kEicar);
    struct stat st {};
    ::stat(kept.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::stat((m_dir / "quarantine").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(Scanner, AttachmentNamesStayInTheirFolder)
{
    const struct {
        std::string name;
        std::string file;
    } cases[] = {
        {"a:b?.exe", "a_b_.exe"},
        {"../../x", "x"},
        {"sub/dir/y.com", "y.com"},
        {"..", "unnamed.att"},
        {"", "unnamed.att"},
        {".hidden", "_hidden"},
        {std::string(10000, 'n') + ".exe", std::string(MessageWalk::kMaxName, 'n')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40));
        EXPECT_EQ(MessageWalk::cleanName(c.name), c.file);
    }
    auto scanner = clam();
    bool clean = true;
    const std::string out = scanned(*scanner, withAttachment("../../evil.exe", kEicar), clean);
    EXPECT_NE(out.find("Removed Attachment (evil.exe).txt"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(programContext().dataRoot + "/../evil.exe"));
}

TEST_F(Scanner, PlainTextIsNotExtractedButItsUuencodedBlockIs)
{
    auto scanner = clam();
    // "begin 644 eicar.com" and the EICAR file uuencoded.
    std::string block = "begin 644 eicar.com\r\n";
    for (size_t at = 0; at < kEicar.size(); at += 45) {
        const std::string chunk = kEicar.substr(at, 45);
        std::string line(1, static_cast<char>(32 + chunk.size()));
        for (size_t i = 0; i < chunk.size(); i += 3) {
            unsigned b[3] = {0, 0, 0};
            for (size_t j = 0; j < 3 && i + j < chunk.size(); ++j)
                b[j] = static_cast<unsigned char>(chunk[i + j]);
            const unsigned v[4] = {b[0] >> 2u, ((b[0] & 3u) << 4u) | (b[1] >> 4u), ((b[1] & 15u) << 2u) | (b[2] >> 6u),
                                   b[2] & 63u};
            for (unsigned x : v)
                line += static_cast<char>(x == 0 ? '`' : 32 + x);
        }
        block += line + "\r\n";
    }
    block += "`\r\nend\r\n";
    const std::string message = "Subject: uu\r\nContent-Type: text/plain\r\n\r\nsee below\r\n" + block + "bye\r\n.\r\n";
    bool clean = true;
    const std::string out = scanned(*scanner, message, clean);
    EXPECT_FALSE(clean);
    EXPECT_EQ(out.find("begin 644"), std::string::npos) << "the block is gone";
    EXPECT_EQ(out.find("see below\r\n"), out.find("\r\n\r\n") + 4) << "the text before it stays";
    EXPECT_NE(out.find("Removed Attachment (eicar.com).txt"), std::string::npos);
    EXPECT_NE(out.find("bye\r\n.\r\n"), std::string::npos) << "and the text after it";
}

TEST_F(Scanner, ASinglePartInfectedMessageKeepsItsHeaderAboveTheNotice)
{
    auto scanner = clam();
    // Its own fields stay, folded ones whole; the content fields are the notice's.
    const std::string own = "Return-Path: <s@example.org>\r\nFrom: Sender <s@example.org>\r\n"
                            "Subject: bare\r\n\tand folded\r\nDate: Sat, 05 Jul 2003 09:51:33 +0100\r\n"
                            "Message-ID: <1@example.org>\r\nMIME-Version: 1.0\r\n";
    const std::string message = "Return-Path: <s@example.org>\r\nFrom: Sender <s@example.org>\r\n"
                                "Subject: bare\r\n\tand folded\r\nDate: Sat, 05 Jul 2003 09:51:33 +0100\r\n"
                                "Content-Type: application/octet-stream; name=\"x.exe\"\r\n"
                                "Message-ID: <1@example.org>\r\nContent-Transfer-Encoding: base64\r\n"
                                "MIME-Version: 1.0\r\ncontent-disposition: attachment; filename=\"x.exe\"\r\n\r\n" +
                                base64(kEicar) + "\r\n.\r\n";
    bool clean = true;
    EXPECT_EQ(scanned(*scanner, message, clean),
              own + notice("x.exe", "Quillfence-Test-Eicar.UNOFFICIAL") + ".\r\n");
    EXPECT_FALSE(clean);
}

TEST_F(Scanner, AnInfectedPartOfAMultipartIsReplacedWithoutTheMessageHeader)
{
    auto scanner = clam();
    bool clean = true;
    const std::string out = scanned(*scanner, withAttachment("x.exe", kEicar), clean);
    EXPECT_EQ(out.find("From:"), out.rfind("From:")) << "the message's header once, at the top\n" << out;
}

TEST_F(Scanner, ScanOffFindsEverythingClean)
{
    auto scanner = clam();
    scanner->scanEnabled = false;
    bool clean = false;
    const std::string message = withAttachment("x.exe", kEicar);
    EXPECT_EQ(scanned(*scanner, message, clean), message);
    EXPECT_TRUE(clean);
}

TEST_F(Scanner, WithoutADatabaseNothingIsStrippedAndNothingPassesForScanned)
{
    auto scanner = clam();
    scanner->clamDatabase = m_dir / "empty";
    fs::create_directories(scanner->clamDatabase);
    bool clean = false;
    const std::string message = withAttachment("x.exe", kEicar);
    EXPECT_EQ(scanned(*scanner, message, clean), message);
    EXPECT_TRUE(clean);
    const std::string why = "no virus signatures in " + m_dir / "empty";
    EXPECT_EQ(scanner->unscannedReasons(), std::vector<std::string>{why});
    scanned(*scanner, withAttachment("y.exe", kEicar), clean);
    ASSERT_EQ(scanner->sessionUnscanned().size(), 1u) << "one reason, however many messages";
    EXPECT_EQ(scanner->sessionUnscanned()[0].reason, why);
    EXPECT_NE(scanner->sessionUnscanned()[0].remedy.find("\"sudo freshclam\""), std::string::npos);

    // A message whose only text is plain is not an attachment to scan.
    scanned(*scanner, "From: a@example.org\r\nSubject: hi\r\n\r\nhello\r\n.\r\n", clean);
    EXPECT_TRUE(scanner->unscannedReasons().empty());
}

TEST_F(Scanner, AWorkFolderThatCannotBeWrittenLeavesTheAttachmentMarkedUnscanned)
{
    auto scanner = clam();
    // Work files go to the quarantine folder; below a plain file none can be made.
    writeFile(m_dir / "plain-file", "");
    scanner->quarantine = true;
    scanner->quarantinePath = m_dir / "plain-file/quarantine";
    bool clean = false;
    const std::string message = withAttachment("x.exe", kEicar);
    EXPECT_EQ(scanned(*scanner, message, clean), message);
    ASSERT_EQ(scanner->unscannedReasons().size(), 1u);
    EXPECT_EQ(scanner->unscannedReasons()[0],
              "no work file could be made in " + scanner->quarantinePath + " (Not a directory)");
    ASSERT_EQ(scanner->sessionUnscanned().size(), 1u);
    EXPECT_NE(scanner->sessionUnscanned()[0].remedy.find(scanner->quarantinePath), std::string::npos);
}

// Parts past the walk's depth limit are passed on as they are: a sender
// cannot hide an attachment there without the message saying so.
TEST_F(Scanner, AnAttachmentNestedPastTheDepthLimitIsMarkedUnscanned)
{
    auto scanner = clam();
    std::string message = "From: a@example.org\r\nSubject: deep\r\n";
    std::string tail;
    for (int level = 0; level < 80; ++level) {
        const std::string boundary = "b" + std::to_string(level);
        message += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--" + boundary + "\r\n";
        tail = "--" + boundary + "--\r\n" + tail;
    }
    message += "Content-Type: application/octet-stream; name=\"x.exe\"\r\n\r\n" + kEicar + "\r\n" + tail + ".\r\n";
    bool clean = false;
    scanned(*scanner, message, clean);
    EXPECT_EQ(scanner->unscannedReasons(), std::vector<std::string>{"parts nested too deeply to be looked at"});
}

TEST_F(Scanner, AMissingSweepProgramLeavesTheAttachmentMarkedUnscanned)
{
    VirusScanner scanner;
    scanner.engine = 1;
    scanner.sweepPath = m_dir / "no-sweep-here";
    bool clean = false;
    const std::string message = withAttachment("x.exe", kEicar);
    EXPECT_EQ(scanned(scanner, message, clean), message);
    EXPECT_TRUE(clean);
    EXPECT_EQ(scanner.unscannedReasons(), std::vector<std::string>{"no sweep program in " + m_dir / "no-sweep-here"});
}

TEST_F(Scanner, CompatibilityModeFindsReadableFilesClean)
{
    VirusScanner scanner;
    scanner.engine = 2;
    bool clean = false;
    const std::string message = withAttachment("x.exe", kEicar);
    EXPECT_EQ(scanned(scanner, message, clean), message);
    EXPECT_TRUE(clean);
}

TEST_F(Scanner, ASweepProgramNamesTheVirusOrRunsOutOfTime)
{
    const std::string folder = m_dir / "sweep";
    fs::create_directories(folder);
    writeFile(folder + "/sweep", "#!/bin/sh\n"
                                 "for last in \"$@\"; do :; done\n"
                                 "if grep -q EICAR \"$last\"; then echo \">>> Virus 'Stub-Eicar' found\"; exit 3; fi\n"
                                 "if grep -q SLOW \"$last\"; then sleep 5; fi\n"
                                 "exit 0\n");
    fs::permissions(folder + "/sweep", fs::perms::owner_all);
    VirusScanner scanner;
    scanner.engine = 1;
    scanner.sweepPath = folder;
    scanner.sweepTimeoutMs = 300;
    bool clean = true;
    std::string out = scanned(scanner, withAttachment("x.exe", kEicar), clean);
    EXPECT_NE(out.find(notice("x.exe", "Stub-Eicar")), std::string::npos) << out;
    out = scanned(scanner, withAttachment("slow.bin", "SLOW"), clean);
    EXPECT_FALSE(clean);
    EXPECT_NE(out.find("Attachment \"slow.bin\" has been quarantined as a precaution due to internal error 1460 "
                       "during scanning.\r\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(fs::exists(stateFolder() + "/slow.bin_001")) << "kept, as every failed scan is";
}

// The shipped sweep, on the real clamscan with the test database.
TEST_F(Scanner, TheShippedSweepRunsClamscan)
{
    ScopedEnv database("QUILLFENCE_CLAMDB", (m_dir / "db").c_str());
    VirusScanner scanner;
    scanner.engine = 1;
    scanner.sweepPath = QF_PROGRAM_DIR;
    bool clean = true;
    std::string out = scanned(scanner, withAttachment("x.exe", kEicar), clean);
    EXPECT_FALSE(clean);
    EXPECT_NE(out.find(notice("x.exe", "Quillfence-Test-Eicar.UNOFFICIAL")), std::string::npos) << out;
    const std::string message = withAttachment("fine.txt", "nothing to see\n");
    EXPECT_EQ(scanned(scanner, message, clean), message);
    EXPECT_TRUE(clean);
}

// The vendor's alert mail starts the update command, without waiting.
TEST_F(Scanner, AnAlertMailStartsTheUpdateCommand)
{
    const std::string started = m_dir / "update-ran";
    VirusScanner scanner;
    scanner.engine = 2;
    scanner.updateEnabled = true;
    scanner.updateFrom = "*@alerts.example.org";
    scanner.updateSubject = "Signature alert:*";
    scanner.updateCommand = "touch '" + started + "'";
    auto waitForIt = [&] {
        for (int i = 0; i < 250 && !fs::exists(started); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return fs::exists(started);
    };
    bool clean = false;
    scanned(scanner, "From: Team <team@alerts.example.org>\r\nSubject: Signature alert: new virus\r\n\r\nx\r\n.\r\n",
            clean);
    EXPECT_TRUE(clean);
    EXPECT_TRUE(waitForIt()) << "the command ran";
    fs::remove(started);
    scanned(scanner, "From: someone@example.org\r\nSubject: Signature alert: new virus\r\n\r\nx\r\n.\r\n", clean);
    scanner.updateEnabled = false;
    scanned(scanner, "From: Team <team@alerts.example.org>\r\nSubject: Signature alert: new virus\r\n\r\nx\r\n.\r\n",
            clean);
    // A command that would run starts at once; give it the same time.
    EXPECT_FALSE(waitForIt()) << "another sender, or updates off: nothing runs";
}

TEST_F(Scanner, FiveThousandPartsAreWalkedToTheEnd)
{
    auto scanner = clam();
    std::string message = "Subject: many\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n";
    for (int i = 0; i < 5000; ++i)
        message += "--B\r\nContent-Type: text/plain\r\n\r\npart " + std::to_string(i) + "\r\n";
    message += "--B--\r\n.\r\n";
    bool clean = false;
    EXPECT_EQ(scanned(*scanner, message, clean), message);
    EXPECT_TRUE(clean);
}

TEST_F(Scanner, AForwardedMessageStaysAnAttachedMessage)
{
    auto scanner = clam();
    const std::string inner = "From: a@b\r\nSubject: inner\r\nContent-Type: application/octet-stream; name=\"x.exe\"\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\n" + base64(kEicar) + "\r\n";
    const std::string message = "Subject: fwd\r\nContent-Type: multipart/mixed; boundary=\"F\"\r\n\r\n"
                                "--F\r\nContent-Type: message/rfc822\r\n\r\n" + inner + "--F--\r\n.\r\n";
    bool clean = true;
    const std::string out = scanned(*scanner, message, clean);
    EXPECT_FALSE(clean);
    EXPECT_NE(out.find("--F\r\nContent-Type: message/rfc822\r\n\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Removed Attachment (x.exe).txt"), std::string::npos) << out;
    EXPECT_NE(out.find("--F--\r\n.\r\n"), std::string::npos) << out;
}

} // namespace

namespace avtest {

// A header that names two content types may be read either way by a mail
// client: the whole entity goes to the engine then, whichever comes first.
TEST_F(Scanner, AnAttachmentBehindTwoContentTypesIsJudgedEitherWay)
{
    const std::string multipart = "Content-Type: multipart/mixed; boundary=\"BND\"\r\n";
    const std::string plain = "Content-Type: text/plain\r\n";
    for (const bool multipartFirst : {true, false}) {
        std::string message = withAttachment("x.exe", kEicar);
        message.replace(message.find(multipart), multipart.size(),
                        multipartFirst ? multipart + plain : plain + multipart);
        auto scanner = clam();
        bool clean = true;
        const std::string out = scanned(*scanner, message, clean);
        EXPECT_FALSE(clean) << multipartFirst;
        EXPECT_EQ(out.find(base64(kEicar)), std::string::npos) << out;
        EXPECT_NE(out.find("Subject: files\r\n"), std::string::npos) << "the message's own fields stay";
    }
}

} // namespace avtest
