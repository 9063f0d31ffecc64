// LineReader: bounded line reads from an open message file.
//
// next() reads one piece: the bytes up to and including the next LF, at most
// `limit` bytes, or what is left before end of file.  A physical line longer
// than the limit comes in several pieces; lineStart() tells the first piece
// of a line from the later ones, so that a tail of a long line is never taken
// for a blank line, a "." line or a MIME boundary.  The reader reads wherever
// the file stands and counts positions from there; callers that seek the file
// make a new reader.  The file's own position moves with every read.  Pieces
// may hold NUL bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

class LineReader
{
public:
    LineReader(FILE* file, size_t limit);

    // False at end of file or on a read error, with nothing read.
    bool next();

    std::string_view text() const { return {m_buffer.data(), m_size}; }
    // File offset of the piece's first byte, and just past its last.
    int64_t start() const { return m_start; }
    int64_t position() const { return m_position; }
    // The piece begins a physical line.
    bool lineStart() const { return m_lineStart; }

    // A whole line that is empty: CR LF, or a bare LF.
    bool isBlankLine() const;
    // A whole line that is the POP3 end-of-message line "." CR LF (or "." LF).
    bool isDotLine() const;
    // The piece begins a line and starts with prefix (plain byte comparison).
    bool lineBeginsWith(std::string_view prefix) const;

private:
    FILE* m_file;
    size_t m_limit;
    std::vector<char> m_buffer;
    size_t m_size = 0;
    int64_t m_start = 0;
    int64_t m_position = 0;
    bool m_lineStart = true;
    bool m_nextStartsLine = true;
};

// The length of the open file in bytes; 0 when it cannot be found out.
int64_t messageFileLength(FILE* file);
