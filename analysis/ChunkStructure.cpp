// The structure parse: the parts of multipart bodies, found by their
// boundary lines, appended depth-first to one flat list.
#include "analysis/Chunk.h"

#include "analysis/LineReader.h"
#include "analysis/MimeParameter.h"
#include "common/CEventLog.h"
#include "common/ProgramContext.h"
#include "common/TextUtils.h"
#include "common/WildcardMatch.h"

#include <optional>
#include <string_view>

namespace {

// Body lines are compared with boundaries in pieces of at most 1022 bytes;
// only the first piece of a line can be a boundary.
constexpr size_t kBodyPiece = 1022;
// "--" and at most 125 characters of boundary.
constexpr size_t kMaxDelimiter = 127;

// The "--boundary" line of a multipart content type, or nothing when the
// type names no boundary.
std::optional<std::string> boundaryDelimiter(const std::string& contentType)
{
    const std::optional<std::string> value = mimeParameter(contentType, "boundary");
    if (!value)
        return std::nullopt;
    return "--" + value->substr(0, kMaxDelimiter - 2);
}

} // namespace

bool Chunk::parseStructure(bool recurse, FILE* file, List& list, const char* parentDelimiter)
{
    if (!recurse) {
        if (programContext().chunkLogging)
            CEventLog().LogEvent(4, "Parsing chunk structure %08x", m_identity);
        parseHeader(file);
        return true;
    }
    try {
        return parseParts(file, list, parentDelimiter, 0);
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return true;
    }
}

bool Chunk::parseParts(FILE* file, List& list, const char* parentDelimiter, int depth)
{
    if (programContext().chunkLogging)
        CEventLog().LogEvent(4, "Parsing chunk structure %08x", m_identity);
    parseHeader(file, parentDelimiter == nullptr ? std::string_view() : std::string_view(parentDelimiter));
    if (file == nullptr)
        return true;

    std::string contentType;
    std::optional<std::string> delimiter;
    if (depth < kMaxDepth && getHeader(file, "CONTENT-TYPE", contentType)
        && WildcardMatch(contentType.data(), "*multipart/*"))
        delimiter = boundaryDelimiter(contentType);
    if (delimiter && ::fseeko(file, m_bodyStart, SEEK_SET) == 0) {
        // The preamble before the first boundary belongs to no part.
        LineReader preamble(file, kBodyPiece);
        bool found = false;
        while (!found && preamble.next())
            found = preamble.lineBeginsWith(*delimiter);
        const int64_t length = messageFileLength(file);
        while (found && list.size() < kMaxChunks) {
            const off_t partStart = ::ftello(file);
            if (partStart < 0 || partStart >= length)
                break;
            list.push_back(std::make_unique<Chunk>(partStart));
            Chunk& part = *list.back();
            if (part.parseParts(file, list, delimiter->c_str(), depth + 1))
                break;
        }
    }

    if (parentDelimiter == nullptr) {
        m_chunkEnd = messageFileLength(file);
        return true;
    }
    const std::string_view parent(parentDelimiter);
    LineReader reader(file, kBodyPiece);
    while (reader.next()) {
        if (reader.isDotLine()) {
            m_chunkEnd = reader.start();
            return true;
        }
        if (reader.lineBeginsWith(parent)) {
            m_chunkEnd = reader.start();
            return reader.text().substr(parent.size()).starts_with("--");
        }
    }
    m_chunkEnd = reader.position();
    return false;
}
