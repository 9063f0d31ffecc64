#include "store/CollectionSpools.h"

#include "common/CEventLog.h"
#include "store/CMessage.h"
#include "store/SpoolField.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The file at path (not a symbolic link) when it holds at most limit bytes.
bool readSmallFile(const std::string& path, long limit, std::string& text)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return false;
    text.clear();
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), block, sizeof block);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        text.append(block, static_cast<size_t>(n));
        if (static_cast<long>(text.size()) > limit)
            return false;
    }
}

} // namespace

CollectionSpools::CollectionSpools(std::string folder, size_t messages)
    : m_folder(std::move(folder)), m_left(messages)
{}

CollectionSpools::~CollectionSpools()
{
    if (!m_scratchId.empty())
        ::unlink(scratchPath().c_str());
}

std::string CollectionSpools::scratchPath() const
{
    return m_folder + "/" + SpoolField::spoolFileName(m_scratchId);
}

bool CollectionSpools::scratch(std::string& path, UniqueFd& file)
{
    if (m_left > 0)
        --m_left;
    if (!m_scratchId.empty()) {
        // Opened anew by name: the filter may have replaced the file with a
        // rewritten message.  Not emptied here but cut to what was written
        // (finish): on ext4 a file emptied by truncation is flushed to disk
        // when it is closed.
        UniqueFd fd(::open(scratchPath().c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
        if (fd) {
            path = scratchPath();
            file = std::move(fd);
            return true;
        }
        ::unlink(scratchPath().c_str());
        m_scratchId.clear();
    }
    UniqueFd fd;
    std::string id = m_reserve ? m_reserve->take(fd) : std::string();
    if (id.empty())
        id = SpoolReserve::create(m_folder, fd);
    if (id.empty()) {
        CEventLog().LogEvent(1, "Unable to create a spool file in %s", m_folder.c_str());
        return false;
    }
    m_scratchId = id;
    path = scratchPath();
    file = std::move(fd);
    return true;
}

bool CollectionSpools::finish(int file)
{
    const off_t written = ::lseek(file, 0, SEEK_CUR);
    return written >= 0 && ::ftruncate(file, written) == 0;
}

std::string CollectionSpools::keep(bool header)
{
    if (m_scratchId.empty())
        return {};
    std::string text;
    std::string field;
    if (header && readSmallFile(scratchPath(), SpoolField::kMaxSlice, text) &&
        appendToPack(CMessage::wholeText(text), field))
        return field;
    // The file becomes the message's own spool; from now on the next
    // scratch files are made ahead.
    field = m_scratchId;
    m_scratchId.clear();
    if (!m_reserve && m_left > 0)
        m_reserve = std::make_unique<SpoolReserve>(m_folder, m_left);
    return field;
}

bool CollectionSpools::appendToPack(const std::string& text, std::string& field)
{
    if (static_cast<long>(text.size()) > SpoolField::kMaxSlice)
        return false;
    if (!m_pack) {
        m_packId = createFreshFile(m_folder, SpoolField::packFileName, m_pack);
        if (m_packId.empty()) {
            CEventLog().LogEvent(1, "Unable to create a spool file in %s", m_folder.c_str());
            return false;
        }
        m_packPath = m_folder + "/" + SpoolField::packFileName(m_packId);
        m_packSize = 0;
    }
    if (!writeFully(m_pack.get(), text.data(), text.size())) {
        CEventLog().LogEvent(1, "Unable to write %s", m_packPath.c_str());
        // What part of it was written goes: the next text starts where
        // this one should have.
        if (::ftruncate(m_pack.get(), m_packSize) != 0 || ::lseek(m_pack.get(), m_packSize, SEEK_SET) < 0)
            m_pack.reset();   // a new pack for the next
        return false;
    }
    field = SpoolField{m_packId, m_packSize, static_cast<long>(text.size())}.text();
    m_packSize += static_cast<long>(text.size());
    return true;
}
