#include "store/CollectionSpools.h"

#include "common/CEventLog.h"
#include "common/FileHead.h"
#include "store/CMessage.h"
#include "store/SpoolField.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

CollectionSpools::CollectionSpools(std::string folder) : m_folder(std::move(folder)) {}

CollectionSpools::~CollectionSpools()
{
    if (!m_scratchId.empty())
        ::unlink(scratchPath().c_str());
}

std::string CollectionSpools::scratchPath() const
{
    return m_folder + "/" + SpoolField::spoolFileName(m_scratchId);
}

bool CollectionSpools::attached()
{
    // The filter may have put a new file in its place (the virus scanner
    // renames its cleaned copy over it): that is the one to go on with.
    struct stat held {}, named {};
    if (::fstat(m_scratch.get(), &held) == 0 && ::stat(scratchPath().c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        return true;
    m_scratch.reset(::open(scratchPath().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (m_scratch)
        return true;
    CEventLog().LogEvent(1, "Unable to open %s", scratchPath().c_str());
    ::unlink(scratchPath().c_str());
    m_scratchId.clear();
    return false;
}

int CollectionSpools::scratch(std::string& path)
{
    if (!m_scratchId.empty() && !m_attached)
        attached();   // else a new one, below
    m_attached = false;
    if (m_scratchId.empty()) {
        m_scratchId = createFreshFile(m_folder, SpoolField::spoolFileName, m_scratch);
        if (m_scratchId.empty()) {
            CEventLog().LogEvent(1, "Unable to create a spool file in %s", m_folder.c_str());
            return -1;
        }
    }
    // Not emptied here but cut to what was written (finish): on ext4 a file
    // emptied by truncation is flushed to disk when it is closed.
    if (::lseek(m_scratch.get(), 0, SEEK_SET) != 0)
        return -1;
    path = scratchPath();
    return m_scratch.get();
}

bool CollectionSpools::finish(int file)
{
    // A file already as long as what was written is left alone: a cut
    // costs the file system far more than the look.
    const off_t written = ::lseek(file, 0, SEEK_CUR);
    struct stat status {};
    if (written < 0 || ::fstat(file, &status) != 0)
        return false;
    return status.st_size == written || ::ftruncate(file, written) == 0;
}

std::string CollectionSpools::keep()
{
    if (m_scratchId.empty() || !attached())
        return {};
    m_attached = true;   // nothing renames it before the next message
    std::string text;
    std::string field;
    if (readWholeFile(m_scratch.get(), SpoolField::kMaxSlice, text) && appendToPack(CMessage::wholeText(text), field))
        return field;
    // The file becomes the message's own spool; the next message gets a
    // new scratch file.
    field = m_scratchId;
    m_scratchId.clear();
    m_scratch.reset();
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
