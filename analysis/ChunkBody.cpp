// Body decoding, the word sets and the body pattern matches of a chunk.
#include "analysis/Chunk.h"

#include "analysis/BodyDecoding.h"
#include "analysis/LineReader.h"
#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/TextUtils.h"
#include "common/WildcardMatch.h"

#include <algorithm>
#include <cstring>

namespace {

bool chunkLogging()
{
    return programContext().chunkLogging;
}

// Reads [start, end) of the file into a new NUL-terminated buffer; a short
// read leaves a shorter text.  size receives the bytes read.
std::unique_ptr<char[]> readRange(FILE* file, int64_t start, int64_t end, size_t& size)
{
    const size_t wanted = end > start ? static_cast<size_t>(end - start) : 0;
    auto buffer = std::make_unique_for_overwrite<char[]>(wanted + 1);
    size = 0;
    if (wanted > 0 && ::fseeko(file, start, SEEK_SET) == 0)
        size = std::fread(buffer.get(), 1, wanted, file);
    buffer[size] = '\0';
    return buffer;
}

} // namespace

int64_t Chunk::bodyEnd(FILE* file) const
{
    // A part's end is known from the structure parse; the whole message, or
    // a chunk whose end is not known yet, runs to the end of the file.  An
    // end below the body's start never sizes anything.
    if (m_chunkEnd > 0 && m_chunkEnd >= m_bodyStart)
        return m_chunkEnd;
    return std::max(messageFileLength(file), m_bodyStart);
}

int64_t Chunk::readEnd(FILE* file) const
{
    return std::min(bodyEnd(file), m_bodyStart + kMaxBodyRead);
}

void Chunk::decodeBody(FILE* file)
{
    if (m_bodyDecoded)
        return;
    m_bodyDecoded = true;
    try {
        if (chunkLogging())
            CEventLog().LogEvent(4, "Decoding chunk body %08x", m_identity);
        parseHeader(file);
        if (file == nullptr)
            return;
        const int64_t end = bodyEnd(file);
        if (m_chunkEnd < m_bodyStart || m_chunkEnd == 0)
            m_chunkEnd = end;

        std::string contentType;
        std::string encoding;
        getHeader(file, "CONTENT-TYPE", contentType);
        getHeader(file, "CONTENT-TRANSFER-ENCODING", encoding);
        if (stristr(contentType.c_str(), "multipart"))
            return;

        size_t size = 0;
        auto body = readRange(file, m_bodyStart, std::min(end, readEnd(file)), size);
        if (stristr(encoding.c_str(), "base64")) {
            decodeBase64Lines(body.get(), size);
        } else if (stristr(encoding.c_str(), "quoted-printable")) {
            body[decodeQuotedPrintable(body.get(), size, body.get())] = '\0';
        } else if (m_rawBody == nullptr) {
            m_rawBody = body.get();
        }
        m_decodedBody = std::move(body);
        m_decodedLength = std::strlen(m_decodedBody.get());

        if (stristr(contentType.c_str(), "text/html") || stristr(contentType.c_str(), "text/enriched")) {
            stripMarkup(m_decodedBody.get());
            m_decodedLength = std::strlen(m_decodedBody.get());
            // The raw text has just been overwritten; it is reloaded on demand.
            if (m_rawBody == m_decodedBody.get())
                m_rawBody = nullptr;
        }
        if (chunkLogging())
            writeSegmentFile();
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

void Chunk::writeSegmentFile() const
{
    const std::string& root = programContext().dataRoot;
    if (root.empty())
        return;
    char name[40];
    std::snprintf(name, sizeof name, "/state/segment%08x.dat", static_cast<unsigned>(GetNextId()));
    FILE* out = std::fopen((root + name).c_str(), "wb");
    if (out == nullptr)
        return;
    std::fwrite(m_decodedBody.get(), 1, std::strlen(m_decodedBody.get()), out);
    std::fclose(out);
}

void Chunk::loadRawBody(FILE* file)
{
    if (m_rawBody != nullptr || file == nullptr)
        return;
    size_t size = 0;
    m_ownRawBody = readRange(file, m_bodyStart, readEnd(file), size);
    m_rawBody = m_ownRawBody.get();
    m_ownRawLength = std::strlen(m_rawBody);
}

void Chunk::parseHeaderWords(FILE* file)
{
    if (m_headerWordsDone)
        return;
    m_headerWordsDone = true;
    try {
        if (chunkLogging())
            CEventLog().LogEvent(4, "Parsing header words");
        parseHeader(file);
        countWords(m_headerText.get(), m_headerWordCounts);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

void Chunk::parseBodyWords(FILE* file)
{
    if (m_bodyWordsDone)
        return;
    m_bodyWordsDone = true;
    try {
        if (chunkLogging())
            CEventLog().LogEvent(4, "Parsing body words %08x", m_identity);
        decodeBody(file);
        countWords(m_decodedBody.get(), m_bodyWordCounts);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}

int32_t Chunk::headerWordCount(FILE* file, const std::string& word)
{
    parseHeaderWords(file);
    const auto found = m_headerWordCounts.find(word);
    return found == m_headerWordCounts.end() ? 0 : found->second;
}

int32_t Chunk::bodyWordCount(FILE* file, const std::string& word)
{
    parseBodyWords(file);
    const auto found = m_bodyWordCounts.find(word);
    return found == m_bodyWordCounts.end() ? 0 : found->second;
}

bool Chunk::matchDecodedBody(FILE* file, const char* pattern)
{
    decodeBody(file);
    if (m_decodedBody == nullptr || pattern == nullptr)
        return false;
    return WildcardPattern(pattern).matches(m_decodedBody.get(), m_decodedLength);
}

bool Chunk::matchRawBody(FILE* file, const char* pattern)
{
    try {
        parseHeader(file);
        loadRawBody(file);
        if (m_rawBody == nullptr || pattern == nullptr)
            return false;
        const size_t length = m_rawBody == m_decodedBody.get() ? m_decodedLength : m_ownRawLength;
        return WildcardPattern(pattern).matches(m_rawBody, length);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return false;
    }
}
