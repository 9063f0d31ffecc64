#include "store/SpoolReserve.h"

#include "store/SpoolField.h"

#include "common/CEventLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

std::string SpoolReserve::create(const std::string& folder, UniqueFd& file)
{
    return createFreshFile(folder, SpoolField::spoolFileName, file);
}

SpoolReserve::SpoolReserve(std::string folder, size_t count) : m_folder(std::move(folder))
{
    m_maker = std::thread([this, count] { make(count); });
}

SpoolReserve::~SpoolReserve()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_maker.join();
    for (auto& [id, fd] : m_ready) {
        fd.reset();
        ::unlink((m_folder + "/" + SpoolField::spoolFileName(id)).c_str());
    }
}

void SpoolReserve::make(size_t count)
{
    for (size_t made = 0; made < count; ++made) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopping || m_ready.size() < kAhead; });
            if (m_stopping)
                break;
        }
        UniqueFd fd;
        std::string id;
        try {
            id = create(m_folder, fd);
        } catch (...) {
            DebugX(__FILE__, __LINE__);
        }
        if (id.empty())
            break;   // the session makes its own, and reports the failure
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ready.emplace_back(std::move(id), std::move(fd));
        }
        m_changed.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();
}

std::string SpoolReserve::take(UniqueFd& file)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_done || !m_ready.empty(); });
    if (m_ready.empty())
        return {};
    auto [id, fd] = std::move(m_ready.front());
    m_ready.pop_front();
    lock.unlock();
    m_changed.notify_all();
    file = std::move(fd);
    return id;
}
