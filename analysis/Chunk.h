// Chunk: one MIME header block of a spooled message and the body after it,
// addressed by byte offsets into the message file.
//
// The whole message is a chunk starting at offset 0; parseStructure with
// recurse set appends every part of a multipart body, at every depth, to a
// flat list (each part before its own sub-parts).  Everything is worked out
// on first request and kept: the header map, the structure, the decoded body
// and the word sets.
//
// Every operation takes the open message file (binary, read-only use) and
// moves its position freely; the chunk never owns or closes it.  No file
// content makes an operation crash or overrun: a header block without a blank
// line ends at the end of the file, a boundary that never comes gives no
// parts, nesting deeper than kMaxDepth and parts beyond kMaxChunks are not
// split further.  Failures inside an operation go to the exception trap and
// the query answers "not found" (false, 0, nothing).
//
// With the setting ChunkLogging on, the chunk logs its life and work at
// level 4 under an eight-hex-digit identity, and writes each decoded body to
// "<data root>/state/segment%08x.dat".
#pragma once

#include "analysis/WordExtraction.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class Chunk
{
public:
    using List = std::vector<std::unique_ptr<Chunk>>;
    using HeaderMap = std::map<std::string, std::string>;

    // Multiparts nested deeper than this are kept whole: real mail nests a
    // few levels, and the parser recurses once per level.
    static constexpr int kMaxDepth = 64;
    // No more parts than this are split off one message: a rule addresses
    // parts by number, and each part costs memory for as long as the message
    // is open.
    static constexpr size_t kMaxChunks = 4096;
    // The body is read, decoded and matched up to this many bytes of it: a
    // larger one is judged by its beginning, so that judging a message takes
    // memory in proportion to this, not to the message.
    static constexpr int64_t kMaxBodyRead = 2 * 1024 * 1024;

    explicit Chunk(int64_t chunkStart);
    virtual ~Chunk();
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;

    // Parses the header block once: upper-cased names, unfolded values, the
    // last of repeated names wins.  The block ends after its empty line, or
    // before a "." line or a line beginning with delimiter (the enclosing
    // multipart's "--boundary", for a part whose header runs into the next
    // one); a line without a colon is no field and does not end it.  Leaves
    // the file at bodyStart.
    void parseHeader(FILE* file, std::string_view delimiter = {});
    // Parses the header; with recurse, appends the parts of a multipart body
    // to list (recursively) and sets chunkEnd.  parentDelimiter is the "--"
    // boundary line of the enclosing multipart, null for the whole message.
    // True when the caller must look for no further sibling parts.
    bool parseStructure(bool recurse, FILE* file, List& list, const char* parentDelimiter);

    // name is matched exactly (callers pass it upper-cased).  out is left
    // unchanged when the result is false.
    bool getHeader(FILE* file, const std::string& name, std::string& out);
    // Every value of the field name (upper-cased) in the order of the block,
    // the one getHeader gives last; empty without the field.
    std::vector<std::string> headerValues(FILE* file, const std::string& name);
    // The n-th (1-based) header in byte order of the upper-cased names.
    bool getHeaderName(FILE* file, int n, std::string& out);
    bool getHeaderValue(FILE* file, int n, std::string& out);
    // The number of distinct header names, user macros included.
    int headerCount(FILE* file);
    // Replaces each "%%NAME%%" of templateText with the value of header NAME
    // (any letter case; unknown names give nothing); an unmatched "%%" stays.
    // True when the text after the last macro holds CR LF.
    bool expandMacros(FILE* file, const std::string& templateText, std::string& out);
    // Sets the header entry USER1 to USER4; other n are ignored.
    void setUserMacro(int n, const std::string& text);

    // Decodes the body once (base64, quoted-printable or as it is; markup of
    // text/html and text/enriched stripped).  A multipart chunk has no
    // decoded body.
    void decodeBody(FILE* file);
    void parseHeaderWords(FILE* file);
    void parseBodyWords(FILE* file);
    // Occurrences of word (looked up exactly as given, so upper case).
    int32_t headerWordCount(FILE* file, const std::string& word);
    int32_t bodyWordCount(FILE* file, const std::string& word);
    // WildcardMatch of the decoded body; false without one.
    bool matchDecodedBody(FILE* file, const char* pattern);
    // WildcardMatch of the body as it stands in the file.
    bool matchRawBody(FILE* file, const char* pattern);

    int64_t chunkStart() const { return m_chunkStart; }
    int64_t bodyStart() const { return m_bodyStart; }
    // 0 until the structure parse or the body decoding sets it.
    int64_t chunkEnd() const { return m_chunkEnd; }
    const HeaderMap& headers() const { return m_headers; }
    // Null until the header is parsed, and when the block ended at a "." line.
    const char* headerText() const { return m_headerText.get(); }
    // strlen(headerText()), 0 without it.
    size_t headerLength() const { return m_headerLength; }
    const char* decodedBody() const { return m_decodedBody.get(); }
    // strlen(decodedBody()) once decodeBody has run.
    size_t decodedLength() const { return m_decodedLength; }
    const char* rawBody() const { return m_rawBody; }
    // The words parseHeaderWords and parseBodyWords found, in byte order,
    // and how often each occurs.
    WordSet headerWords() const { return wordsOf(m_headerWordCounts); }
    WordSet bodyWords() const { return wordsOf(m_bodyWordCounts); }
    const WordCounts& headerWordCounts() const { return m_headerWordCounts; }
    const WordCounts& bodyWordCounts() const { return m_bodyWordCounts; }
    // The identity in the log lines: distinct for every chunk of the process.
    uint32_t identity() const { return m_identity; }

private:
    bool parseParts(FILE* file, List& list, const char* parentDelimiter, int depth);
    // The n-th header in map order, null when n is out of range.
    const HeaderMap::value_type* nthHeader(FILE* file, int n);
    void readHeaderText(FILE* file);
    // Where the body ends for decoding and raw matches: chunkEnd once known,
    // else the end of the file.
    int64_t bodyEnd(FILE* file) const;
    // Where reading the body for decoding and raw matches stops: bodyEnd,
    // or kMaxBodyRead bytes into the body.
    int64_t readEnd(FILE* file) const;
    void loadRawBody(FILE* file);
    void writeSegmentFile() const;

    HeaderMap m_headers;
    // The earlier values of fields that occur more than once.
    std::multimap<std::string, std::string> m_earlierValues;
    int64_t m_bodyStart = 0;
    int64_t m_chunkStart;
    std::unique_ptr<char[]> m_headerText;
    size_t m_headerLength = 0;
    size_t m_decodedLength = 0;   // strlen(m_decodedBody)
    std::unique_ptr<char[]> m_decodedBody;
    // The undecoded body: either m_ownRawBody or, for a body taken as it
    // stands, the decoded buffer itself.
    char* m_rawBody = nullptr;
    std::unique_ptr<char[]> m_ownRawBody;
    size_t m_ownRawLength = 0;   // strlen(m_ownRawBody)
    bool m_headerParsed = false;
    int64_t m_chunkEnd = 0;
    WordCounts m_bodyWordCounts;
    WordCounts m_headerWordCounts;
    bool m_headerWordsDone = false;
    bool m_bodyWordsDone = false;
    bool m_bodyDecoded = false;
    uint32_t m_identity;
};
