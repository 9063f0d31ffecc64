#include "analysis/BodyDecoding.h"

#include "common/Base64.h"
#include "common/TextUtils.h"

#include <cstring>
#include <strings.h>

namespace {

constexpr const char* kBreakTags[] = {"<br>", "<td>", "</td>", "<p>", "<li>", "<hr>"};

size_t breakTagLength(const char* text)
{
    for (const char* tag : kBreakTags) {
        const size_t length = std::strlen(tag);
        if (::strncasecmp(text, tag, length) == 0)
            return length;
    }
    return 0;
}

} // namespace

size_t decodeQuotedPrintable(const char* in, size_t length, char* out)
{
    size_t written = 0;
    size_t i = 0;
    while (i < length) {
        const char c = in[i];
        if (c != '=') {
            out[written++] = c;
            ++i;
            continue;
        }
        if (i + 2 < length && in[i + 1] == '\r' && in[i + 2] == '\n') {
            i += 3;
            continue;
        }
        if (i + 1 < length && in[i + 1] == '\n') {
            i += 2;
            continue;
        }
        if (i + 2 < length) {
            const int high = hexDigitValue(in[i + 1]);
            const int low = hexDigitValue(in[i + 2]);
            if (high >= 0 && low >= 0) {
                out[written++] = static_cast<char>(high * 16 + low);
                i += 3;
                continue;
            }
        }
        // A malformed escape stays as it is, "=" and the byte after it, and
        // decoding goes on after them: "=4G" stays "=4G", "==41" stays "==41".
        out[written++] = '=';
        if (i + 1 < length)
            out[written++] = in[i + 1];
        i += 2;
    }
    return written;
}

size_t decodeBase64Lines(char* text, size_t length)
{
    size_t written = 0;
    size_t lineStart = 0;
    while (lineStart < length) {
        const void* found = std::memchr(text + lineStart, '\n', length - lineStart);
        const size_t lineEnd = found ? static_cast<size_t>(static_cast<const char*>(found) - text)
                                     : length;
        // MimeDecodeLine wants a C string: the line feed (or the byte after
        // the text, its terminator) becomes the line's NUL.  Its output never
        // reaches the unread input, as four characters give three bytes.
        const char saved = text[lineEnd];
        text[lineEnd] = '\0';
        written += static_cast<size_t>(MimeDecodeLine(text + lineStart, text + written));
        text[lineEnd] = saved;
        lineStart = lineEnd + 1;
    }
    text[written] = '\0';
    return written;
}

size_t stripMarkup(char* text)
{
    char* out = text;
    const char* in = text;
    while (*in != '\0') {
        if (*in == '<') {
            if (const size_t tag = breakTagLength(in)) {
                *out++ = ' ';
                in += tag;
                continue;
            }
            const char* close = std::strchr(in, '>');
            if (close == nullptr)
                break;
            in = close + 1;
            continue;
        }
        *out++ = *in++;
    }
    *out = '\0';
    return static_cast<size_t>(out - text);
}
