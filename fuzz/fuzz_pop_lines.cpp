// Reads the input as the lines the proxy parses alone: the argument of a
// client's USER, the lines of a server's LIST and UIDL listings and its
// greeting.  Traps on a crash or when an accepted login address breaks what
// its users rely on: a host, a port of at least 1, an account file name of
// bounded length that cannot leave the state folder; or on an APOP
// timestamp that is not a bracketed piece of the greeting within its limit.
#include "proxy/LoginAddress.h"
#include "upstream/ListingLines.h"
#include "upstream/LoginMethods.h"

#include <cstdint>
#include <string>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const char separator : {'@', '#'}) {
        LoginAddress address;
        if (parseLoginAddress(text, separator, address) != LoginAddressFault::None)
            continue;
        check(!address.host.empty() && address.port >= 1);
        check(address.accountFile.size() <= kMaxAccountFile);
        check(address.accountFile.find('/') == std::string::npos);
        const std::string& file = address.accountFile;
        check(file.size() > 4 && file.compare(file.size() - 4, 4, ".dat") == 0);
    }
    long listed = -1;
    if (parseListLine(text, 1L << 30, listed))
        check(listed >= 0 && listed <= (1L << 30));
    uidOfUidlLine(text);
    std::string timestamp;
    if (apopTimestampOf(text, timestamp) == TimestampFault::None && !timestamp.empty()) {
        check(timestamp.size() <= kMaxTimestamp && timestamp.front() == '<' && timestamp.back() == '>');
        check(text.find(timestamp) == text.find('<'));
    }
    return 0;
}
