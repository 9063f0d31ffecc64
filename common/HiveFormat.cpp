#include "common/HiveFormat.h"

#include "common/TextUtils.h"

#include <cstdio>

namespace hiveformat {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Splits data into lines the way the hive reader does.
class LineReader
{
public:
    explicit LineReader(std::string_view data) : m_data(data) {}

    bool atEnd() const { return m_pos >= m_data.size(); }
    int peek() const { return atEnd() ? -1 : static_cast<unsigned char>(m_data[m_pos]); }
    size_t position() const { return m_pos; }
    void skipTo(size_t pos) { m_pos = pos; }

    // The next line without its line end; too long: true with tooLong set.
    bool next(std::string_view& line, bool& tooLong)
    {
        if (atEnd())
            return false;
        size_t end = m_data.find('\n', m_pos);
        const size_t stop = end == std::string_view::npos ? m_data.size() : end;
        line = m_data.substr(m_pos, stop - m_pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        tooLong = line.size() > kMaxHiveLine;
        m_pos = end == std::string_view::npos ? m_data.size() : end + 1;
        return true;
    }

private:
    std::string_view m_data;
    size_t m_pos = 0;
};

// False when the record does not parse (it is dropped).
bool processRecord(const std::string& record, Entries& entries)
{
    // record starts with '"'
    const size_t close = record.find('"', 1);
    if (close == std::string::npos)
        return false;
    std::string path;
    decode(std::string_view(record).substr(0, close + 1), path);
    path = upperPath(path);
    std::string value;
    const size_t equals = record.find('=', close + 1);
    if (equals != std::string::npos) {
        size_t start = equals + 1;
        while (start < record.size() && isSpace(record[start]))
            ++start;
        value = record.substr(start);
        if (value.empty())
            return false;
    }
    entries.emplace(std::move(path), std::move(value));
    return true;
}

} // namespace

std::string encode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '%') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02x", byte);
            out += hex;
        }
    }
    out += '"';
    return out;
}

bool decode(std::string_view text, std::string& out)
{
    out.clear();
    const size_t open = text.find('"');
    if (open == std::string_view::npos)
        return false;
    for (size_t i = open + 1; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
            hexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return true;
}

std::string wrap(std::string_view value)
{
    std::string out;
    for (size_t pos = 0; pos < value.size(); pos += kWrapWidth) {
        if (pos > 0)
            out += "\n+";
        out += value.substr(pos, kWrapWidth);
    }
    return out;
}

std::string upperPath(std::string_view path)
{
    std::string out(path);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

Parsed parseHive(std::string_view data)
{
    Parsed parsed;
    size_t pos = 0;
    while (pos < data.size() && isSpace(data[pos]))
        ++pos;
    uint64_t number = 0;
    const size_t digits = pos;
    while (pos < data.size() && data[pos] >= '0' && data[pos] <= '9') {
        number = number * 10 + static_cast<unsigned>(data[pos] - '0');
        if (number > 0xFFFFFFFFull)
            number = 0xFFFFFFFFull + 1;   // saturate: keeps the loop defined
        ++pos;
    }
    if (pos == digits)
        return parsed;
    parsed.hasSequence = true;
    parsed.sequence = static_cast<uint32_t>(number);
    while (pos < data.size() && isSpace(data[pos]))
        ++pos;

    LineReader reader(data);
    reader.skipTo(pos);
    std::string record;
    std::string_view line;
    bool tooLong = false;
    bool dropping = false;   // the record holds an over-long line
    bool ended = false;      // the end marker was read
    bool damaged = false;    // a line or record no writer of this format makes
    while (reader.next(line, tooLong)) {
        if (line.empty())
            continue;
        if (line[0] == '~') {
            ended = true;
            break;
        }
        if (tooLong) {
            // Cannot have been written by a writer of this format: the
            // record it belongs to is dropped.
            dropping = true;
            damaged = true;
            record.clear();
        } else if (line[0] == '"') {
            record.assign(line);
            dropping = false;
        } else if (line[0] == '+') {
            if (!dropping && record.empty())
                damaged = true;   // a continuation of nothing
            if (!dropping)
                record.append(line.substr(1));
        } else {
            damaged = true;
        }
        if (reader.peek() != '+' && !record.empty() && record[0] == '"') {
            damaged = !processRecord(record, parsed.entries) || damaged;
            record.clear();
        }
        if (reader.peek() != '+')
            dropping = false;
    }
    if (!record.empty() && record[0] == '"')
        damaged = !processRecord(record, parsed.entries) || damaged;
    parsed.whole = ended && !damaged;
    return parsed;
}

bool recordFits(std::string_view path, std::string_view value)
{
    size_t first = encode(path).size();
    if (!value.empty())
        first += 3 + (value.size() < kWrapWidth ? value.size() : kWrapWidth);
    return first <= kMaxHiveLine;
}

std::string formatHive(uint32_t sequence, const Entries& entries)
{
    std::string out = std::to_string(sequence) + "\r\n";
    for (const auto& [path, value] : entries) {
        out += encode(path);
        if (!value.empty()) {
            out += " = ";
            for (char c : wrap(value)) {
                if (c == '\n')
                    out += '\r';
                out += c;
            }
        }
        out += "\r\n";
    }
    out += "~\r\n";
    return out;
}

} // namespace hiveformat
