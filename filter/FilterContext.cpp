#include "filter/FilterContext.h"

#include "common/CWorkerThread.h"
#include "common/ProgramContext.h"
#include "common/StopToken.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

std::mutex liveMutex;
std::condition_variable liveChanged;
int live = 0;

} // namespace

FilterContext::FilterContext()
{
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        ++live;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/state/session%08x.log",
                  static_cast<unsigned>(CWorkerThread::currentThread()));
    reportPath = programContext().dataRoot + name;
    // Private to the user: the report quotes the messages' headers.
    const int fd = ::open(reportPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0 && (m_reportFile = ::fdopen(fd, "wb")) == nullptr)
        ::close(fd);
}

FilterContext::~FilterContext()
{
    closeReport();
    ::unlink(reportPath.c_str());
    std::lock_guard<std::mutex> lock(liveMutex);
    --live;
    liveChanged.notify_all();
}

void FilterContext::writeReportEntry(const std::string& text)
{
    if (m_reportFile && std::fwrite(text.data(), 1, text.size(), m_reportFile) == text.size())
        reportWritten = true;
}

void FilterContext::closeReport()
{
    if (m_reportFile)
        std::fclose(m_reportFile);
    m_reportFile = nullptr;
}

int FilterContext::liveCount()
{
    std::lock_guard<std::mutex> lock(liveMutex);
    return live;
}

bool initialiseFilter()
{
    std::unique_lock<std::mutex> lock(liveMutex);
    while (live > 0) {
        // In slices, so that a stop request ends the wait.
        liveChanged.wait_for(lock, std::chrono::milliseconds(StopToken::kSliceMs));
        if (StopToken::requested())
            return false;
    }
    return true;
}
