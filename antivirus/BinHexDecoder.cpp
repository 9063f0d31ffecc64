#include "antivirus/BinHexDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

bool BinHexDecoder::feed(const std::string& line, size_t from)
{
    static constexpr char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
    static_assert(sizeof kAlphabet == 65, "64 characters");
    for (size_t at = from; at < line.size(); ++at) {
        const char c = line[at];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        const char* found = c == '\0' ? nullptr : std::strchr(kAlphabet, c);
        if (found == nullptr)
            return false;   // the closing ":", or damage: the data ends
        m_bits = (m_bits << 6) | static_cast<unsigned>(found - kAlphabet);
        if (++m_count == 4) {
            emit(static_cast<unsigned char>(m_bits >> 16));
            emit(static_cast<unsigned char>(m_bits >> 8));
            emit(static_cast<unsigned char>(m_bits));
            m_bits = 0;
            m_count = 0;
        }
    }
    return true;
}

void BinHexDecoder::finish()
{
    if (m_count >= 2)
        emit(static_cast<unsigned char>(m_bits >> (6 * m_count - 8)));
    if (m_count == 3)
        emit(static_cast<unsigned char>(m_bits >> 2));
    m_count = 0;
}

void BinHexDecoder::emit(unsigned char byte)
{
    if (m_marker) {
        m_marker = false;
        if (byte == 0) {
            store(0x90);
            m_last = 0x90;
        } else {
            for (unsigned i = 1; i < byte && !full(); ++i)
                store(m_last);
        }
    } else if (byte == 0x90) {
        m_marker = true;
    } else {
        store(byte);
        m_last = byte;
    }
}

void BinHexDecoder::store(unsigned char byte)
{
    if (!m_headerRead) {
        m_header += static_cast<char>(byte);
        const size_t need = static_cast<unsigned char>(m_header[0]) + size_t{22};
        if (m_header.size() == need) {
            const size_t length = static_cast<unsigned char>(m_header[0]);
            m_name = m_header.substr(1, length);
            uint32_t fork = 0;
            for (size_t i = 0; i < 4; ++i)
                fork = (fork << 8) | static_cast<unsigned char>(m_header[1 + length + 1 + 10 + i]);
            m_forkLeft = std::min<size_t>(fork, m_maxFork);
            m_headerRead = true;
        }
    } else if (m_forkLeft > 0) {
        m_fork += static_cast<char>(byte);
        --m_forkLeft;
    }
}
