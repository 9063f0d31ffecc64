// The POP3 framing of a message text (RFC 1939): a line that begins with
// "." is sent with a second "." before it, and the text ends with a line
// of "." alone.  Every reader of framed text asks these two questions here.
#pragma once

#include <string_view>

// line, with its LF or CR LF, is the terminating line.
inline bool isDotLine(std::string_view line)
{
    return line == ".\r\n" || line == ".\n";
}

// line with its stuffed leading "." taken off.
inline std::string_view unstuffed(std::string_view line)
{
    return line.starts_with("..") ? line.substr(1) : line;
}
