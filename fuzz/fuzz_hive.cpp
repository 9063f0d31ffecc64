// Arbitrary bytes as a hive file: loading must not fail, and whatever loads
// must write back and load again to the same entries.
#include "common/HiveFormat.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const hiveformat::Parsed parsed = hiveformat::parseHive(text);
    for (const auto& [path, value] : parsed.entries) {
        // Entries the loader accepts fit the writer's lines, except paths
        // whose encoded form grew (bytes read raw, written as %xx).
        if (!hiveformat::recordFits(path, value))
            return 0;
    }
    const hiveformat::Parsed again =
        hiveformat::parseHive(hiveformat::formatHive(parsed.sequence, parsed.entries));
    if (!again.hasSequence || again.sequence != parsed.sequence || again.entries != parsed.entries)
        __builtin_trap();
    return 0;
}
