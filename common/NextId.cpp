// GetNextId: numbers reserved from the shared counter in blocks, so that
// handing one out costs no disk wait.
#include "common/CRegistry.h"

#include "common/CEventLog.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace {

// The first block, and the largest: a block left unused when the process
// ends is a gap in the 20-bit numbers, so blocks stay small next to the
// million numbers the spool names cycle through.
constexpr uint32_t kFirstBlock = 64;
constexpr uint32_t kLargestBlock = 4096;
constexpr uint32_t kGrowth = 4;
// A block used up within this time is followed by a larger one.
constexpr auto kBusyPeriod = std::chrono::minutes(1);
// An identifier names a spool file: handing one out twice could put one
// message in place of another.  So the counter is only ever moved under its
// lock, waiting up to this many lock waits of a second each.
constexpr int kCounterAttempts = 10;

struct Reserved {
    std::mutex mutex;
    pid_t owner = 0;        // the process that reserved the block
    uint32_t next = 0;      // the next number to hand out
    uint32_t left = 0;      // numbers of the block not yet handed out
    uint32_t size = kFirstBlock;   // the size of the next block
    std::chrono::steady_clock::time_point reservedAt;
};

Reserved& reserved()
{
    static Reserved block;
    return block;
}

// Moves the counter on by count under its lock and writes it back; the first
// number of the reserved run in first.  False when the lock could not be had.
bool reserveRun(uint32_t count, uint32_t& first, std::string& hivePath)
{
    for (int attempt = 0; attempt < kCounterAttempts; ++attempt) {
        CRegistry reg;
        if (!reg.CreateKey(eRegSystem, "global", "", true))
            return false;
        hivePath = reg.regKey()->path();
        int last = 0;
        if (reg.IncValue("NextId", static_cast<int>(count), last)) {
            // Handed out only once the file shows the counter past them.
            if (!reg.regKey()->save())
                return false;
            // The counter holds the last number of the run; it wraps as
            // the 32-bit value it is.
            first = static_cast<uint32_t>(last) - count + 1;
            return true;
        }
    }
    return false;
}

} // namespace

int GetNextId()
{
    Reserved& block = reserved();
    std::string hivePath;
    {
        std::lock_guard<std::mutex> lock(block.mutex);
        // A child made by fork has a copy of its parent's block: the parent
        // hands those numbers out itself.
        const pid_t self = ::getpid();
        if (block.owner != self) {
            block.owner = self;
            block.left = 0;
            block.size = kFirstBlock;
        }
        if (block.left == 0) {
            const auto now = std::chrono::steady_clock::now();
            uint32_t first = 0;
            if (reserveRun(block.size, first, hivePath)) {
                block.next = first;
                block.left = block.size;
                block.reservedAt = now;
                block.size = block.size * kGrowth > kLargestBlock ? kLargestBlock : block.size * kGrowth;
            }
        }
        if (block.left > 0) {
            --block.left;
            if (block.left == 0 && std::chrono::steady_clock::now() - block.reservedAt > kBusyPeriod)
                block.size = kFirstBlock;
            return static_cast<int>(block.next++ & 0xFFFFF);
        }
    }
    // Last resort when the counter stays locked or unreadable: a number from
    // the clock and the process, unlikely to meet one in use.
    CEventLog().LogEvent(1, "Unable to lock the identifier counter in %s", hivePath.c_str());
    return static_cast<int>((static_cast<unsigned>(::time(nullptr)) ^ (static_cast<unsigned>(::getpid()) << 8)) &
                            0xFFFFF);
}
