// The chunk record, its header parse and the header queries.
#include "analysis/Chunk.h"

#include "analysis/LineReader.h"
#include "common/CEventLog.h"
#include "common/ProgramContext.h"
#include "common/TextUtils.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

// Header lines are read in pieces of at most 254 bytes; the pieces of a
// longer line continue the value they belong to.
constexpr size_t kHeaderPiece = 254;

std::atomic<uint32_t> nextIdentity{1};

bool chunkLogging()
{
    return programContext().chunkLogging;
}

std::string_view cutAtLineEnd(std::string_view text)
{
    size_t end = text.find("\r\n");
    if (end == std::string_view::npos)
        end = text.find('\n');
    return end == std::string_view::npos ? text : text.substr(0, end);
}

std::string upperAscii(std::string_view text)
{
    std::string upper(text);
    stringUpper(upper);
    return upper;
}

} // namespace

Chunk::Chunk(int64_t chunkStart)
    : m_chunkStart(chunkStart), m_identity(nextIdentity.fetch_add(1, std::memory_order_relaxed))
{
    if (chunkLogging())
        CEventLog().LogEvent(4, "New chunk %08x", m_identity);
}

Chunk::~Chunk()
{
    if (chunkLogging())
        CEventLog().LogEvent(4, "Deleting chunk %08x", m_identity);
}

void Chunk::parseHeader(FILE* file, std::string_view delimiter)
{
    if (m_headerParsed)
        return;
    try {
        if (chunkLogging())
            CEventLog().LogEvent(4, "Parsing header %08x", m_identity);
        m_headerParsed = true;
        if (file == nullptr || ::fseeko(file, m_chunkStart, SEEK_SET) != 0)
            return;
        LineReader reader(file, kHeaderPiece);
        std::string name;
        std::string value;
        auto storePending = [&] {
            if (name.empty())
                return;
            const auto [field, added] = m_headers.try_emplace(name, value);
            if (!added) {
                m_earlierValues.emplace(name, std::move(field->second));
                field->second = value;
            }
        };
        // Whether the physical line being read adds to the pending value, so
        // that the later pieces of a long line go where its first one went.
        bool lineFeedsValue = false;
        while (reader.next()) {
            const std::string_view line = reader.text();
            if (!reader.lineStart()) {
                if (lineFeedsValue)
                    value.append(cutAtLineEnd(line));
                continue;
            }
            lineFeedsValue = false;
            if (reader.isDotLine()) {
                // The POP3 end-of-message line ends the message inside its
                // header block: the header being read is dropped.
                m_bodyStart = reader.start();
                ::fseeko(file, m_bodyStart, SEEK_SET);
                return;
            }
            if (!delimiter.empty() && reader.lineBeginsWith(delimiter)) {
                // The next part begins: this one has an empty body.
                storePending();
                m_bodyStart = reader.start();
                readHeaderText(file);
                return;
            }
            if (reader.isBlankLine())
                break;
            if (line[0] == ' ' || line[0] == '\t') {
                value += ' ';
                value.append(cutAtLineEnd(line));
                lineFeedsValue = true;
                continue;
            }
            const size_t colon = line.find(':');
            if (colon == std::string_view::npos)
                continue;
            lineFeedsValue = true;
            storePending();
            name = upperAscii(line.substr(0, colon));
            std::string_view rest = line.substr(colon + 1);
            while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t'))
                rest.remove_prefix(1);
            value.assign(cutAtLineEnd(rest));
        }
        storePending();
        m_bodyStart = reader.position();
        readHeaderText(file);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

void Chunk::readHeaderText(FILE* file)
{
    const int64_t size = m_bodyStart - m_chunkStart;
    m_headerText.reset();
    m_headerLength = 0;
    if (size < 0 || ::fseeko(file, m_chunkStart, SEEK_SET) != 0)
        return;
    m_headerText = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(size) + 1);
    const size_t got = std::fread(m_headerText.get(), 1, static_cast<size_t>(size), file);
    m_headerText[got] = '\0';
    m_headerLength = std::strlen(m_headerText.get());
    ::fseeko(file, m_bodyStart, SEEK_SET);
}

bool Chunk::getHeader(FILE* file, const std::string& name, std::string& out)
{
    try {
        parseHeader(file);
        const auto found = m_headers.find(name);
        if (found == m_headers.end())
            return false;
        out = found->second;
        return true;
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return false;
    }
}

std::vector<std::string> Chunk::headerValues(FILE* file, const std::string& name)
{
    std::vector<std::string> values;
    parseHeader(file);
    const auto found = m_headers.find(name);
    if (found == m_headers.end())
        return values;
    const auto [first, last] = m_earlierValues.equal_range(name);
    for (auto earlier = first; earlier != last; ++earlier)
        values.push_back(earlier->second);
    values.push_back(found->second);
    return values;
}

const Chunk::HeaderMap::value_type* Chunk::nthHeader(FILE* file, int n)
{
    parseHeader(file);
    if (n < 1 || static_cast<size_t>(n) > m_headers.size())
        return nullptr;
    return &*std::next(m_headers.begin(), n - 1);
}

bool Chunk::getHeaderName(FILE* file, int n, std::string& out)
{
    try {
        const auto* header = nthHeader(file, n);
        if (header)
            out = header->first;
        return header != nullptr;
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return false;
    }
}

bool Chunk::getHeaderValue(FILE* file, int n, std::string& out)
{
    try {
        const auto* header = nthHeader(file, n);
        if (header)
            out = header->second;
        return header != nullptr;
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return false;
    }
}

int Chunk::headerCount(FILE* file)
{
    parseHeader(file);
    return static_cast<int>(m_headers.size());
}

bool Chunk::expandMacros(FILE* file, const std::string& templateText, std::string& out)
{
    try {
        parseHeader(file);
        out.clear();
        const std::string_view text = templateText;
        size_t pos = 0;
        for (;;) {
            const size_t open = text.find("%%", pos);
            if (open == std::string_view::npos)
                break;
            out.append(text.substr(pos, open - pos));
            const size_t close = text.find("%%", open + 2);
            if (close == std::string_view::npos) {
                out += "%%";
                pos = open + 2;
                continue;
            }
            const auto found = m_headers.find(upperAscii(text.substr(open + 2, close - open - 2)));
            if (found != m_headers.end())
                out += found->second;
            pos = close + 2;
        }
        const std::string_view tail = text.substr(pos);
        out.append(tail);
        return tail.find("\r\n") != std::string_view::npos;
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        out.clear();
        return false;
    }
}

void Chunk::setUserMacro(int n, const std::string& text)
{
    if (n < 1 || n > 4)
        return;
    m_headers["USER" + std::to_string(n)] = text;
}
