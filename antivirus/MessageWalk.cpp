#include "antivirus/MessageWalk.h"

#include "antivirus/BinHexDecoder.h"
#include "antivirus/TnefReader.h"
#include "antivirus/VirusScanner.h"

#include "analysis/BodyDecoding.h"
#include "analysis/MimeParameter.h"
#include "common/Base64.h"
#include "common/CEventLog.h"
#include "common/DotLine.h"
#include "common/ParseAddress.h"
#include "common/UUDecode.h"
#include "common/WildcardMatch.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace {

bool startsWithNoCase(const std::string& text, const char* prefix)
{
    return ::strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

bool isBlankLine(const std::string& line)
{
    return line.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The fields of a raw header block, each with its folded lines, but for the
// content fields (Content-*), which describe the body; lines that are no
// field and the empty line that ends the block are left out.
std::string fieldsBesideContent(const char* headerText)
{
    std::string kept;
    bool keeping = false;
    for (const char* line = headerText; line != nullptr && *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const size_t length = end != nullptr ? static_cast<size_t>(end - line) + 1 : std::strlen(line);
        const std::string text(line, length);
        if (text[0] == ' ' || text[0] == '\t') {
            if (keeping)
                kept += text;
        } else {
            keeping = text.find(':') != std::string::npos && !startsWithNoCase(text, "Content-");
            if (keeping)
                kept += text;
        }
        line += length;
    }
    return kept;
}

// The value of the parameter key of a header field, empty when absent.
std::string findParameter(const std::string& field, const char* key)
{
    return mimeParameter(field, key).value_or(std::string());
}

} // namespace

MessageWalk::MessageWalk(VirusScanner& scanner, FILE* in, FILE* out, const std::string& spoolPath,
                         const std::string& stateFolder)
    : m_scanner(scanner), m_in(in), m_out(out), m_spoolPath(spoolPath), m_stateFolder(stateFolder)
{}

bool MessageWalk::run()
{
    processEntity({}, 0, true);
    std::string rest;
    while (readLine(rest))
        write(rest);   // whatever follows the top entity (nothing, normally)
    return !m_failed && std::ferror(m_out) == 0;
}

std::string MessageWalk::cleanName(const std::string& name)
{
    // The last path piece only: a name never leads out of its folder.
    std::string base = name;
    const size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    std::string out;
    for (char c : base) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::strchr("\\/:*?\"<>|", c) != nullptr || u < 0x20 || u == 0x7F)
            out += '_';
        else
            out += c;
        if (out.size() == kMaxName)
            break;
    }
    if (out.empty() || out == "." || out == "..")
        return "unnamed.att";
    if (out[0] == '.')
        out[0] = '_';   // never hidden, never a parent
    return out;
}

bool MessageWalk::readLine(std::string& line)
{
    if (!m_pushedBack.empty()) {
        line = std::move(m_pushedBack.back());
        m_pushedBack.pop_back();
        return true;
    }
    line.clear();
    int c;
    while ((c = std::fgetc(m_in)) != EOF) {
        line += c == '\0' ? ' ' : static_cast<char>(c);
        if (c == '\n')
            break;
    }
    return !line.empty();
}

void MessageWalk::copyRange(long from, long to)
{
    std::fseek(m_in, from, SEEK_SET);
    m_pushedBack.clear();
    std::vector<char> buffer(8192);
    for (long left = to - from; left > 0;) {
        const size_t got = std::fread(buffer.data(), 1, std::min<size_t>(buffer.size(), static_cast<size_t>(left)), m_in);
        if (got == 0)
            break;
        std::fwrite(buffer.data(), 1, got, m_out);
        left -= static_cast<long>(got);
    }
}

void MessageWalk::unread(const std::string& line)
{
    m_pushedBack.push_back(line);
}

void MessageWalk::write(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), m_out);
}

bool MessageWalk::exemptType(const std::string& type) const
{
    std::vector<char> text(type.begin(), type.end());
    text.push_back('\0');
    for (const std::string& pattern : m_scanner.mimeTypes)
        if (WildcardMatch(text.data(), pattern.c_str()))
            return true;
    return false;
}

std::string MessageWalk::workFolder() const
{
    return m_scanner.quarantine ? m_scanner.quarantinePath : m_stateFolder;
}

MessageWalk::Ending MessageWalk::processEntity(const std::string& delimiter, int depth, bool top)
{
    const long start = std::ftell(m_in) - static_cast<long>(m_pushedBack.empty() ? 0 : m_pushedBack.back().size());
    if (++m_entities > kMaxEntities || depth > kMaxDepth) {
        // Copied as it stands, unscanned: the message says so.
        m_scanner.noteUnscanned(depth > kMaxDepth ? "parts nested too deeply to be looked at"
                                                  : "more parts than can be looked at",
                                "None: such a message is delivered as it came; open its attachments with care.");
        for (std::string line; readLine(line);) {
            write(line);
            if (!delimiter.empty() && line.compare(0, delimiter.size(), delimiter) == 0)
                return line.compare(delimiter.size(), 2, "--") == 0 ? Ending::Closing : Ending::Sibling;
        }
        return Ending::End;
    }
    // The header, read by the rules' parser: the walk looks at the parts the
    // rules see.  The file is left where the body begins.
    Chunk entity(start);
    m_pushedBack.clear();
    entity.parseHeader(m_in, delimiter);
    std::string encoding = "7bit", name, boundary;
    bool exempt = false, multipart = false, carried = false;
    if (top) {
        entity.getHeader(m_in, "SUBJECT", m_subject);
        std::string from;
        if (entity.getHeader(m_in, "FROM", from))
            ParseAddress(from.data(), m_fromAddress);
    }
    // A header may name more than one content type, and a mail client may
    // go by any of them: a multipart is split by the first one naming a
    // boundary, a carried message is walked, and a body is left unscanned
    // only when every type leaves it so.
    const std::vector<std::string> types = entity.headerValues(m_in, "CONTENT-TYPE");
    bool allExempt = true;
    for (const std::string& type : types) {
        std::vector<char> text(type.begin(), type.end());
        text.push_back('\0');
        if (WildcardMatch(text.data(), "multipart/*")) {
            allExempt = false;   // without a boundary it is one body to judge
            if (!multipart)
                boundary = findParameter(type, "boundary");
            multipart = !boundary.empty();
        } else if (startsWithNoCase(type, "message/rfc822")) {
            carried = true;
        } else {
            std::string bare = type.substr(0, std::min(type.find(';'), size_t{79}));
            while (!bare.empty() && std::isspace(static_cast<unsigned char>(bare.back())))
                bare.pop_back();
            allExempt = allExempt && exemptType(bare);
            if (name.empty())
                name = findParameter(type, "name");
        }
    }
    exempt = !types.empty() && allExempt;
    if (entity.getHeader(m_in, "CONTENT-TRANSFER-ENCODING", encoding))
        encoding.resize(std::min<size_t>(encoding.size(), 255));
    std::string disposition;
    if (entity.getHeader(m_in, "CONTENT-DISPOSITION", disposition)) {
        const std::string file = findParameter(disposition, "filename");
        if (startsWithNoCase(disposition, "attachment") && !file.empty())
            name = file;
    }
    // Without a Content-Type field an entity is plain text (RFC 2045).
    if (types.empty() && name.empty())
        exempt = exemptType("text/plain");
    std::string line;

    if (multipart && !boundary.empty()) {
        const std::string inner = "--" + boundary;
        // Header and preamble are copied up to and with the first inner
        // delimiter line.
        copyRange(start, entity.bodyStart());
        bool found = false;
        while (readLine(line)) {
            write(line);
            if (line.compare(0, inner.size(), inner) == 0) {
                found = true;
                break;
            }
        }
        if (!found)
            return Ending::End;
        Ending ending = Ending::Sibling;
        while (ending == Ending::Sibling)
            ending = processEntity(inner, depth + 1, false);
        if (ending == Ending::End)
            return Ending::End;
        // The epilogue, up to the enclosing delimiter.
        while (readLine(line)) {
            write(line);
            if (!delimiter.empty() && line.compare(0, delimiter.size(), delimiter) == 0)
                return line.compare(delimiter.size(), 2, "--") == 0 ? Ending::Closing : Ending::Sibling;
        }
        return Ending::End;
    }

    if (carried) {
        // The part's header stays (the attachment stays a message); the
        // carried message is an entity of its own.
        copyRange(start, entity.bodyStart());
        return processEntity(delimiter, depth + 1, false);
    }

    if (!exempt) {
        std::string endLine;
        bool ended = false;
        // A message that is one attachment keeps its own header fields when
        // the notice replaces it: only the content fields describe the notice.
        m_keptHeader = top ? fieldsBesideContent(entity.headerText()) : std::string();
        const bool replaced = extractBody(name, encoding, delimiter, endLine, ended);
        m_keptHeader.clear();
        if (replaced) {
            write(endLine);
            if (!delimiter.empty() && endLine.compare(0, delimiter.size(), delimiter) == 0)
                return endLine.compare(delimiter.size(), 2, "--") == 0 ? Ending::Closing : Ending::Sibling;
            return Ending::End;
        }
    }
    // Copied as it is, uuencoded blocks judged on the way.
    std::fseek(m_in, start, SEEK_SET);
    m_pushedBack.clear();
    while (readLine(line)) {
        if (!delimiter.empty() && line.compare(0, delimiter.size(), delimiter) == 0) {
            write(line);
            return line.compare(delimiter.size(), 2, "--") == 0 ? Ending::Closing : Ending::Sibling;
        }
        if (!checkUuencode(line, delimiter) && !checkBinHex(line, delimiter))
            write(line);
    }
    return Ending::End;
}

bool MessageWalk::extractBody(const std::string& name, const std::string& encoding, const std::string& delimiter,
                              std::string& endLine, bool& ended)
{
    const long restart = std::ftell(m_in);
    const std::vector<std::string> pushed = m_pushedBack;
    std::string path;
    FILE* work = createWorkfile(name.empty() ? "unnamed.att" : name, path);
    if (work == nullptr) {
        workfileFailed(name);
        return false;
    }
    const bool base64 = startsWithNoCase(encoding, "base64");
    const bool quoted = startsWithNoCase(encoding, "quoted-printable");
    char carry[8] = "";
    std::vector<char> decoded;
    std::string line;
    ended = false;
    while (readLine(line)) {
        if (isDotLine(line) ||
            (!delimiter.empty() && line.compare(0, delimiter.size(), delimiter) == 0)) {
            endLine = line;
            ended = true;
            break;
        }
        if (unstuffed(line).size() < line.size())
            line.erase(0, 1);
        if (base64) {
            decoded.resize(3 * (line.size() / 4) + 8 + 4);
            const int n = MimeDecodeLineEx(line.c_str(), decoded.data(), carry);
            std::fwrite(decoded.data(), 1, static_cast<size_t>(n > 0 ? n : 0), work);
        } else if (quoted) {
            decoded.resize(line.size() + 1);
            const size_t n = decodeQuotedPrintable(line.data(), line.size(), decoded.data());
            const size_t text = strnlen(decoded.data(), n);
            std::fwrite(decoded.data(), 1, text, work);
        } else {
            std::fwrite(line.data(), 1, line.size(), work);
        }
    }
    if (base64 && carry[0]) {
        char rest[8];
        const int n = MimeDecodeLine(carry, rest);
        std::fwrite(rest, 1, static_cast<size_t>(n > 0 ? n : 0), work);
    }
    std::fclose(work);
    if (judge(path) || checkTnef(path))
        return true;
    if (!m_scanner.leaveWorkfile)
        VirusScanner::deleteWorkfile(path);
    std::fseek(m_in, restart, SEEK_SET);
    m_pushedBack = pushed;
    return false;
}

bool MessageWalk::checkUuencode(const std::string& line, const std::string& delimiter)
{
    if (!startsWithNoCase(line, "begin") || line.size() < 6 || (line[5] != ' ' && line[5] != '\t'))
        return false;
    char file[256] = "";
    if (std::sscanf(line.c_str() + 5, " %*d %255s", file) != 1)
        std::strcpy(file, "unnamed.att");
    std::string path;
    FILE* work = createWorkfile(file, path);
    if (work == nullptr) {
        workfileFailed(file);
        return false;
    }
    std::vector<std::string> block;
    std::string next;
    char decoded[kMaxUUDecodedLine];
    while (readLine(next)) {
        if (isDotLine(next) ||
            (!delimiter.empty() && next.compare(0, delimiter.size(), delimiter) == 0)) {
            unread(next);   // not the block's: it ends what holds the block
            break;
        }
        block.push_back(next);
        if (startsWithNoCase(next, "end") && (next.size() == 3 || std::isspace(static_cast<unsigned char>(next[3]))))
            break;
        if (isBlankLine(next))
            continue;
        const int n = UUDecodeLine(next.c_str(), decoded);
        std::fwrite(decoded, 1, static_cast<size_t>(n > 0 ? n : 0), work);
    }
    std::fclose(work);
    return judgeBlock(path, line, block);
}

bool MessageWalk::checkBinHex(const std::string& line, const std::string& delimiter)
{
    if (!startsWithNoCase(line, "(This file must be converted with BinHex"))
        return false;
    BinHexDecoder decoder(kMaxBinHexFork);
    std::vector<std::string> block;
    std::string next, path;
    FILE* work = nullptr;
    bool started = false, failed = false;
    // Once the header is read: the work file, and the data fork into it.
    auto flushFork = [&] {
        if (decoder.headerRead() && work == nullptr && !failed) {
            work = createWorkfile(decoder.name(), path);
            if (work == nullptr) {
                workfileFailed(decoder.name());
                failed = true;
            }
        }
        const std::string fork = decoder.takeFork();
        if (work != nullptr)
            std::fwrite(fork.data(), 1, fork.size(), work);
    };
    while (readLine(next)) {
        if (isDotLine(next) ||
            (!delimiter.empty() && next.compare(0, delimiter.size(), delimiter) == 0)) {
            unread(next);   // not the block's: it ends what holds the block
            break;
        }
        block.push_back(next);
        bool more = true;
        if (!started) {
            // Blank lines may come before the data's opening ":".
            const size_t first = next.find_first_not_of(" \t\r\n");
            if (first == std::string::npos)
                continue;
            if (next[first] != ':')
                break;   // no data: the header cannot be read
            started = true;
            more = decoder.feed(next, first + 1);
        } else {
            more = decoder.feed(next);
        }
        if (!more)
            break;
        flushFork();
    }
    decoder.finish();   // the closing ":" or the end: the last group's bytes
    flushFork();
    if (work == nullptr) {
        // Not a block that can be judged: its lines are read again as text.
        for (auto it = block.rbegin(); it != block.rend(); ++it)
            unread(*it);
        return false;
    }
    std::fclose(work);
    return judgeBlock(path, line, block);
}

bool MessageWalk::judgeBlock(const std::string& workfile, const std::string& first,
                             const std::vector<std::string>& block)
{
    if (judge(workfile))
        return true;
    if (!m_scanner.leaveWorkfile)
        VirusScanner::deleteWorkfile(workfile);
    write(first);
    for (const std::string& text : block)
        write(text);
    return true;
}

bool MessageWalk::checkTnef(const std::string& workfile)
{
    FILE* in = std::fopen(workfile.c_str(), "rb");
    if (in == nullptr) {
        EngineVerdict verdict;
        verdict.kind = EngineVerdict::Error;
        verdict.error = errno != 0 ? errno : kTnefUnreadable;
        writeNotice(verdict, workfile);
        return true;
    }
    std::vector<TnefFinding> findings;
    int components = 0;
    TnefReader reader(in);
    // Each attachment is written to a work file of its own and judged.
    const TnefRead read = reader.read([&](const TnefAttachment& attachment) {
        if (++components > kMaxEntities)
            return false;
        const std::string component = cleanName(attachment.titled ? attachment.title : std::string());
        std::string path;
        FILE* out = createWorkfile(component, path);
        EngineVerdict verdict;
        if (out == nullptr) {
            verdict.kind = EngineVerdict::Error;
            verdict.error = errno != 0 ? errno : kTnefUnreadable;
            CEventLog().LogEvent(1, "virus: Unable to create workfile %s", (workFolder() + "/" + component).c_str());
            findings.push_back({verdict, component});
            return true;
        }
        const bool copied = reader.copyData(attachment, out);
        std::fclose(out);
        if (copied) {
            CEventLog().LogEvent(4, "virus: Scanning %s in msg %s", path.c_str(), m_spoolPath.c_str());
            verdict = m_scanner.judgeFile(path);
            if (verdict.kind != EngineVerdict::Clean && verdict.kind != EngineVerdict::Unscanned &&
                !passesLocked(verdict, path))
                findings.push_back({verdict, component});
        }
        VirusScanner::deleteWorkfile(path);
        return copied;
    });
    std::fclose(in);
    if (read == TnefRead::NotTnef)
        return false;
    if (read == TnefRead::Unreadable) {
        EngineVerdict verdict;
        verdict.kind = EngineVerdict::Error;
        verdict.error = kTnefUnreadable;
        writeNotice(verdict, workfile);
        return true;
    }
    if (findings.empty())
        return false;
    writeTnefNotice(findings, workfile);
    return true;
}

FILE* MessageWalk::createWorkfile(const std::string& name, std::string& path)
{
    const std::string folder = workFolder();
    ::mkdir(folder.c_str(), 0700);
    const std::string base = folder + "/" + cleanName(name);
    for (int suffix = 0; suffix < 1000; ++suffix) {
        char candidate[32] = "";
        if (suffix > 0)
            std::snprintf(candidate, sizeof candidate, "_%03d", suffix);
        path = base + candidate;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            FILE* file = ::fdopen(fd, "wb");
            if (file == nullptr)
                ::close(fd);
            return file;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

void MessageWalk::workfileFailed(const std::string& name)
{
    const int error = errno;
    const std::string path = workFolder() + "/" + cleanName(name);
    CEventLog().LogEvent(1, "virus: Unable to create workfile %s", path.c_str());
    m_scanner.noteUnscanned("no work file could be made in " + workFolder() + " (" + std::strerror(error) + ")",
                            "Make sure the folder " + workFolder() + " exists and can be written.");
}

bool MessageWalk::judge(const std::string& workfile)
{
    CEventLog().LogEvent(4, "virus: Scanning %s in msg %s", workfile.c_str(), m_spoolPath.c_str());
    const EngineVerdict verdict = m_scanner.judgeFile(workfile);
    // Unscanned: delivered as it is; the scanner has noted why.
    if (verdict.kind == EngineVerdict::Clean || verdict.kind == EngineVerdict::Unscanned ||
        passesLocked(verdict, workfile))
        return false;
    writeNotice(verdict, workfile);
    return true;
}

bool MessageWalk::passesLocked(const EngineVerdict& verdict, const std::string& workfile)
{
    if (verdict.kind != EngineVerdict::EncryptedArchive || !m_scanner.passLockedArchives)
        return false;
    CEventLog().LogEvent(2, "Encrypted archive %s from %s passed for delivery to %s",
                         workfile.substr(workfile.rfind('/') + 1).c_str(), m_sender.c_str(), m_recipient.c_str());
    return true;
}

void MessageWalk::report(const std::string& line)
{
    const std::string path = m_stateFolder + "/infection.txt";
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        CEventLog().LogEvent(1, "virus: Unable to create %s", path.c_str());
        return;
    }
    const std::string text = (existed ? "" : "The virus scanner found the following issues:\n\n") + line;
    if (::write(fd, text.data(), text.size()) < 0)
        CEventLog().LogEvent(1, "virus: Unable to create %s", path.c_str());
    ::close(fd);
}

std::string MessageWalk::quarantineFile(const std::string& workfile)
{
    if (m_scanner.engine != 0 && m_scanner.engine != 1)
        return workfile;   // a resident scanner has it: it stays where it is
    const std::string base = m_scanner.quarantinePath + "/" + workfile.substr(workfile.rfind('/') + 1);
    ::mkdir(m_scanner.quarantinePath.c_str(), 0700);
    // A name is taken with link(), which never replaces a file: another
    // session's work file or quarantined file may come under the same name
    // at any moment.  Across file systems the file is moved to a free name.
    for (int suffix = 0; suffix < 1000; ++suffix) {
        char tail[16] = "";
        if (suffix > 0)
            std::snprintf(tail, sizeof tail, "_%03d", suffix);
        const std::string target = base + tail;
        if (::link(workfile.c_str(), target.c_str()) == 0) {
            VirusScanner::deleteWorkfile(workfile);
            return target;
        }
        if (errno == EEXIST || ::access(target.c_str(), F_OK) == 0)
            continue;
        if (VirusScanner::moveWorkfile(workfile, target))
            return target;
        break;
    }
    CEventLog().LogEvent(1, "Unable to quarantine file, error %d", errno);
    return {};
}

std::string MessageWalk::noticeHead(const std::string& file)
{
    return "Content-Type: text/plain; charset=us-ascii;\r\n"
           "\tname=\"Removed Attachment (" + file + ").txt\"\r\n"
           "Content-Transfer-Encoding: 7bit\r\n"
           "Content-Disposition: attachment;\r\n"
           "\tfilename=\"Removed Attachment (" + file + ").txt\"\r\n"
           "\r\n"
           "ALERT - Quillfence Pro Virus Scanner - ALERT\r\n\r\n";
}

std::string MessageWalk::keepOrDelete(const std::string& workfile, bool keep, EngineVerdict::Kind worst,
                                      const char* what)
{
    if (!keep) {
        VirusScanner::deleteWorkfile(workfile);
        CEventLog().LogEvent(4, "virus: Infected workfile %s has been deleted", workfile.c_str());
        return {};
    }
    const std::string target = quarantineFile(workfile);
    if (target.empty())
        return {};
    CEventLog().LogEvent(4,
                         worst == EngineVerdict::Error              ? "virus: Due to system error workfile has been quarantined to %s"
                         : worst == EngineVerdict::EncryptedArchive ? "virus: Encrypted archive workfile has been quarantined to %s"
                                                                    : "virus: Infected workfile has been quarantined to %s",
                         target.c_str());
    return std::string("The ") + what + " has been quarantined as \"" + target.substr(target.rfind('/') + 1) + "\".\r\n";
}

void MessageWalk::writeNotice(const EngineVerdict& verdict, const std::string& workfile)
{
    m_clean = false;
    const std::string file = workfile.substr(workfile.rfind('/') + 1);
    const std::string spoolName = m_spoolPath.substr(m_spoolPath.rfind('/') + 1);
    std::string text = std::exchange(m_keptHeader, {}) + noticeHead(file);
    switch (verdict.kind) {
    case EngineVerdict::Virus:
        text += "Attachment \"" + file + "\" has been removed due to the following types\r\nof virus being found:\r\n\r\n";
        text += "\t" + verdict.virus.substr(0, 80) + "\r\n";
        report("\tAttachment \"" + file + "\" contains " + verdict.virus + " virus\n");
        CEventLog().LogEvent(2, "virus: %s, component %s contains %s virus", spoolName.c_str(), file.c_str(),
                             verdict.virus.c_str());
        break;
    case EngineVerdict::EncryptedArchive:
        text += "Attachment \"" + file + "\" has been removed as it is an encrypted archive and cannot be virus scanned.\r\n\r\n";
        report("\tAttachment \"" + file + "\" is an encrypted archive and cannot be scanned.\n");
        CEventLog().LogEvent(2, "virus: %s, component %s is an encrypted archive and cannot be scanned",
                             spoolName.c_str(), file.c_str());
        break;
    default: {
        char line[512];
        std::snprintf(line, sizeof line,
                      "Attachment \"%s\" has been quarantined as a precaution due to internal error %d during scanning.\r\n",
                      file.c_str(), verdict.error);
        text += line;
        std::snprintf(line, sizeof line, "\tSystem error %08x occured whilst scanning \"%s\".\n",
                      static_cast<unsigned>(verdict.error), file.c_str());
        report(line);
        break;
    }
    }
    text += "\r\n";
    text += keepOrDelete(workfile, m_scanner.quarantine || verdict.kind != EngineVerdict::Virus, verdict.kind,
                         "attachment");
    write(text);
}

void MessageWalk::writeTnefNotice(const std::vector<TnefFinding>& findings, const std::string& workfile)
{
    m_clean = false;
    const std::string file = workfile.substr(workfile.rfind('/') + 1);
    const std::string spoolName = m_spoolPath.substr(m_spoolPath.rfind('/') + 1);
    std::string text = std::exchange(m_keptHeader, {}) + noticeHead(file);
    text += "Microsoft TNEF block \"" + file + "\" has been removed due to the following virus issues\r\n"
            "found in encapsulated attachments:\r\n\r\n";
    EngineVerdict::Kind worst = EngineVerdict::Virus;
    for (const TnefFinding& finding : findings) {
        const std::string& component = finding.component;
        const EngineVerdict& verdict = finding.verdict;
        if (verdict.kind == EngineVerdict::Virus) {
            text += "\t" + verdict.virus.substr(0, 80) + " (in component " + component + ")\r\n";
            report("\tMicrosoft TNEF block \"" + file + "\" contains " + verdict.virus + " virus in component " +
                   component + "\n");
            CEventLog().LogEvent(2, "virus: %s, MS TNEF block %s component %s contains %s virus", spoolName.c_str(),
                                 file.c_str(), component.c_str(), verdict.virus.c_str());
        } else if (verdict.kind == EngineVerdict::EncryptedArchive) {
            text += "\tUnable to scan encrypted component " + component + "\r\n";
            report("\tMicrosoft TNEF block \"" + file + "\" component " + component +
                   " is an encrypted archive and cannot be scanned\n");
            CEventLog().LogEvent(2, "virus: %s, MS TNEF block %s component %s is an encrypted archive and cannot be scanned",
                                 spoolName.c_str(), file.c_str(), component.c_str());
            if (worst != EngineVerdict::Error)
                worst = EngineVerdict::EncryptedArchive;
        } else {
            char code[16];
            std::snprintf(code, sizeof code, "%08x", static_cast<unsigned>(verdict.error));
            text += std::string("\tSystem error ") + code + " occured scanning component " + component + "\r\n";
            report(std::string("\tSystem error ") + code + " occured whilst scanning MS TNEF block \"" + file +
                   "\" component " + component + ".\n");
            worst = EngineVerdict::Error;
        }
    }
    text += "\r\n";
    text += keepOrDelete(workfile, m_scanner.quarantine || worst != EngineVerdict::Virus, worst, "block");
    write(text);
}
