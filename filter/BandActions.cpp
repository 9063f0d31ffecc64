#include "filter/BandActions.h"

#include "filter/FilterSettings.h"
#include "filter/LineEnds.h"

#include "common/CEventLog.h"
#include "common/FileHead.h"
#include "common/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The message's From and Subject, each made one line: header values are
// one line each in the report, whatever they hold.
void senderAndSubject(FilterContext& context, std::string& from, std::string& subject)
{
    MessageInfo& record = context.message;
    if (record.open(context.currentMessage) && record.selectSegment(1)) {
        record.chunk()->getHeader(record.file(), "FROM", from);
        record.chunk()->getHeader(record.file(), "SUBJECT", subject);
    }
    for (std::string* value : {&from, &subject})
        for (char& c : *value)
            if (c == '\r' || c == '\n')
                c = ' ';
}

} // namespace

void writeReportEntry(FilterContext& context, float total, int band)
{
    if (!filterSettings().bands[band].collectionEmail)
        return;
    std::string from, subject;
    senderAndSubject(context, from, subject);
    char verdict[64];
    if (context.isOk)
        std::snprintf(verdict, sizeof verdict, "Message OK\n");
    else
        std::snprintf(verdict, sizeof verdict, "SPAM - rating %0.1f\n", static_cast<double>(total));
    context.writeReportEntry("-----------------\nFrom: " + from + "\nSubject: " + subject +
                             "\n=================\n" + verdict + "=================\n" + context.reportText +
                             "-----------------\n\n");
}

void noteKeptOnServer(FilterContext& context, double total, int band)
{
    std::string from, subject;
    senderAndSubject(context, from, subject);
    char rating[96];
    std::snprintf(rating, sizeof rating, "(rated %.1f, rating band %d): left on the server and delivered.\n", total,
                  band + 1);
    context.notices.push_back("-----------------\nFrom: " + from + "\nSubject: " + subject +
                              "\n=================\nNot deleted: no whole archive copy could be saved\n" + rating +
                              "-----------------\n\n");
}

namespace {

// A header of a spooled message is at most a megabyte (larger ones are not
// judged); past this much the rest is taken as body.
constexpr size_t kMaxHeaderRead = 8u << 20;

// The lines of an open file from its start, each with its LF (the last
// without one when the file does not end with it), read in blocks.
class LineSource
{
public:
    explicit LineSource(int fd) : m_fd(fd) {}

    bool next(std::string& line)
    {
        for (;;) {
            const size_t end = m_buffer.find('\n', m_position);
            if (end != std::string::npos) {
                line.assign(m_buffer, m_position, end + 1 - m_position);
                m_position = end + 1;
                return true;
            }
            if (m_atEnd) {
                if (m_position >= m_buffer.size())
                    return false;
                line.assign(m_buffer, m_position);
                m_position = m_buffer.size();
                return true;
            }
            m_buffer.erase(0, m_position);
            m_position = 0;
            char block[65536];
            const ssize_t n = ::pread(m_fd, block, sizeof block, m_offset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_atEnd = true;
                continue;
            }
            m_buffer.append(block, static_cast<size_t>(n));
            m_offset += n;
        }
    }

private:
    int m_fd;
    std::string m_buffer;
    size_t m_position = 0;
    off_t m_offset = 0;
    bool m_atEnd = false;
};

bool startsWithNoCase(const std::string& text, size_t at, const char* prefix)
{
    for (size_t i = 0; prefix[i]; ++i)
        if (at + i >= text.size() || std::tolower(static_cast<unsigned char>(text[at + i])) !=
                                         std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}


} // namespace

bool rewriteSubject(FilterContext& context, const MessageDescriptor& message, int band)
{
    try {
        const RatingBand& settings = filterSettings().bands[band];
        const bool newSubject = settings.subject;
        if ((!newSubject && context.headerNotes.empty()) || message.path == nullptr)
            return true;
        MessageInfo& record = context.message;
        std::string subject;
        if (newSubject) {
            record.ensureWholeMessage(&message);
            if (record.open(&message) && record.selectSegment(1))
                record.chunk()->expandMacros(record.file(), settings.subjectMacro, subject);
        }
        record.closeFile();
        const std::string lines = (newSubject ? context.decisionHeaders : std::string()) + context.headerNotes;
        // One line, whatever the message's header held.
        for (char& c : subject)
            if (c == '\r' || c == '\n')
                c = ' ';

        // The spool is rewritten in place: no new file per marked message.
        // A failure part way leaves it damaged, which the caller is told.
        UniqueFd out(::open(message.path, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        if (!out) {
            CEventLog().LogEvent(1, "Unable to open file %s", message.path);
            return true;
        }
        // The header block line by line, each physical line whole, into
        // header; the body after it stays where it is in the file.
        LineSource in(out.get());
        std::string header;
        long consumed = 0;
        bool subjectSeen = false;
        bool inSubject = false;
        std::string line;
        while (header.size() < kMaxHeaderRead && in.next(line)) {
            consumed += static_cast<long>(line.size());
            if (line == "\r\n" || line == "\n") {
                if (newSubject && !subjectSeen)
                    header += "Subject: " + subject + "\r\n";
                header += withCrLf(lines) + line;
                break;
            }
            if (inSubject && (line[0] == ' ' || line[0] == '\t'))
                continue;   // the old subject's folded lines: the new one holds it all
            inSubject = false;
            if (newSubject && startsWithNoCase(line, 0, "Subject:")) {
                header += "Subject: " + subject + "\r\n";
                subjectSeen = inSubject = true;
                continue;
            }
            header += line;
        }
        if (!replaceFileHead(out.get(), consumed, header)) {
            CEventLog().LogEvent(1, "Unable to rewrite %s: %s", message.path, std::strerror(errno));
            return false;
        }
        return true;
    } catch (...) {
        DebugX("filter", __LINE__);
        return false;
    }
}
