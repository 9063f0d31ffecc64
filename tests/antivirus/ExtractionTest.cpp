// Blocks inside bodies on real spooled messages: BinHex 4.0 blocks in text
// (built here with a correct header and check values, run-length encoded or
// not) and MS TNEF blocks (winmail.dat) with several components; what the
// rewritten message holds, the run report, quarantine, and hostile names.
#include "antivirus/MessageWalk.h"
#include "antivirus/VirusScanner.h"

#include "ScannerFixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <sstream>
#include <utility>
#include <vector>

namespace {

using namespace avtest;

// CRC-16 with polynomial 0x1021 and start 0: BinHex's check value.
uint16_t binhexCrc(const std::string& data)
{
    uint16_t crc = 0;
    for (unsigned char byte : data) {
        crc ^= static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::string bigEndian(uint32_t value, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// The marker line and the BinHex 4.0 text of a file with the given name and
// data fork (no resource fork).  compress: runs of three to 255 equal bytes
// become the byte, 0x90 and the count; a byte 0x90 is always "90 00".
std::string binhex(const std::string& name, const std::string& data, bool compress = false)
{
    std::string header = static_cast<char>(name.size()) + name + '\0' + "TEXTttxt" + std::string(2, '\0') +
                         bigEndian(static_cast<uint32_t>(data.size()), 4) + bigEndian(0, 4);
    std::string stream = header + bigEndian(binhexCrc(header), 2) + data + bigEndian(binhexCrc(data), 2) +
                         bigEndian(binhexCrc(""), 2);
    std::string packed;
    for (size_t at = 0; at < stream.size();) {
        const char byte = stream[at];
        size_t run = 1;
        while (compress && at + run < stream.size() && stream[at + run] == byte && run < 255)
            ++run;
        packed += byte;
        if (static_cast<unsigned char>(byte) == 0x90)
            packed += '\0';
        if (run >= 3 && static_cast<unsigned char>(byte) != 0x90) {
            packed += static_cast<char>(0x90);
            packed += static_cast<char>(run);
            at += run;
        } else {
            ++at;
        }
    }
    static const char alphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
    std::string chars;
    for (size_t at = 0; at < packed.size(); at += 3) {
        unsigned bits = 0;
        const size_t n = std::min<size_t>(3, packed.size() - at);
        for (size_t i = 0; i < 3; ++i)
            bits = (bits << 8) | (i < n ? static_cast<unsigned char>(packed[at + i]) : 0u);
        for (size_t i = 0; i < n + 1; ++i)
            chars += alphabet[(bits >> (18 - 6 * i)) & 63];
    }
    std::string text = "(This file must be converted with BinHex 4.0)\r\n\r\n";
    chars = ":" + chars + ":";
    for (size_t at = 0; at < chars.size(); at += 64)
        text += chars.substr(at, 64) + "\r\n";
    return text;
}

std::string inText(const std::string& block)
{
    return "From: s@example.org\r\nSubject: mac file\r\nContent-Type: text/plain\r\n\r\n"
           "here it is\r\n" + block + "bye\r\n.\r\n";
}

std::string littleEndian(uint32_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string tnefAttribute(int level, uint32_t id, const std::string& data)
{
    unsigned sum = 0;
    for (unsigned char byte : data)
        sum += byte;
    return static_cast<char>(level) + littleEndian(id, 4) + littleEndian(static_cast<uint32_t>(data.size()), 4) +
           data + littleEndian(sum & 0xFFFF, 2);
}

// A TNEF block: signature, key, the message class, then per component its
// rendering, title and data.
std::string tnef(const std::vector<std::pair<std::string, std::string>>& components)
{
    std::string block = std::string("\x78\x9F\x3E\x22", 4) + "\x01\x23";
    block += tnefAttribute(1, 0x00078008, std::string("IPM.Microsoft Mail.Note") + '\0');
    for (const auto& [title, data] : components) {
        block += tnefAttribute(2, 0x00069002, std::string(14, '\x01'));
        block += tnefAttribute(2, 0x00018010, title + '\0');
        block += tnefAttribute(2, 0x0006800F, data);
    }
    return block;
}

std::string tnefNotice(const std::string& block, const std::string& details, const std::string& quarantined = "")
{
    return "Content-Type: text/plain; charset=us-ascii;\r\n"
           "\tname=\"Removed Attachment (" + block + ").txt\"\r\n"
           "Content-Transfer-Encoding: 7bit\r\n"
           "Content-Disposition: attachment;\r\n"
           "\tfilename=\"Removed Attachment (" + block + ").txt\"\r\n"
           "\r\n"
           "ALERT - Quillfence Pro Virus Scanner - ALERT\r\n\r\n"
           "Microsoft TNEF block \"" + block + "\" has been removed due to the following virus issues\r\n"
           "found in encapsulated attachments:\r\n\r\n" + details + "\r\n" +
           (quarantined.empty() ? "" : "The block has been quarantined as \"" + quarantined + "\".\r\n");
}

const std::string kClean = "an ordinary document\r\nwith two lines\r\n";

class Extraction : public Scanner
{
protected:
    // A stub sweep that lists every file it is given in <m_dir>/scanned and
    // finds exactly the EICAR file infected.
    std::unique_ptr<VirusScanner> listingSweep()
    {
        const std::string folder = m_dir / "sweep";
        fs::create_directories(folder);
        writeFile(m_dir / "eicar", kEicar);
        writeFile(folder + "/sweep", "#!/bin/sh\n"
                                     "for last in \"$@\"; do :; done\n"
                                     "printf '%s\\n' \"$last\" >> '" + (m_dir / "scanned") + "'\n"
                                     "if cmp -s \"$last\" '" + (m_dir / "eicar") + "'; then\n"
                                     "  echo \">>> Virus 'Stub-Eicar' found\"; exit 3\n"
                                     "fi\n"
                                     "exit 0\n");
        fs::permissions(folder + "/sweep", fs::perms::owner_all);
        auto scanner = std::make_unique<VirusScanner>();
        scanner->engine = 1;
        scanner->sweepPath = folder;
        return scanner;
    }

    std::vector<std::string> stateFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(stateFolder()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(Extraction, AnInfectedBinHexBlockBecomesTheNoticeInItsPlace)
{
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "run-length encoded" : "plain");
        auto scanner = clam();
        bool clean = true;
        const std::string out = scanned(*scanner, inText(binhex("eicar.com", kEicar, compress)), clean);
        EXPECT_FALSE(clean);
        EXPECT_EQ(out, "From: s@example.org\r\nSubject: mac file\r\nContent-Type: text/plain\r\n\r\nhere it is\r\n" +
                           notice("eicar.com", "Quillfence-Test-Eicar.UNOFFICIAL") + "bye\r\n.\r\n");
        EXPECT_EQ(readFile(stateFolder() + "/infection.txt"),
                  "The virus scanner found the following issues:\n\n"
                  "\tAttachment \"eicar.com\" contains Quillfence-Test-Eicar.UNOFFICIAL virus\n");
        EXPECT_EQ(stateFiles(), std::vector<std::string>({"infection.txt", "msg00001.msg"}));
    }
}

TEST_F(Extraction, ACleanBinHexBlockStaysByteForByteAndItsForkIsTheFile)
{
    // Runs long enough to be compressed, and the byte 0x90 itself.
    const std::string data = std::string(300, 'A') + "\x90\x90\x90 mid " + std::string(7, '\0') + "end";
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "run-length encoded" : "plain");
        for (const auto& entry : fs::directory_iterator(stateFolder()))
            fs::remove_all(entry.path());
        auto scanner = clam();
        scanner->leaveWorkfile = true;
        bool clean = false;
        const std::string message = inText(binhex("notes.txt", data, compress));
        EXPECT_EQ(scanned(*scanner, message, clean), message);
        EXPECT_TRUE(clean);
        EXPECT_EQ(readFile(stateFolder() + "/notes.txt"), data) << "the data fork, expanded";
    }
}

TEST_F(Extraction, ABinHexBlockInAnExtractedBodyAppearsOnce)
{
    auto scanner = clam();
    const std::string block = binhex("fine.bin", kClean);
    const std::string message = "Subject: mac\r\nContent-Type: multipart/mixed; boundary=\"M\"\r\n\r\n"
                                "--M\r\nContent-Type: application/mac-binhex40; name=\"fine.hqx\"\r\n\r\n" + block +
                                "--M--\r\n.\r\n";
    bool clean = false;
    EXPECT_EQ(scanned(*scanner, message, clean), message);
    EXPECT_TRUE(clean);
    // Text comes first: ClamAV decodes a file that begins with the marker
    // itself, and would replace the whole part.
    const std::string infected = "Subject: mac\r\nContent-Type: multipart/mixed; boundary=\"M\"\r\n\r\n"
                                 "--M\r\nContent-Type: application/mac-binhex40; name=\"x.hqx\"\r\n\r\n"
                                 "the file:\r\n" + binhex("x.com", kEicar) + "--M--\r\n.\r\n";
    const std::string out = scanned(*scanner, infected, clean);
    EXPECT_FALSE(clean);
    EXPECT_EQ(out, "Subject: mac\r\nContent-Type: multipart/mixed; boundary=\"M\"\r\n\r\n"
                   "--M\r\nContent-Type: application/mac-binhex40; name=\"x.hqx\"\r\n\r\nthe file:\r\n" +
                       notice("x.com", "Quillfence-Test-Eicar.UNOFFICIAL") + "--M--\r\n.\r\n");
}

TEST_F(Extraction, ABinHexMarkerWithoutAReadableHeaderIsText)
{
    auto scanner = clam();
    const std::string full = binhex("x.com", kEicar);
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"no data", "(This file must be converted with BinHex 4.0)\r\nsomething else\r\n"},
        {"data too short for the header", "(This file must be converted with BinHex 4.0)\r\n:#!!!:\r\n"},
        {"the block cut by the end line", full.substr(0, full.find(':') + 10) + "\r\n"},
        {"marker alone", "(THIS FILE MUST BE CONVERTED WITH BINHEX 4.0)\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool clean = false;
        const std::string message = inText(c.text);
        EXPECT_EQ(scanned(*scanner, message, clean), message);
        EXPECT_TRUE(clean);
        EXPECT_EQ(stateFiles(), std::vector<std::string>({"msg00001.msg"})) << "no work file";
    }
}

TEST_F(Extraction, HostileBinHexNamesStayInTheirFolder)
{
    const struct {
        std::string name;
        std::string file;
    } cases[] = {
        {"../../qf-escaped", "qf-escaped"},
        {"a/b", "b"},
        {std::string(255, 'n'), std::string(MessageWalk::kMaxName, 'n')},
        {std::string("bad\r\nname"), "bad__name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.substr(0, 20));
        const std::string quarantine = m_dir / "quarantine";
        fs::remove_all(quarantine);
        auto scanner = clam();
        scanner->quarantine = true;
        scanner->quarantinePath = quarantine;
        bool clean = true;
        const std::string out = scanned(*scanner, inText(binhex(c.name, kEicar)), clean);
        EXPECT_NE(out.find(notice(c.file, "Quillfence-Test-Eicar.UNOFFICIAL", c.file + "_001")), std::string::npos)
            << out;
        std::vector<std::string> kept;
        for (const auto& entry : fs::directory_iterator(quarantine))
            kept.push_back(entry.path().filename());
        EXPECT_EQ(kept, std::vector<std::string>({c.file + "_001"}));
        EXPECT_EQ(readFile(quarantine + "/" + c.file + "_001"), kEicar);
        EXPECT_FALSE(fs::exists(m_dir / "../qf-escaped"));
        EXPECT_FALSE(fs::exists(programContext().dataRoot + "/../qf-escaped"));
    }
}

std::string withTnef(const std::string& block)
{
    return "From: Sender <s@example.org>\r\nSubject: from outlook\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"T\"\r\n\r\n"
           "--T\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
           "--T\r\nContent-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" + base64(block) + "\r\n--T--\r\n.\r\n";
}

const std::string kTnefBefore = "From: Sender <s@example.org>\r\nSubject: from outlook\r\nMIME-Version: 1.0\r\n"
                                "Content-Type: multipart/mixed; boundary=\"T\"\r\n\r\n"
                                "--T\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n--T\r\n";

TEST_F(Extraction, ATnefBlockWithAnInfectedComponentBecomesOneNotice)
{
    const std::string block = tnef({{"letter.doc", kClean}, {"eicar.com", kEicar}});
    auto scanner = clam();
    // The engine itself does not look into this block: what is found is
    // found by the walk's own reader.
    writeFile(m_dir / "winmail.dat", block);
    ASSERT_EQ(scanner->judgeFile(m_dir / "winmail.dat").kind, EngineVerdict::Clean);

    bool clean = true;
    std::string out = scanned(*scanner, withTnef(block), clean);
    EXPECT_FALSE(clean);
    EXPECT_EQ(out, kTnefBefore +
                       tnefNotice("winmail.dat", "\tQuillfence-Test-Eicar.UNOFFICIAL (in component eicar.com)\r\n") +
                       "--T--\r\n.\r\n");
    EXPECT_EQ(readFile(stateFolder() + "/infection.txt"),
              "The virus scanner found the following issues:\n\n"
              "\tMicrosoft TNEF block \"winmail.dat\" contains Quillfence-Test-Eicar.UNOFFICIAL virus in component "
              "eicar.com\n");
    EXPECT_EQ(stateFiles(), std::vector<std::string>({"infection.txt", "msg00001.msg"}))
        << "block and component work files are gone";

    // Quarantine keeps the whole block.
    scanner->quarantine = true;
    scanner->quarantinePath = m_dir / "quarantine";
    out = scanned(*scanner, withTnef(block), clean);
    EXPECT_NE(out.find(tnefNotice("winmail.dat", "\tQuillfence-Test-Eicar.UNOFFICIAL (in component eicar.com)\r\n",
                                  "winmail.dat_001")),
              std::string::npos)
        << out;
    EXPECT_EQ(readFile(m_dir / "quarantine/winmail.dat_001"), block);
}

TEST_F(Extraction, EveryBadComponentIsListedAndCleanBlocksStay)
{
    auto scanner = clam();
    bool clean = false;
    const std::string fine = withTnef(tnef({{"a.txt", kClean}, {"b.txt", "more\r\n"}}));
    EXPECT_EQ(scanned(*scanner, fine, clean), fine);
    EXPECT_TRUE(clean);
    EXPECT_EQ(stateFiles(), std::vector<std::string>({"msg00001.msg"}));

    const std::string out =
        scanned(*scanner, withTnef(tnef({{"one.com", kEicar}, {"a.txt", kClean}, {"two.com", kEicar}})), clean);
    EXPECT_FALSE(clean);
    EXPECT_EQ(out, kTnefBefore +
                       tnefNotice("winmail.dat", "\tQuillfence-Test-Eicar.UNOFFICIAL (in component one.com)\r\n"
                                                 "\tQuillfence-Test-Eicar.UNOFFICIAL (in component two.com)\r\n") +
                       "--T--\r\n.\r\n");
}

TEST_F(Extraction, ATruncatedTnefBlockGetsTheErrorNotice)
{
    const std::string block = tnef({{"letter.doc", kClean}, {"eicar.com", kEicar}});
    const std::string clean2 = tnef({{"letter.doc", kClean}});
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"inside the key", block.substr(0, 5)},
        {"inside an identifier", block.substr(0, 8)},
        {"inside the last data", block.substr(0, block.size() - 20)},
        {"without the last check value", block.substr(0, block.size() - 1)},
        {"a length past the end", clean2.substr(0, clean2.size() - kClean.size() - 6) +
                                      littleEndian(0xFFFFFFF0u, 4) + kClean + "\0\0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& entry : fs::directory_iterator(stateFolder()))
            fs::remove_all(entry.path());
        auto scanner = clam();
        bool clean = true;
        const std::string out = scanned(*scanner, withTnef(c.text), clean);
        EXPECT_FALSE(clean);
        EXPECT_EQ(out, kTnefBefore +
                           "Content-Type: text/plain; charset=us-ascii;\r\n"
                           "\tname=\"Removed Attachment (winmail.dat).txt\"\r\n"
                           "Content-Transfer-Encoding: 7bit\r\n"
                           "Content-Disposition: attachment;\r\n"
                           "\tfilename=\"Removed Attachment (winmail.dat).txt\"\r\n"
                           "\r\n"
                           "ALERT - Quillfence Pro Virus Scanner - ALERT\r\n\r\n"
                           "Attachment \"winmail.dat\" has been quarantined as a precaution due to internal error " +
                           std::to_string(MessageWalk::kTnefUnreadable) +
                           " during scanning.\r\n\r\n"
                           "The attachment has been quarantined as \"winmail.dat_001\".\r\n"
                           "--T--\r\n.\r\n");
        EXPECT_EQ(readFile(stateFolder() + "/winmail.dat_001"), c.text) << "the block is kept";
        EXPECT_EQ(stateFiles(), std::vector<std::string>({"infection.txt", "msg00001.msg", "winmail.dat_001"}));
    }
}

TEST_F(Extraction, HostileTnefTitlesStayInTheirFolder)
{
    auto scanner = listingSweep();
    const std::string longName(10000, 'n');
    bool clean = true;
    const std::string out =
        scanned(*scanner, withTnef(tnef({{"../../x", kEicar}, {longName, kEicar}, {"a/b", kEicar}, {"", kClean}})),
                clean);
    EXPECT_FALSE(clean);
    const std::string cut(MessageWalk::kMaxName, 'n');
    EXPECT_EQ(out, kTnefBefore +
                       tnefNotice("winmail.dat", "\tStub-Eicar (in component x)\r\n"
                                                 "\tStub-Eicar (in component " + cut + ")\r\n"
                                                 "\tStub-Eicar (in component b)\r\n") +
                       "--T--\r\n.\r\n");
    // Every file the engine was given: the block, then each component,
    // all in the state folder under their cleaned names.
    std::vector<std::string> scannedFiles;
    std::istringstream list(readFile(m_dir / "scanned"));
    for (std::string line; std::getline(list, line);)
        scannedFiles.push_back(line);
    EXPECT_EQ(scannedFiles, std::vector<std::string>({stateFolder() + "/winmail.dat", stateFolder() + "/x",
                                                      stateFolder() + "/" + cut, stateFolder() + "/b",
                                                      stateFolder() + "/unnamed.att"}));
    EXPECT_EQ(stateFiles(), std::vector<std::string>({"infection.txt", "msg00001.msg", "scan.txt"}));
    EXPECT_FALSE(fs::exists(programContext().dataRoot + "/../x"));
}

} // namespace
