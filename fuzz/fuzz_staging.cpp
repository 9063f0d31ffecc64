// The archive's staging file reader over any bytes, as a file damaged on
// disk or cut short by a crash may hold.  Traps when a record it returns
// lies outside the file, overlaps the one before, or is out of order, or
// when the whole records end past the file's end.
#include "store/StagingFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = ::memfd_create("staging", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    for (size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put <= 0) {
            ::close(fd);
            return 0;
        }
        done += static_cast<size_t>(put);
    }
    StagingContents contents;
    if (StagingFile::read(fd, contents)) {
        long previousEnd = 0;
        for (const StagedCopy& copy : contents.copies) {
            if (copy.offset < previousEnd || copy.length < 0 || copy.offset + copy.length > static_cast<long>(size) ||
                copy.lengthAt >= copy.offset || copy.key.empty() || copy.key.size() > StagingFile::kMaxKey)
                std::abort();
            previousEnd = copy.offset + copy.length;
        }
        if (contents.end > static_cast<long>(size) || contents.end < previousEnd)
            std::abort();
        if (!contents.recorded && !contents.copies.empty())
            std::abort();
    }
    ::close(fd);
    return 0;
}
