// What the virus scanner's tests share: the EICAR test file, spooled
// messages with an attachment, the notice part as it must read, and a
// fixture with ClamAV on a database of the test's own (the EICAR file's
// MD5) that spools a message and scans it.
#pragma once

#include "antivirus/VirusScanner.h"

#include "common/Base64.h"
#include "common/ProgramContext.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace avtest {

namespace fs = std::filesystem;

// The EICAR anti-virus test file: harmless, and known to every engine.
inline const std::string kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

inline std::string base64(const std::string& data)
{
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    MimeEncodeStr(data.c_str(), out.data(), static_cast<int>(data.size()));
    out.resize(std::strlen(out.c_str()));
    return out;
}

inline std::string stateFolder() { return programContext().dataRoot + "/state"; }

// A message with a text part and an attachment of the given name and
// content, as spooled (CR LF, the end line).
inline std::string withAttachment(const std::string& name, const std::string& content)
{
    return "From: Sender <s@example.org>\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"BND\"\r\n\r\n"
           "preamble\r\n--BND\r\nContent-Type: text/plain\r\n\r\nHello there\r\n"
           "--BND\r\nContent-Type: application/octet-stream; name=\"" + name + "\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n" +
           base64(content) + "\r\n--BND--\r\nepilogue\r\n.\r\n";
}

inline std::string notice(const std::string& file, const std::string& virus, const std::string& quarantined = "")
{
    return "Content-Type: text/plain; charset=us-ascii;\r\n"
           "\tname=\"Removed Attachment (" + file + ").txt\"\r\n"
           "Content-Transfer-Encoding: 7bit\r\n"
           "Content-Disposition: attachment;\r\n"
           "\tfilename=\"Removed Attachment (" + file + ").txt\"\r\n"
           "\r\n"
           "ALERT - Quillfence Pro Virus Scanner - ALERT\r\n\r\n"
           "Attachment \"" + file + "\" has been removed due to the following types\r\nof virus being found:\r\n\r\n"
           "\t" + virus + "\r\n\r\n" +
           (quarantined.empty() ? "" : "The attachment has been quarantined as \"" + quarantined + "\".\r\n");
}

class Scanner : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const auto& entry : fs::directory_iterator(stateFolder()))
            fs::remove_all(entry.path());
        fs::create_directories(m_dir / "db");
        writeFile(m_dir / "db/test.hdb", "44d88612fea8a8f36de82e1278abb02f:68:Quillfence-Test-Eicar\n");
    }

    // A scanner on ClamAV with the test database.
    std::unique_ptr<VirusScanner> clam()
    {
        auto scanner = std::make_unique<VirusScanner>();
        scanner->engine = 0;
        scanner->clamDatabase = m_dir / "db";
        return scanner;
    }

    // Spools text, scans it; the spool afterwards (replaced when infected).
    std::string scanned(VirusScanner& scanner, const std::string& text, bool& clean)
    {
        const std::string spool = stateFolder() + "/msg00001.msg";
        writeFile(spool, text);
        clean = scanner.scanMessage(spool);
        scanner.replaceSpooledMessage(spool);
        return readFile(spool);
    }

    TempDir m_dir;
};

} // namespace avtest
