// BinHexDecoder: a BinHex 4.0 stream, line by line, with no trust in it.
//
// The characters of its 6-bit alphabet, four to three bytes, then run-length
// expansion of the byte stream (0x90 n: the byte before repeated to n copies
// in all; 0x90 0: the byte 0x90 itself), then the header (name length, name,
// version, type, creator, flags, data-fork length, resource-fork length,
// header check value) and the data fork, of which at most maxFork bytes are
// kept.  The expansion is applied: without it a compressed fork would be
// judged in a form no engine recognises.  Check values are not verified.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

class BinHexDecoder
{
public:
    explicit BinHexDecoder(size_t maxFork) : m_maxFork(maxFork) {}

    // Feeds the characters of one line from from, up to the closing ":" or
    // a character outside the alphabet; false when the data has ended.
    bool feed(const std::string& line, size_t from = 0);
    // The bytes of an unfinished group of characters (two or three).
    void finish();
    bool headerRead() const { return m_headerRead; }
    const std::string& name() const { return m_name; }
    // Data-fork bytes decoded since the last call.
    std::string takeFork() { return std::exchange(m_fork, {}); }

private:
    void emit(unsigned char byte);
    bool full() const { return m_headerRead && m_forkLeft == 0; }
    void store(unsigned char byte);

    size_t m_maxFork;
    unsigned m_bits = 0;
    int m_count = 0;
    bool m_marker = false;
    unsigned char m_last = 0;
    std::string m_header;
    bool m_headerRead = false;
    std::string m_name;
    size_t m_forkLeft = 0;
    std::string m_fork;
};
