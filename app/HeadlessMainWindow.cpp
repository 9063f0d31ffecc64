#include "app/HeadlessMainWindow.h"

#include "app/AppEvents.h"
#include "common/CEventLog.h"
#include "proxy/CAcceptor.h"

#include <chrono>
#include <cstdio>
#include <thread>

HeadlessMainWindow::HeadlessMainWindow(CVEvent& instanceEvent, CVEvent& applicationStop,
                                       const std::atomic<bool>& signalled)
    : m_instanceEvent(instanceEvent), m_applicationStop(applicationStop), m_signalled(signalled)
{
    bool existed = false;
    m_stopRequest = CVEvent::create(appevents::kStopRequest, CVEvent::Reset::Auto, existed);
    if (!m_stopRequest || existed)
        CEventLog().LogEvent(1, "Unable to create the stop request event");
}

void HeadlessMainWindow::run()
{
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
        if (!tick())
            return;
    }
}

bool HeadlessMainWindow::tick()
{
    if (m_signalled.load()) {
        CEventLog().LogEvent(4, "Stop signal received");
        return false;
    }
    if (m_stopRequest && m_stopRequest->isCreator() && m_stopRequest->test()) {
        CEventLog().LogEvent(4, "Stop request received");
        return false;
    }
    // Without a display no settings window is ever open, so the application
    // stop event takes effect at once.
    if (m_applicationStop.test()) {
        CEventLog().LogEvent(4, "Application stop event set");
        return false;
    }
    if (m_instanceEvent.test())
        CEventLog().LogEvent(4, "Another start asked for the settings window; there is no display");
    if (!m_listenerStarted) {
        m_listenerStarted = true;
        try {
            new CAcceptor();   // owns itself: ends and deletes itself
        } catch (...) {
            CEventLog().LogEvent(1, "Unable to start the listener thread");
        }
    }
    return true;
}

void HeadlessMainWindow::sessionStarted()
{
    ++m_activeSessions;
}

void HeadlessMainWindow::sessionEnded()
{
    if (m_activeSessions > 0)
        --m_activeSessions;
}

void HeadlessMainWindow::listenerReady(int port)
{
    std::printf("Quillfence Pro is listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);
}

void HeadlessMainWindow::listenerFailed(const std::string& text)
{
    std::fprintf(stderr, "Quillfence Error: %s\n", text.c_str());
}

void HeadlessMainWindow::statusText(const std::string&) {}
