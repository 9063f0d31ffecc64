#include "proxy/MainWindowLink.h"

#include <atomic>

namespace {

std::atomic<MainWindowLink*> installed{nullptr};

} // namespace

void setMainWindowLink(MainWindowLink* link)
{
    installed.store(link);
}

MainWindowLink* mainWindowLink()
{
    return installed.load();
}
