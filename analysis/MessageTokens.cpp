#include "analysis/MessageTokens.h"

#include "analysis/BodyDecoding.h"
#include "analysis/Chunk.h"
#include "analysis/EncodedWords.h"
#include "analysis/LineReader.h"
#include "analysis/MimeParameter.h"
#include "analysis/WordExtraction.h"
#include "common/CEventLog.h"
#include "common/TextUtils.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

// Header names longer than this are not real fields; their words still
// count, but under no name.
constexpr size_t kMaxFieldName = 40;
// A list server's footer is a few lines at the very end of the text.
constexpr size_t kListFooter = 1200;
// A line of 20 dashes or underscores is a rule, not text.
constexpr size_t kMinRule = 20;
// A host name is at most 253 bytes; anything longer is not one.
constexpr size_t kMaxHost = 253;
// How many encoded bytes are read for each decoded byte still wanted: base64
// takes 4 for 3, quoted-printable a little more than 1.
constexpr size_t kEncodedPerDecoded = 2;

bool usefulWord(std::string_view word)
{
    if (word.size() < kMinWord)
        return false;
    return !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Adds prefix + each useful word of text.
void addWords(std::string_view text, const std::string& prefix, TokenSet& tokens)
{
    std::string token = prefix;
    forEachWord(text, [&](std::string_view word) {
        if (!usefulWord(word))
            return;
        token.resize(prefix.size());
        token.append(word);
        tokens.insert(token);
    });
}

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool hostByte(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
}

// The host name at the start of text, in lower case, without trailing dots;
// empty when there is none or it is too long to be one.
std::string hostAt(std::string_view text)
{
    size_t length = 0;
    while (length < text.size() && hostByte(text[length]))
        ++length;
    if (length > kMaxHost)
        return {};
    std::string host = lower(text.substr(0, length));
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    return host.find('.') == std::string::npos ? std::string() : host;
}

void addHost(const std::string& prefix, const std::string& host, TokenSet& tokens)
{
    if (host.empty())
        return;
    tokens.insert(prefix + host);
    // The registered name stays the same while spammers vary the rest.
    const size_t last = host.rfind('.');
    const size_t second = last == 0 ? std::string::npos : host.rfind('.', last - 1);
    if (second != std::string::npos)
        tokens.insert(prefix + host.substr(second + 1));
}

void addLinkHosts(std::string_view text, TokenSet& tokens)
{
    size_t at = 0;
    while ((at = text.find("://", at)) != std::string_view::npos) {
        const size_t schemeStart = at >= 5 ? at - 5 : 0;
        const std::string scheme = lower(text.substr(schemeStart, at - schemeStart));
        at += 3;
        if (scheme.ends_with("http") || scheme.ends_with("https"))
            addHost("url:", hostAt(text.substr(at)), tokens);
    }
}

// The fields that keep their name on their words: who sent the message, to
// whom, how, and what it says it is.  The words of other fields (mailing
// list fields, most of all, which repeat the same words in six fields) are
// counted once, as header words ("h:WORD"): as many tokens as fields would
// count one piece of evidence many times over.
bool namedField(const std::string& name)
{
    static const char* const kNamed[] = {"subject", "from", "to", "cc", "reply-to", "return-path", "sender",
                                         "x-mailer", "user-agent", "content-type", "message-id", "received"};
    for (const char* named : kNamed)
        if (name == named)
            return true;
    return false;
}

// The fields a mailing list's server adds or sets on every message it sends
// out: the list's name and addresses (List-*, Mailing-List), the server's own
// marks, and the list's address as the sender (Sender, Errors-To).  They
// say which list a message came through, not what the poster wrote: spam
// posted to a list the user reads carries them just as the list's wanted
// mail does, and they would outweigh its text.
bool listField(const std::string& name)
{
    return name.starts_with("list-") || name == "mailing-list" || name == "x-mailman-version" ||
           name == "x-beenthere" || name == "x-loop" || name == "precedence" || name == "errors-to" ||
           name == "sender";
}

// The fields that only a mailing list's server adds: a message with one of
// them came through a list.
bool listMark(const std::string& name)
{
    return name == "list-id" || name == "list-post" || name == "list-unsubscribe" || name == "mailing-list" ||
           name == "x-mailman-version" || name == "x-beenthere";
}

// The fields whose address says who sent the message.
bool senderField(const std::string& name)
{
    return name == "from" || name == "reply-to" || name == "return-path" || name == "sender";
}

// A field value with its RFC 2047 encoded words decoded, their bytes as
// they are in their character set, each followed by a blank.
std::string decodeEncodedWords(std::string_view value)
{
    // Most fields hold no encoded word: no pieces are made for them.
    if (value.find("=?") == std::string_view::npos)
        return std::string(value);
    std::string out;
    for (const FieldPiece& piece : fieldPieces(value)) {
        out += piece.bytes;
        if (piece.encoded)
            out += ' ';
    }
    return out;
}

void addField(const std::string& field, std::string_view value, bool fromList, TokenSet& tokens)
{
    if (field == "x-quillfence-pro")
        return;
    if (fromList && listField(field))
        return;
    const std::string text = decodeEncodedWords(value);
    addWords(text, namedField(field) ? field + ":" : std::string("h:"), tokens);
    if (field == "subject")
        addWords(text, std::string(), tokens);
    if (senderField(field)) {
        const size_t at = text.find('@');
        if (at != std::string::npos)
            addHost(field + ":", hostAt(std::string_view(text).substr(at + 1)), tokens);
    }
}

// Calls visit(name in lower case, value) for each field of a raw header
// block: one field per line, a line that starts with white space continuing
// the one before.
template <typename Visit>
void forEachField(std::string_view block, Visit&& visit)
{
    std::string name;
    std::string value;
    bool inField = false;
    size_t at = 0;
    while (at < block.size()) {
        size_t end = block.find('\n', at);
        if (end == std::string_view::npos)
            end = block.size();
        std::string_view line = block.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (inField) {
                value += ' ';
                value.append(line);
            }
            continue;
        }
        if (inField)
            visit(lower(name), std::string_view(value));
        inField = false;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        name.assign(line.substr(0, colon));
        value.assign(line.substr(colon + 1));
        inField = true;
    }
    if (inField)
        visit(lower(name), std::string_view(value));
}

// Adds the tokens of a raw header block; true when the message came
// through a mailing list.
bool addHeaderTokens(const char* header, TokenSet& tokens)
{
    if (header == nullptr)
        return false;
    const std::string_view block(header);
    bool fromList = false;
    forEachField(block, [&](const std::string& name, std::string_view) { fromList = fromList || listMark(name); });
    forEachField(block, [&](const std::string& name, std::string_view value) { addField(name, value, fromList, tokens); });
    return fromList;
}

bool separatorLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line == "-- " || line == "--")
        return true;
    const auto all = [&](char mark) { return std::all_of(line.begin(), line.end(), [&](char c) { return c == mark; }); };
    return line.size() >= kMinRule && (all('-') || all('_'));
}

// The length of text without the footer a mailing list's server appends:
// from the first separator line ("-- ", or a rule of dashes or underscores)
// that starts in the last kListFooter bytes and is followed by text holding
// "list" in any case, anywhere ("mailing list", "listinfo", but also
// "specialist": a signature is cut then too).  Like the list's
// fields, the footer is the same on the list's spam as on its wanted mail.
// text[size] is NUL.
size_t withoutListFooter(const char* text, size_t size)
{
    size_t at = size > kListFooter ? size - kListFooter : 0;
    while (at < size) {
        const char* lineEnd = static_cast<const char*>(std::memchr(text + at, '\n', size - at));
        const size_t end = lineEnd == nullptr ? size : static_cast<size_t>(lineEnd - text);
        if ((at == 0 || text[at - 1] == '\n') && separatorLine(std::string_view(text + at, end - at)) &&
            stristr(text + end, "list") != nullptr)
            return at;
        at = end + 1;
    }
    return size;
}

// The value of a content-type parameter ("charset"), lower case, or empty.
std::string parameter(const std::string& contentType, const char* name)
{
    const std::string value = mimeParameter(contentType, name).value_or(std::string());
    return lower(value.substr(0, std::min<size_t>(40, value.find_first_of("\"; \t\r\n"))));
}

struct TextKinds {
    bool html = false;
    bool plain = false;
};

// The decoded text of one text part, at most budget bytes of it; budget is
// reduced by what was used.  The footer of a list's server is left out of
// the text of a message that came through a list.
void addBodyTokens(FILE* file, Chunk& chunk, const std::string& contentType, bool fromList, size_t& budget,
                   TokenSet& tokens)
{
    const int64_t start = chunk.bodyStart();
    int64_t end = chunk.chunkEnd();
    if (end <= start)
        end = messageFileLength(file);
    if (end <= start || budget == 0)
        return;
    const size_t wanted = std::min(static_cast<size_t>(end - start), budget * kEncodedPerDecoded);
    auto text = std::make_unique_for_overwrite<char[]>(wanted + 1);
    size_t size = 0;
    if (::fseeko(file, start, SEEK_SET) == 0)
        size = std::fread(text.get(), 1, wanted, file);
    text[size] = '\0';

    std::string encoding;
    chunk.getHeader(file, "CONTENT-TRANSFER-ENCODING", encoding);
    if (stristr(encoding.c_str(), "base64"))
        size = decodeBase64Lines(text.get(), size);
    else if (stristr(encoding.c_str(), "quoted-printable"))
        size = decodeQuotedPrintable(text.get(), size, text.get());
    size = std::min(size, budget);
    text[size] = '\0';
    budget -= size;
    if (fromList) {
        size = withoutListFooter(text.get(), size);
        text[size] = '\0';
    }

    addLinkHosts(std::string_view(text.get(), size), tokens);
    if (stristr(contentType.c_str(), "text/html") || stristr(contentType.c_str(), "text/enriched"))
        size = stripMarkup(text.get());
    addWords(std::string_view(text.get(), size), std::string(), tokens);
}

void addPartTokens(FILE* file, Chunk& chunk, bool fromList, size_t& budget, TextKinds& kinds, TokenSet& tokens)
{
    std::string contentType;
    chunk.getHeader(file, "CONTENT-TYPE", contentType);
    std::string type = lower(contentType.substr(0, contentType.find_first_of("; \t\r\n")));
    if (type.size() > kMaxFieldName)
        type.resize(kMaxFieldName);
    if (!type.empty())
        tokens.insert("type:" + type);
    const std::string charset = parameter(contentType, "charset");
    if (!charset.empty())
        tokens.insert("charset:" + charset);
    std::string encoding;
    if (chunk.getHeader(file, "CONTENT-TRANSFER-ENCODING", encoding)) {
        std::string name = lower(encoding.substr(0, std::min<size_t>(kMaxFieldName, encoding.find_first_of("; \t\r\n"))));
        if (!name.empty())
            tokens.insert("encoding:" + name);
    }
    if (type.starts_with("multipart/"))
        return;
    const bool text = type.empty() || type.starts_with("text/");
    if (!text)
        return;
    std::string disposition;
    chunk.getHeader(file, "CONTENT-DISPOSITION", disposition);
    if (stristr(disposition.c_str(), "attachment"))
        return;
    if (type == "text/html")
        kinds.html = true;
    else
        kinds.plain = true;
    addBodyTokens(file, chunk, contentType, fromList, budget, tokens);
}

} // namespace

void tokenizeMessage(FILE* file, TokenSet& tokens)
{
    if (file == nullptr)
        return;
    try {
        Chunk::List parts;
        parts.push_back(std::make_unique<Chunk>(0));
        parts.front()->parseStructure(true, file, parts, nullptr);
        const bool fromList = addHeaderTokens(parts.front()->headerText(), tokens);
        size_t budget = kMaxText;
        TextKinds kinds;
        for (const auto& part : parts)
            addPartTokens(file, *part, fromList, budget, kinds, tokens);
        if (kinds.html && !kinds.plain)
            tokens.insert("html-only");
    } catch (...) {
        DebugX(__FILE__, __LINE__);
    }
}
