// TnefReader: the attachments of a TNEF stream (the "winmail.dat" some mail
// programs send), read from a file with no trust in it.
//
// After the signature and key come attributes: level (1 byte; 0 ends),
// id (4), length (4), data, check value (2), little-endian.  An
// attachment's data (attAttachData) is given on together with the title
// (attAttachTitle) that comes before or after it within its attachment; a
// new attachment (attAttachRendData) closes the last one, titled or not.
// An attribute whose data would run past the end makes the stream
// unreadable; check values are not verified.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

struct TnefAttachment {
    std::string title;   // cut at its first NUL and at kMaxTitle bytes
    bool titled = false;
    long dataAt = 0;     // the data's offset in the file
    uint32_t dataLength = 0;
};

enum class TnefRead { NotTnef, Read, Unreadable };

class TnefReader
{
public:
    // Of a title, no more than this is read (names are cut far shorter).
    static constexpr uint32_t kMaxTitle = 1024;

    // in: the stream's file, read from its start; the reader moves in it.
    explicit TnefReader(FILE* in) : m_in(in) {}

    // Gives each attachment to attachment, in order; one that returns false
    // stops the reading, which is then Unreadable.
    TnefRead read(const std::function<bool(const TnefAttachment&)>& attachment);
    // The data of attachment into out; false when the file ends short of it.
    // The reading position is kept.
    bool copyData(const TnefAttachment& attachment, FILE* out);

private:
    bool readLe(size_t bytes, uint32_t& value);

    FILE* m_in;
};
