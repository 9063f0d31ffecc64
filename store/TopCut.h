// TopCut: how much of a message text (ending in CR LF "." CR LF) the reply
// to TOP n lines carries: the header up to and with its blank line, then at
// most lines lines of the body, never the text's own "." line.  The reply
// then gets one "." line of its own.  A text without a blank line is all
// header: it goes whole, its own "." line with it.  RETR is the cut that
// takes everything (lines below 0).
#pragma once

class TopCut
{
public:
    // total: the text's length, its "." line included.
    TopCut(long lines, long total);

    // Of the next got bytes of the text, how many belong to the reply; once
    // a block ends the cut, done() is true and nothing more is taken.
    long take(const char* block, long got);
    bool done() const { return m_done; }
    // The reply needs its "." line added (the text's own was cut off).
    bool needsTerminator() const { return m_lines >= 0 && m_headerEnd >= 0; }
    // Every line of the text has gone: the client has the whole message.
    bool tookAll() const { return m_lines < 0 || m_taken >= m_bodyEnd; }
    // Bytes of the body taken so far (for progress).
    long bodyBytes() const { return m_bodyBytes; }
    bool inHeader() const { return m_headerEnd < 0; }

private:
    const long m_lines;
    const long m_bodyEnd;   // where the text's own "." line begins
    int m_blankMatched = 0;
    long m_headerEnd = -1;  // just past the blank line
    long m_bodyLines = 0;
    long m_bodyBytes = 0;
    long m_offset = 0;
    long m_taken = 0;
    char m_previous = '\0';
    bool m_done = false;
};
