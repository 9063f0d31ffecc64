// Feeds arbitrary bytes to commonkit's parsers of message text: the wildcard
// matcher (text and pattern taken from the input), the address extractor,
// the date parser and the base64 and uudecode line decoders.
#include "common/Base64.h"
#include "common/InternetDate.h"
#include "common/ParseAddress.h"
#include "common/TextUtils.h"
#include "common/UUDecode.h"
#include "common/WildcardMatch.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The pattern is the part up to the first NUL (at most 200 bytes, as
    // rule and list patterns are short), the text the rest.
    const auto* bytes = reinterpret_cast<const char*>(data);
    const char* nul = static_cast<const char*>(std::memchr(bytes, '\0', size));
    const size_t patternLength = nul ? static_cast<size_t>(nul - bytes) : 0;
    std::string pattern(bytes, patternLength > 200 ? 200 : patternLength);
    std::string text(nul ? nul + 1 : bytes, size - (nul ? patternLength + 1 : 0));
    text = text.c_str();   // C strings end at the first NUL

    std::string work = text;
    char* end = nullptr;
    WildcardMatch(work.data(), pattern.c_str(), &end);
    if (end < work.data() || end > work.data() + work.size())
        __builtin_trap();
    if (work != text)
        __builtin_trap();

    std::string address;
    ParseAddress(work.data(), address);
    if (address.size() > kMaxAddress)
        __builtin_trap();

    commonkit::getdate(text.c_str());
    stristr(text.c_str(), pattern.c_str());

    std::vector<char> out(text.size() + 8);
    const int decoded = MimeDecodeLine(text.c_str(), out.data());
    if (decoded < 0 || static_cast<size_t>(decoded) > text.size())
        __builtin_trap();
    char carry[4];
    std::strncpy(carry, pattern.c_str(), 3);
    carry[3] = '\0';
    MimeDecodeLineEx(text.c_str(), out.data(), carry);
    if (std::strlen(carry) > 3)
        __builtin_trap();

    char uu[kMaxUUDecodedLine];
    const int uuBytes = UUDecodeLine(text.c_str(), uu);
    if (uuBytes < 0 || static_cast<size_t>(uuBytes) > kMaxUUDecodedLine)
        __builtin_trap();
    return 0;
}
